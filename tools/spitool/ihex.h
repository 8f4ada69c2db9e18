// SPDX-License-Identifier: MIT
// Intel HEX word files, as linkers' object copiers and chip vendors' tools
// write them: byte addresses, each 16-bit word little-endian (low byte at
// the even address), as in the binary word format.
//
// Records read: 00 data, 01 end of file, 02 extended segment address, 04
// extended linear address; 03 and 05 (start addresses) carry no data and
// are passed over. Every record's length and checksum are checked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace spitool {

// Whether text starts like an Intel HEX file: its first line that is not
// blank is a well-formed record (its checksum aside).
bool looks_like_ihex(const std::string &text);

// The words of an Intel HEX file. The data must cover one run of whole
// words without gaps; *first_word receives the word address of its first
// byte. Throws UsageError "SOURCE:LINE: what".
// next gives the lines one at a time; parsing stops at the first byte past
// the address space.
std::vector<uint16_t> parse_ihex(const std::function<bool(std::string *)> &next, const std::string &source,
                                 uint32_t *first_word = nullptr);

// Intel HEX text of words at word address onwards: 16 bytes a record,
// extended linear address records where the upper address changes, and the
// end-of-file record.
std::string format_ihex(uint32_t address, const uint16_t *words, size_t count);

} // namespace spitool
