// SPDX-License-Identifier: MIT
// Parsing and formatting shared by spitool's commands: numbers, word files
// (binary and hex text) and the hex dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace spitool {

// A bad command line, script or input file: reported as one usage line,
// exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An operation that failed at run time (library, chip, file system):
// exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The lines of an input, counted from 1, for parsers whose errors name the
// source and the line.
class SourceLines {
public:
    SourceLines(const std::function<bool(std::string *)> &next, const std::string &source)
        : next_(next), source_(source) {}
    // The next line; false at the end of the input.
    bool next(std::string *line)
    {
        if (!next_(line))
            return false;
        line_no_++;
        return true;
    }
    size_t line_no() const { return line_no_; }
    // Throws UsageError "<source>:<line>: what" for the line next() gave last.
    [[noreturn]] void fail(const std::string &what) const
    {
        throw UsageError(source_ + ":" + std::to_string(line_no_) + ": " + what);
    }

private:
    const std::function<bool(std::string *)> &next_;
    const std::string &source_;
    size_t line_no_ = 0;
};

// Chip address space: 16-bit word addresses.
constexpr uint32_t ADDRESS_SPACE = 0x10000;

// The most text spitool takes from one input that is not a regular file
// (a word file, a script from a pipe), and the largest text word file.
constexpr size_t TEXT_LIMIT = 16u << 20;

// The row of a table of named rows (commands, options) whose name is name,
// nullptr when there is none.
template <typename Row, size_t N>
const Row *row_named(const Row (&table)[N], const std::string &name)
{
    for (const Row &r : table)
        if (name == r.name)
            return &r;
    return nullptr;
}

// The value of a hex digit, -1 for another character.
int hex_digit(char c);

// Unsigned number: decimal, or hexadecimal after 0x/0X. The whole text must
// be the number. Returns false when it is not a number or exceeds max.
bool parse_unsigned(const std::string &text, uint32_t max, uint32_t *value);

// Signed decimal or 0x-hexadecimal number within [min, max].
bool parse_signed(const std::string &text, int32_t min, int32_t max, int32_t *value);

// Decimal number with optional fraction and exponent, the whole text.
bool parse_real(const std::string &text, double *value);

// The same, throwing UsageError naming what was expected.
uint32_t need_unsigned(const std::string &text, uint32_t max, const char *what);
uint16_t need_address(const std::string &text);
uint16_t need_word(const std::string &text);

// Checks that count words starting at address stay inside the address space.
void need_fits(uint32_t address, uint32_t count);

// The fields of line between runs of the separator characters; with
// starts, also where each field starts.
std::vector<std::string> split_fields(const std::string &line, const char *separators,
                                      std::vector<size_t> *starts = nullptr);

// "0x1234".
std::string hex16(uint32_t v);

// Hex dump lines "AAAA: WWWW WWWW ...", eight words to a line, addresses
// counted from address. This is also the hex text file format.
std::string hex_dump(uint32_t address, const uint16_t *words, size_t count);

enum class FileFormat { Binary, Text, IntelHex };

// Format names on the command line: "bin", "text" (the hex dump text; "hex"
// is its older name) and "ihex" (Intel HEX). Throws UsageError for another.
FileFormat format_named(const std::string &name);

// Format for writing a word file: the one named or, when name is empty, by
// the extension: .hex, .ihx and .ihex Intel HEX, .txt text, anything else
// binary; "-" (standard output) text.
FileFormat file_format(const std::string &path, const std::string &name);

// Parses a hex text word file. Lines hold hex words of one to four digits
// (optionally 0x-prefixed), optionally after an address label "AAAA:";
// "#" starts a comment. Labels must run on without gaps: each equals the
// first label's address plus the words before it since then. Throws
// UsageError naming source and line.
// next gives the lines one at a time; parsing stops at the first word past
// the address space.
std::vector<uint16_t> parse_hex_words(const std::function<bool(std::string *)> &next,
                                      const std::string &source);

// Parses little-endian 16-bit words; an odd byte count is a UsageError.
std::vector<uint16_t> parse_binary_words(const std::string &bytes, const std::string &source);

// The words of a word file ("-": standard input) in the format named or,
// when name is empty, the one its contents show: Intel HEX when it starts
// with a valid record, else by the extension as for file_format, standard
// input as text when it holds only text characters. The input is refused
// by its size before it is read whole: binary files above 64 Ki words,
// text files above 16 MiB. Throws UsageError.
std::vector<uint16_t> read_word_file(const std::string &path, const std::string &name);

// Writes words as a word file; text and Intel HEX carry the addresses of
// address onwards. Written whole or not at all. Throws Failure.
void write_word_file(const std::string &path, FileFormat format, uint32_t address,
                     const std::vector<uint16_t> &words);

// Words as binary word file bytes.
std::string binary_words(const uint16_t *words, size_t count);

} // namespace spitool
