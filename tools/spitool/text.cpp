// SPDX-License-Identifier: MIT
#include "text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace spitool {

bool parse_unsigned(const std::string &text, uint32_t max, uint32_t *value)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *last = text.data() + text.size();
    // No sign, no spaces: from_chars takes neither.
    const auto [end, error] = std::from_chars(text.data() + (hex ? 2 : 0), last, *value, hex ? 16 : 10);
    return error == std::errc() && end == last && *value <= max;
}

bool parse_signed(const std::string &text, int32_t min, int32_t max, int32_t *value)
{
    const bool negative = !text.empty() && text[0] == '-';
    uint32_t magnitude = 0;
    if (!parse_unsigned(text.substr(negative), UINT32_MAX, &magnitude))
        return false;
    const int64_t v = negative ? -int64_t{magnitude} : int64_t{magnitude};
    *value = static_cast<int32_t>(v);
    return v >= min && v <= max;
}

bool parse_real(const std::string &text, double *value)
{
    // Only plain decimal forms: no spaces, hex floats, infinities or NaNs.
    const bool plus = text.size() > 1 && text[0] == '+' && text[1] != '-';
    const char *last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data() + plus, last, *value);
    return error == std::errc() && end == last && std::isfinite(*value);
}

uint32_t need_unsigned(const std::string &text, uint32_t max, const char *what)
{
    uint32_t v;
    if (!parse_unsigned(text, UINT32_MAX, &v))
        throw UsageError(std::string("bad ") + what + " '" + text + "': not a number");
    if (v > max) // 16-bit limits in hex, as addresses and words are written
        throw UsageError(strprintf(max == 0xFFFF ? "%s %s out of range (0 to 0x%X)"
                                                 : "%s %s out of range (0 to %u)", what, text.c_str(), max));
    return v;
}

void need_fits(uint32_t address, uint32_t count)
{
    if (uint64_t{address} + count > ADDRESS_SPACE)
        throw UsageError(strprintf("count %u out of range: %u words from 0x%04X run past 0xFFFF", count, count,
                                address));
}

std::vector<std::string> split_fields(const std::string &line, const char *separators,
                                      std::vector<size_t> *starts)
{
    std::vector<std::string> out;
    size_t i = line.find_first_not_of(separators);
    while (i != std::string::npos) {
        const size_t j = line.find_first_of(separators, i); // npos: the field ends the line
        out.push_back(line.substr(i, j - i));
        if (starts != nullptr)
            starts->push_back(i);
        i = line.find_first_not_of(separators, j);
    }
    return out;
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string strprintf(const char *fmt, ...)
{
    va_list args, again;
    va_start(args, fmt);
    va_copy(again, args);
    std::string s(static_cast<size_t>(std::vsnprintf(nullptr, 0, fmt, args)), '\0');
    std::vsnprintf(s.data(), s.size() + 1, fmt, again);
    va_end(again);
    va_end(args);
    return s;
}

std::string hex16(uint32_t v) { return strprintf("0x%04X", v); }

std::string printable(const std::string &text)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    // 0x80 to 0x9F: a C1 control alone or after 0xC2, part of a UTF-8 character after other bytes from 0x80.
    auto c1 = [&](size_t k) {
        return byte(k) >= 0x80 && byte(k) < 0xA0 && (!k || byte(k - 1) < 0x80 || byte(k - 1) == 0xC2);
    };
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        const bool control =
            byte(i) < 0x20 || byte(i) == 0x7F || c1(i) || (byte(i) == 0xC2 && i + 1 < text.size() && c1(i + 1));
        out += control ? strprintf("\\x%02X", byte(i)) : text.substr(i, 1);
    }
    return out;
}

void report(const std::string &message) { std::fprintf(stderr, "spitool: %s\n", printable(message).c_str()); }

std::string hex_dump(uint32_t address, const uint16_t *words, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; i++) {
        if (i % 8 == 0)
            out += strprintf(i ? "\n%04X:" : "%04X:", static_cast<unsigned>(address + i));
        out += strprintf(" %04X", words[i]);
    }
    return count ? out + "\n" : out;
}

} // namespace spitool
