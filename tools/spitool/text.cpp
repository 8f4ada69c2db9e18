// SPDX-License-Identifier: MIT
#include "text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fileio.h"
#include "ihex.h"

namespace spitool {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

namespace {

// Digits only, no sign, no spaces: decimal or 0x-hex, up to 2^32 - 1.
bool parse_magnitude(const std::string &t, uint64_t *value)
{
    size_t i = 0;
    unsigned base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= t.size())
        return false;
    uint64_t v = 0;
    for (; i < t.size(); i++) {
        int d = base == 16 ? hex_digit(t[i]) : (t[i] >= '0' && t[i] <= '9' ? t[i] - '0' : -1);
        if (d < 0)
            return false;
        v = v * base + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull)
            return false;
    }
    *value = v;
    return true;
}

// One to four hex digits, the whole text.
bool parse_hex16(const std::string &digits, uint32_t *value)
{
    if (digits.empty() || digits.size() > 4)
        return false;
    uint32_t v = 0;
    for (char c : digits) {
        const int d = hex_digit(c);
        if (d < 0)
            return false;
        v = v * 16 + static_cast<uint32_t>(d);
    }
    *value = v;
    return true;
}

std::string trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

} // namespace

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

bool parse_unsigned(const std::string &text, uint32_t max, uint32_t *value)
{
    uint64_t v;
    if (!parse_magnitude(text, &v) || v > max)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool parse_signed(const std::string &text, int32_t min, int32_t max, int32_t *value)
{
    bool negative = !text.empty() && text[0] == '-';
    uint64_t v;
    if (!parse_magnitude(negative ? text.substr(1) : text, &v))
        return false;
    int64_t s = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    if (s < min || s > max)
        return false;
    *value = static_cast<int32_t>(s);
    return true;
}

bool parse_real(const std::string &text, double *value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    // Only plain decimal forms: no hex floats, infinities or NaNs.
    for (char c : text)
        if (!std::strchr("0123456789+-.eE", c))
            return false;
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

namespace {

// A number from 0 to max; max_text spells max in the range message.
uint32_t need_at_most(const std::string &text, uint32_t max, const std::string &max_text,
                      const char *what)
{
    uint32_t v;
    if (!parse_unsigned(text, 0xFFFFFFFFu, &v))
        throw UsageError(std::string("bad ") + what + " '" + text + "': not a number");
    if (v > max)
        throw UsageError(std::string(what) + " " + text + " out of range (0 to " + max_text + ")");
    return v;
}

} // namespace

uint32_t need_unsigned(const std::string &text, uint32_t max, const char *what)
{
    return need_at_most(text, max, std::to_string(max), what);
}

uint16_t need_address(const std::string &text)
{
    return static_cast<uint16_t>(need_at_most(text, ADDRESS_SPACE - 1, "0xFFFF", "address"));
}

uint16_t need_word(const std::string &text)
{
    return static_cast<uint16_t>(need_at_most(text, 0xFFFF, "0xFFFF", "word"));
}

void need_fits(uint32_t address, uint32_t count)
{
    if (static_cast<uint64_t>(address) + count > ADDRESS_SPACE)
        throw UsageError("count " + std::to_string(count) + " out of range: " +
                         std::to_string(count) + " words from " + hex16(address) +
                         " run past 0xFFFF");
}

std::string hex16(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%04X", v);
    return buf;
}

std::string hex_dump(uint32_t address, const uint16_t *words, size_t count)
{
    std::string out;
    char buf[16];
    for (size_t i = 0; i < count; i++) {
        if (i % 8 == 0) {
            if (i)
                out += '\n';
            std::snprintf(buf, sizeof(buf), "%04X:", static_cast<unsigned>(address + i));
            out += buf;
        }
        std::snprintf(buf, sizeof(buf), " %04X", words[i]);
        out += buf;
    }
    if (count)
        out += '\n';
    return out;
}

namespace {

std::string extension(const std::string &path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = path.substr(dot + 1);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool is_text(const std::string &bytes)
{
    for (char c : bytes) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 ? !(u == '\t' || u == '\r' || u == '\n') : u > 0x7E)
            return false;
    }
    return true;
}

constexpr size_t BINARY_LIMIT = ADDRESS_SPACE * 2;
constexpr size_t TEXT_MAX_LINE = 1u << 20;

} // namespace

FileFormat format_named(const std::string &name)
{
    if (name == "bin")
        return FileFormat::Binary;
    if (name == "text" || name == "hex")
        return FileFormat::Text;
    if (name == "ihex")
        return FileFormat::IntelHex;
    throw UsageError("bad format '" + name + "' (bin, text or ihex)");
}

FileFormat file_format(const std::string &path, const std::string &name)
{
    if (!name.empty())
        return format_named(name);
    if (is_stdio(path))
        return FileFormat::Text;
    std::string ext = extension(path);
    if (ext == "hex" || ext == "ihx" || ext == "ihex")
        return FileFormat::IntelHex;
    return ext == "txt" ? FileFormat::Text : FileFormat::Binary;
}

std::vector<uint16_t> parse_hex_words(const std::function<bool(std::string *)> &next,
                                      const std::string &source)
{
    std::vector<uint16_t> words;
    bool have_base = false;
    uint64_t base = 0; // chip address of words[0], from the first label
    SourceLines in(next, source);
    std::string line;
    while (in.next(&line)) {
        line = trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string label = trim(line.substr(0, colon));
            line = line.substr(colon + 1);
            uint32_t at = 0;
            if (!parse_hex16(label, &at))
                in.fail("bad address label '" + label + "'");
            if (!have_base) {
                if (at < words.size())
                    in.fail("address label " + hex16(static_cast<uint32_t>(at)) +
                         " lies before the words above it");
                base = at - words.size();
                have_base = true;
            } else if (at != base + words.size()) {
                in.fail("address label " + hex16(static_cast<uint32_t>(at)) + " out of order (expected " +
                     hex16(static_cast<uint32_t>(base + words.size())) + ")");
            }
        }
        for (const std::string &tok : split_fields(line, " \t")) {
            std::string digits = tok;
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
                digits = digits.substr(2);
            uint32_t v = 0;
            if (!parse_hex16(digits, &v))
                in.fail("bad hex word '" + tok + "'");
            if (words.size() >= ADDRESS_SPACE)
                in.fail("more than 65536 words");
            words.push_back(static_cast<uint16_t>(v));
        }
    }
    return words;
}

