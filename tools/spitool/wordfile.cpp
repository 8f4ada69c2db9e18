// SPDX-License-Identifier: MIT
#include "wordfile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>

#include "fileio.h"
#include "text.h"

namespace spitool {

namespace {

constexpr size_t BINARY_LIMIT = ADDRESS_SPACE * 2;

// The format a file name's extension gives: .ihx and .ihex Intel HEX, .txt
// hex text, .hex Intel HEX to write and hex text to read (when the contents
// are not Intel HEX), anything else binary.
FileFormat by_extension(const std::string &path, bool reading)
{
    const std::string ext = lower(std::filesystem::path(path).extension().string());
    if (ext == ".ihx" || ext == ".ihex" || (ext == ".hex" && !reading))
        return FileFormat::IntelHex;
    return ext == ".txt" || ext == ".hex" ? FileFormat::Text : FileFormat::Binary;
}

// One to four hex digits, the whole text.
bool parse_hex16(const std::string &digits, uint32_t *value)
{
    return digits.size() <= 4 && parse_unsigned("0x" + digits, 0xFFFF, value);
}

std::vector<uint16_t> parse_hex_words(const std::string &text, const std::string &source)
{
    std::vector<uint16_t> words;
    std::optional<uint32_t> base; // chip address of words[0], from the first label
    Lines in(text, source);
    for (std::string line; in.next(&line);) {
        line = line.substr(0, line.find('#'));
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            const std::vector<std::string> label = split_fields(line.substr(0, colon), " \t");
            uint32_t at = 0;
            if (label.size() != 1 || !parse_hex16(label[0], &at))
                in.fail("bad address label '" + line.substr(0, colon) + "'");
            if (!base && at < words.size())
                in.fail("address label " + hex16(at) + " lies before the words above it");
            if (!base)
                base = at - static_cast<uint32_t>(words.size());
            else if (at != *base + words.size())
                in.fail("address label " + hex16(at) + " out of order (expected " +
                        hex16(*base + static_cast<uint32_t>(words.size())) + ")");
            line = line.substr(colon + 1);
        }
        for (const std::string &word : split_fields(line, " \t\r")) {
            const bool prefixed = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
            uint32_t v = 0;
            if (!parse_hex16(prefixed ? word.substr(2) : word, &v))
                in.fail("bad hex word '" + word + "'");
            if (words.size() >= ADDRESS_SPACE)
                in.fail("more than 65536 words");
            words.push_back(static_cast<uint16_t>(v));
        }
    }
    return words;
}

// ---------------------------------------------------------------- Intel HEX

// The data bytes of each record type but 00 (data): none in 01 (end of
// file), 2 in 02 and 04 (segment and linear address), 4 in 03 and 05 (start
// addresses); the offset of 02 to 05 is 0.
constexpr int RECORD_SIZE[6] = {-1, 0, 2, 4, 2, 4};

// Decodes the record line in gave last (trailing white space allowed) into
// its bytes: length, offset (2), type, data, checksum. Throws UsageError
// naming the line.
std::vector<uint8_t> decode(const Lines &in, const std::string &text)
{
    const std::string line = text.substr(0, text.find_last_not_of(" \t\r") + 1);
    if (line[0] != ':')
        in.fail("not an Intel HEX record (no ':' at the start)");
    if (line.size() < 11 || line.size() % 2 == 0)
        in.fail("record of bad length");
    std::vector<uint8_t> bytes((line.size() - 1) / 2);
    unsigned sum = 0;
    for (size_t i = 0; i < bytes.size(); i++) {
        const char *p = line.data() + 1 + 2 * i;
        if (std::from_chars(p, p + 2, bytes[i], 16).ptr != p + 2)
            in.fail("bad hex digit in record");
        sum += bytes[i];
    }
    const unsigned size = unsigned(bytes.size() - 5), type = bytes[3], offset = bytes[1] << 8 | bytes[2];
    if (bytes[0] != size)
        in.fail(strprintf("record length %u does not match its %u data bytes", bytes[0], size));
    if (sum & 0xFF)
        in.fail(strprintf("checksum 0x%02X, expected 0x%02X", bytes.back(),
                          (0x100 - ((sum - bytes.back()) & 0xFF)) & 0xFF));
    if (type > 5)
        in.fail(strprintf("unknown record type %02X", type));
    if (RECORD_SIZE[type] >= 0 && size != unsigned(RECORD_SIZE[type]))
        in.fail(strprintf("type %02X record with %u data bytes, not %d", type, size, RECORD_SIZE[type]));
    if (type >= 2 && offset)
        in.fail(strprintf("type %02X record with the offset 0x%04X, not 0", type, offset));
    return bytes;
}

std::vector<uint16_t> parse_ihex(const std::string &text, const std::string &source)
{
    std::map<uint64_t, std::pair<uint8_t, size_t>> bytes; // by byte address: the value and its line
    uint64_t base = 0;
    bool ended = false;
    auto address = [](uint64_t a) { return strprintf("0x%llX", static_cast<unsigned long long>(a)); };
    Lines in(text, source);
    for (std::string line; in.next(&line);) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        if (ended)
            in.fail("data after the end-of-file record");
        const std::vector<uint8_t> r = decode(in, line);
        if (r[3] == 0x00) {
            for (size_t i = 0; i < r[0]; i++) { // the offset wraps within its 64 KiB window
                const uint64_t at = base + (((r[1] << 8 | r[2]) + i) & 0xFFFF);
                if (!bytes.emplace(at, std::pair(r[4 + i], in.number())).second)
                    in.fail("byte address " + address(at) + " is given twice");
            }
            if (bytes.size() > BINARY_LIMIT)
                in.fail("more than 65536 words of data");
        } else if (r[3] == 0x02 || r[3] == 0x04) {
            base = static_cast<uint64_t>(r[4] << 8 | r[5]) << (r[3] == 0x02 ? 4 : 16);
        } else { // 03 and 05, start addresses, load nothing
            ended = r[3] == 0x01;
        }
    }
    if (!ended)
        throw UsageError(source + ": no end-of-file record (:00000001FF); the file may be cut short");
    if (bytes.empty())
        throw UsageError(source + ": no data records");
    const uint64_t start = bytes.begin()->first;
    auto fail = [&](size_t line, const std::string &what) {
        throw UsageError(source + ":" + std::to_string(line) + ": " + what);
    };
    if (start % 2)
        fail(bytes.begin()->second.second,
             "data starts at the odd byte address " + address(start) + "; words start at even addresses");
    if (start / 2 >= ADDRESS_SPACE)
        fail(bytes.begin()->second.second,
             "byte address " + address(start) + " lies beyond the chip's 64 Ki words");
    std::string data;
    for (const auto &[at, value] : bytes) {
        if (at != start + data.size())
            fail(value.second, "gap in the data from byte address " + address(start + data.size()) + " to " +
                                   address(at) + "; load writes one run of words");
        data += static_cast<char>(value.first);
    }
    if (data.size() % 2)
        throw UsageError(source + ": the data ends half way through the word at byte address " +
                         address(start + data.size() - 1));
    return parse_binary_words(data, source);
}

