// SPDX-License-Identifier: MIT
// Word files for dump and load, in three formats:
// - binary: the words as 16-bit little-endian values, nothing else;
// - hex text, what read prints: hex words of one to four digits (optionally
//   0x-prefixed), optionally after an address label "AAAA:"; "#" starts a
//   comment. Labels are checked, not obeyed: each must equal the first
//   label's address plus the words before it since then;
// - Intel HEX, as object copiers and chip vendors' tools write it: byte
//   addresses, each word little-endian (low byte at the even address).
//   Records read: 00 data, 01 end of file, 02 extended segment address, 04
//   extended linear address; 03 and 05 (start addresses) are passed over.
//   Every record's length and checksum are checked, and the data must be
//   one run of whole words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tables.h"

namespace spitool {

// The words of a word file ("-": standard input) in the format given or,
// without one, the one its contents show: Intel HEX when it starts with a
// valid record, else by the extension (as for writing, but .hex is hex text,
// its older use), standard input as text when it holds only text
// characters. Refused by its size before it is read whole: binary above 64
// Ki words, text above TEXT_LIMIT. Throws UsageError naming source and line.
std::vector<uint16_t> read_word_file(const std::string &path, std::optional<FileFormat> given);

// Writes words as a word file in the format given or, without one, by the
// extension: .hex, .ihx and .ihex Intel HEX, .txt hex text, anything else
// binary; "-" (standard output) hex text. Text and Intel HEX carry the
// addresses from address on. Written whole or not at all. Throws Failure.
void write_word_file(const std::string &path, std::optional<FileFormat> given, uint32_t address,
                     const std::vector<uint16_t> &words);

// Words as little-endian bytes, and back: an odd byte count is a
// UsageError naming source.
std::string binary_words(const uint16_t *words, size_t count);
std::vector<uint16_t> parse_binary_words(const std::string &bytes, const std::string &source);

} // namespace spitool