std::vector<uint16_t> parse_binary_words(const std::string &bytes, const std::string &source)
{
    if (bytes.size() % 2)
        throw UsageError(source + ": odd number of bytes (" + std::to_string(bytes.size()) +
                         "); a binary word file holds 16-bit little-endian words");
    std::vector<uint16_t> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); i++)
        words[i] = static_cast<uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return words;
}

std::vector<uint16_t> read_word_file(const std::string &path, const std::string &name)
{
    InputFile in;
    in.open(path);
    auto refuse = [&](const std::string &size, size_t limit) {
        throw UsageError(in.name() + " is too large for a word file (" + size + "; at most " +
                         std::to_string(limit) + " bytes in this format)");
    };
    if (in.size() > static_cast<long long>(TEXT_LIMIT))
        refuse(std::to_string(in.size()) + " bytes", TEXT_LIMIT);
    std::string data;
    FileFormat format;
    if (!name.empty()) {
        format = format_named(name);
    } else {
        in.read_upto(&data, 4095); // enough for the first record of any format
        std::string ext = extension(path);
        if (looks_like_ihex(data) || ext == "ihx" || ext == "ihex")
            format = FileFormat::IntelHex;
        else if (is_stdio(path))
            format = is_text(data) ? FileFormat::Text : FileFormat::Binary;
        else
            format = ext == "hex" || ext == "txt" ? FileFormat::Text : FileFormat::Binary;
    }
    if (format == FileFormat::Binary) {
        if (in.size() > static_cast<long long>(BINARY_LIMIT))
            refuse(std::to_string(in.size()) + " bytes", BINARY_LIMIT);
        if (!in.read_upto(&data, BINARY_LIMIT))
            refuse("more than " + std::to_string(BINARY_LIMIT) + " bytes", BINARY_LIMIT);
        return parse_binary_words(data, in.name());
    }
    // Text is parsed as it is read, so reading stops at the first word
    // past the address space.
    LineReader lines(in.stream(), in.name(), TEXT_MAX_LINE, TEXT_LIMIT, data);
    auto next = [&](std::string *line) { return lines.next(line); };
    return format == FileFormat::Text ? parse_hex_words(next, in.name()) : parse_ihex(next, in.name());
}

std::string binary_words(const uint16_t *words, size_t count)
{
    std::string bytes(count * 2, '\0');
    for (size_t i = 0; i < count; i++) {
        bytes[2 * i] = static_cast<char>(words[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(words[i] >> 8);
    }
    return bytes;
}

void write_word_file(const std::string &path, FileFormat format, uint32_t address,
                     const std::vector<uint16_t> &words)
{
    switch (format) {
    case FileFormat::Binary:
        write_output(path, binary_words(words.data(), words.size()));
        break;
    case FileFormat::Text:
        write_output(path, hex_dump(address, words.data(), words.size()));
        break;
    case FileFormat::IntelHex:
        write_output(path, format_ihex(address, words.data(), words.size()));
        break;
    }
}

} // namespace spitool
