// SPDX-License-Identifier: MIT
#include "ihex.h"

#include <algorithm>
#include <cstdio>

#include "text.h"

namespace spitool {

namespace {

constexpr size_t MAX_BYTES = ADDRESS_SPACE * 2;

struct Record {
    uint8_t type = 0;
    uint16_t offset = 0;
    std::vector<uint8_t> data;
};

// Decodes one record line (trailing white space allowed). Returns an empty
// text on success, else what is wrong. check_sum: the checksum too.
std::string decode(const std::string &line, Record *r, bool check_sum = true)
{
    size_t end = line.find_last_not_of(" \t\r");
    if (end == std::string::npos || line[0] != ':')
        return "not an Intel HEX record (no ':' at the start)";
    size_t digits = end; // characters after ':'
    if (digits < 10 || digits % 2)
        return "record of bad length";
    std::vector<uint8_t> bytes(digits / 2);
    for (size_t i = 0; i < bytes.size(); i++) {
        int hi = hex_digit(line[1 + 2 * i]), lo = hex_digit(line[2 + 2 * i]);
        if (hi < 0 || lo < 0)
            return "bad hex digit in record";
        bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    if (bytes[0] + 5u != bytes.size())
        return "record length " + std::to_string(bytes[0]) + " does not match its " +
               std::to_string(bytes.size() - 5) + " data bytes";
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    if ((sum & 0xFF) && check_sum) {
        char buf[80];
        unsigned want = (0x100 - ((sum - bytes.back()) & 0xFF)) & 0xFF;
        std::snprintf(buf, sizeof(buf), "checksum 0x%02X, expected 0x%02X", bytes.back(), want);
        return buf;
    }
    r->offset = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    r->type = bytes[3];
    r->data.assign(bytes.begin() + 4, bytes.end() - 1);
    return "";
}

std::string hex_address(uint64_t a)
{
    char buf[24];
    std::snprintf(buf, sizeof(buf), "0x%llX", static_cast<unsigned long long>(a));
    return buf;
}

struct Segment {
    uint64_t address; // byte address of data[0]
    std::vector<uint8_t> data;
    size_t line;
};

void append_record(std::string &out, uint8_t type, uint16_t offset, const uint8_t *data, size_t n)
{
    char buf[16];
    unsigned sum = static_cast<unsigned>(n) + (offset >> 8) + (offset & 0xFF) + type;
    std::snprintf(buf, sizeof(buf), ":%02X%04X%02X", static_cast<unsigned>(n), offset, type);
    out += buf;
    for (size_t i = 0; i < n; i++) {
        std::snprintf(buf, sizeof(buf), "%02X", data[i]);
        out += buf;
        sum += data[i];
    }
    std::snprintf(buf, sizeof(buf), "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out += buf;
}

} // namespace

bool looks_like_ihex(const std::string &text)
{
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos || text[b] != ':')
        return false;
    size_t e = text.find('\n', b);
    Record r;
    // A record with a wrong checksum still shows the format, to be refused
    // as Intel HEX with its line number.
    return decode(text.substr(b, e == std::string::npos ? std::string::npos : e - b), &r, false).empty();
}

std::vector<uint16_t> parse_ihex(const std::function<bool(std::string *)> &next, const std::string &source,
                                 uint32_t *first_word)
{
    std::vector<Segment> segments;
    size_t total = 0;
    uint64_t base = 0;
    bool ended = false;
    SourceLines in(next, source);
    std::string line;
    while (in.next(&line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        if (ended)
            in.fail("data after the end-of-file record");
        Record r;
        std::string bad = decode(line, &r);
        if (!bad.empty())
            in.fail(bad);
        switch (r.type) {
        case 0x00: {
            total += r.data.size();
            if (total > MAX_BYTES)
                in.fail("more than 65536 words of data");
            // The offset wraps within its 64 KiB window: split there.
            size_t first = std::min<size_t>(r.data.size(), 0x10000u - r.offset);
            segments.push_back(
                {base + r.offset, {r.data.begin(), r.data.begin() + first}, in.line_no()});
            if (first < r.data.size())
                segments.push_back({base, {r.data.begin() + first, r.data.end()}, in.line_no()});
            break;
        }
        case 0x01:
            ended = true;
            break;
        case 0x02:
        case 0x04:
            if (r.data.size() != 2)
                in.fail("address record with " + std::to_string(r.data.size()) + " data bytes, not 2");
            base = static_cast<uint64_t>(r.data[0] << 8 | r.data[1]) << (r.type == 0x02 ? 4 : 16);
            break;
        case 0x03:
        case 0x05:
            break; // a start address: nothing to load
        default:
            in.fail("unknown record type " + std::to_string(r.type));
        }
    }
    if (!ended)
        throw UsageError(source + ": no end-of-file record (:00000001FF); the file may be cut short");
    if (segments.empty())
        throw UsageError(source + ": no data records");

    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment &a, const Segment &b) { return a.address < b.address; });
    auto at_line = [&](const Segment &s) { return source + ":" + std::to_string(s.line) + ": "; };
    uint64_t start = segments.front().address;
    if (start % 2)
        throw UsageError(at_line(segments.front()) + "data starts at the odd byte address " +
                         hex_address(start) + "; words start at even addresses");
    if (start / 2 >= ADDRESS_SPACE)
        throw UsageError(at_line(segments.front()) + "byte address " + hex_address(start) +
                         " lies beyond the chip's 64 Ki words");
    std::vector<uint8_t> bytes;
    bytes.reserve(total);
    for (const Segment &s : segments) {
        uint64_t next = start + bytes.size();
        if (s.address < next)
            throw UsageError(at_line(s) + "byte address " + hex_address(s.address) + " is given twice");
        if (s.address > next)
            throw UsageError(at_line(s) + "gap in the data from byte address " + hex_address(next) +
                             " to " + hex_address(s.address) + "; load writes one run of words");
        bytes.insert(bytes.end(), s.data.begin(), s.data.end());
    }
    if (bytes.size() % 2)
        throw UsageError(source + ": the data ends half way through the word at byte address " +
                         hex_address(start + bytes.size() - 1));
    std::vector<uint16_t> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); i++)
        words[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (first_word)
        *first_word = static_cast<uint32_t>(start / 2);
    return words;
}

std::string format_ihex(uint32_t address, const uint16_t *words, size_t count)
{
    std::string out;
    uint32_t upper = 0;
    size_t i = 0;
    while (i < count) {
        uint32_t byte_address = (address + static_cast<uint32_t>(i)) * 2;
        if (byte_address >> 16 != upper) {
            upper = byte_address >> 16;
            uint8_t u[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
            append_record(out, 0x04, 0, u, 2);
        }
        // Eight words a record, never across a 64 KiB boundary.
        size_t n = std::min<size_t>({8, count - i, (0x10000 - (byte_address & 0xFFFF)) / 2});
        uint8_t data[16];
        for (size_t k = 0; k < n; k++) {
            data[2 * k] = static_cast<uint8_t>(words[i + k] & 0xFF);
            data[2 * k + 1] = static_cast<uint8_t>(words[i + k] >> 8);
        }
        append_record(out, 0x00, static_cast<uint16_t>(byte_address & 0xFFFF), data, 2 * n);
        i += n;
    }
    append_record(out, 0x01, 0, nullptr, 0);
    return out;
}

} // namespace spitool
