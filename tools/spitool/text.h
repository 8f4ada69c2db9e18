// SPDX-License-Identifier: MIT
// Numbers, hex text and lines, shared by spitool's commands, scripts and word files.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"

namespace spitool {

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
inline uint16_t need_address(const std::string &t) { return uint16_t(need_unsigned(t, 0xFFFF, "address")); }
inline uint16_t need_word(const std::string &t) { return uint16_t(need_unsigned(t, 0xFFFF, "word")); }
// Checks that count words starting at address stay inside the address space.
void need_fits(uint32_t address, uint32_t count);

// The fields of line between runs of the separator characters; with
// starts, also where each field starts.
std::vector<std::string> split_fields(const std::string &line, const char *separators,
                                      std::vector<size_t> *starts = nullptr);
std::string lower(std::string s);
// printf into a string.
std::string strprintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// "0x1234".
std::string hex16(uint32_t v);
// text with the bytes a terminal would obey shown as \xHH: the C0 controls,
// DEL and the C1 controls (alone, or as UTF-8 0xC2 0x80 to 0xC2 0x9F).
std::string printable(const std::string &text);
// Prints "spitool: message" on standard error, printable.
void report(const std::string &message);
// Hex dump lines "AAAA: WWWW WWWW ...", eight words to a line, addresses
// counted from address. This is also the hex text word file format.
std::string hex_dump(uint32_t address, const uint16_t *words, size_t count);

// The lines of a text, each without its "\n", counted from 1, for parsers
// whose errors name the source and the line.
class Lines {
public:
    Lines(const std::string &text, const std::string &source) : text_(text), source_(source) {}
    // The next line; false at the end of the text.
    bool next(std::string *line)
    {
        if (pos_ >= text_.size())
            return false;
        const size_t end = std::min(text_.find('\n', pos_), text_.size());
        line->assign(text_, pos_, end - pos_);
        pos_ = end + 1;
        number_++;
        return true;
    }
    size_t number() const { return number_; }
    // Throws UsageError "<source>:<line>: what" for the line next() gave last.
    [[noreturn]] void fail(const std::string &what) const
    {
        throw UsageError(source_ + ":" + std::to_string(number_) + ": " + what);
    }

private:
    const std::string &text_, &source_;
    size_t pos_ = 0, number_ = 0;
};

} // namespace spitool