void append_record(std::string &out, uint8_t type, uint16_t offset, const std::string &data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    out += strprintf(":%02X%04X%02X", static_cast<unsigned>(data.size()), offset, type);
    for (const char c : data) {
        out += strprintf("%02X", static_cast<unsigned char>(c));
        sum += static_cast<unsigned char>(c);
    }
    out += strprintf("%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
}

// 16 bytes a record, extended linear address records where the upper
// address changes, and the end-of-file record.
std::string format_ihex(uint32_t address, const uint16_t *words, size_t count)
{
    std::string out;
    uint32_t upper = 0;
    for (size_t i = 0; i < count;) {
        const uint32_t byte_address = (address + static_cast<uint32_t>(i)) * 2;
        if (byte_address >> 16 != upper) {
            upper = byte_address >> 16;
            append_record(out, 0x04, 0, {static_cast<char>(upper >> 8), static_cast<char>(upper)});
        }
        // Eight words a record, never across a 64 KiB boundary.
        const size_t n = std::min<size_t>({8, count - i, (0x10000 - (byte_address & 0xFFFF)) / 2});
        append_record(out, 0x00, static_cast<uint16_t>(byte_address & 0xFFFF), binary_words(words + i, n));
        i += n;
    }
    append_record(out, 0x01, 0, "");
    return out;
}

} // namespace

std::vector<uint16_t> read_word_file(const std::string &path, std::optional<FileFormat> given)
{
    InputFile in(path);
    std::string data;
    std::optional<FileFormat> format = given;
    if (!format) {
        in.read(&data, 4095); // enough for the first record of any format
        const bool text = std::all_of(data.begin(), data.end(), [](unsigned char u) {
            return u < 0x20 ? u == '\t' || u == '\r' || u == '\n' : u <= 0x7E;
        });
        // A file that starts with ':' is Intel HEX: a damaged first record is refused as one.
        const size_t first = data.find_first_not_of(" \t\r\n");
        format = first != std::string::npos && data[first] == ':' ? FileFormat::IntelHex
                 : is_stdio(path) ? (text ? FileFormat::Text : FileFormat::Binary)
                                  : by_extension(path, true);
    }
    const bool binary = format == FileFormat::Binary;
    in.read(&data, binary ? BINARY_LIMIT : TEXT_LIMIT, "a word file");
    if (binary)
        return parse_binary_words(data, in.name());
    return format == FileFormat::Text ? parse_hex_words(data, in.name()) : parse_ihex(data, in.name());
}

void write_word_file(const std::string &path, std::optional<FileFormat> given, uint32_t address,
                     const std::vector<uint16_t> &words)
{
    const FileFormat f = given.value_or(is_stdio(path) ? FileFormat::Text : by_extension(path, false));
    write_output(path, f == FileFormat::Binary ? binary_words(words.data(), words.size())
                       : f == FileFormat::Text ? hex_dump(address, words.data(), words.size())
                                               : format_ihex(address, words.data(), words.size()));
}

std::string binary_words(const uint16_t *words, size_t count)
{
    std::string bytes;
    for (size_t i = 0; i < count; i++)
        bytes += {static_cast<char>(words[i] & 0xFF), static_cast<char>(words[i] >> 8)};
    return bytes;
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

} // namespace spitool
