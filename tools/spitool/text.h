// Parsing and formatting shared by spitool's commands: numbers, word files
// (binary and hex text) and the hex dump.
#pragma once

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

// Chip address space: 16-bit word addresses.
constexpr uint32_t ADDRESS_SPACE = 0x10000;

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

// Calls visit(line, line_number) for each line of text (numbered from 1),
// with any "#" comment already cut off.
void for_each_line(const std::string &text, const std::function<void(std::string &, size_t)> &visit);

// "0x1234".
std::string hex16(uint32_t v);

// Hex dump lines "AAAA: WWWW WWWW ...", eight words to a line, addresses
// counted from address. This is also the hex text file format.
std::string hex_dump(uint32_t address, const uint16_t *words, size_t count);

enum class FileFormat { Binary, Hex };

// Format for a word file: the one named ("bin" or "hex") or, when name is
// empty, by the file's extension (.hex and .txt are hex text, anything else
// binary). Throws UsageError for an unknown name.
FileFormat file_format(const std::string &path, const std::string &name);

// Parses a hex text word file. Lines hold hex words of one to four digits
// (optionally 0x-prefixed), optionally after an address label "AAAA:";
// "#" starts a comment. Labels must run on without gaps: each equals the
// first label's address plus the words before it since then. Throws
// UsageError naming source and line.
std::vector<uint16_t> parse_hex_words(const std::string &text, const std::string &source);

// Parses little-endian 16-bit words; an odd byte count is a UsageError.
std::vector<uint16_t> parse_binary_words(const std::string &bytes, const std::string &source);

// Whole-file helpers. read_file throws UsageError when the file cannot be
// read (a missing input file is a bad argument); write_file throws Failure.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

// The words of a file, in the given format.
std::vector<uint16_t> read_word_file(const std::string &path, FileFormat format);
// Writes words as a word file; hex text files carry the address labels of
// address onwards.
void write_word_file(const std::string &path, FileFormat format, uint32_t address,
                     const std::vector<uint16_t> &words);

} // namespace spitool
