// spitool scripts: reads, writes and settings run as one spifns_sequence.
//
// One statement a line; "#" starts a comment; blank lines are ignored:
//   set NAME VALUE      set a library variable (VALUE: rest of the line)
//   read ADDR [COUNT]   read COUNT words (default 1) from ADDR
//   write ADDR WORD...  write the words from ADDR upward
// Numbers are decimal or 0x-hexadecimal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "spifns.h"

namespace spitool {

struct Statement {
    enum Kind { Set, Read, Write } kind;
    size_t line;          // line number in the script, from 1
    std::string name;     // Set: the variable name
    std::string value;    // Set: the value text
    uint16_t address = 0; // Read, Write
    uint32_t count = 0;   // Read: words to read; Write: words.size()
    std::vector<uint16_t> words; // Write: the words; Read: the buffer
};

// Parses a script. known_variable tells whether a name is one of the
// library's variables. Throws UsageError "SOURCE:LINE: what" on the first
// bad line.
std::vector<Statement> parse_script(const std::string &text, const std::string &source,
                                    const std::function<bool(const std::string &)> &known_variable);

// The sequence records of the statements. Read buffers are the statements'
// own word vectors, sized here, so the statements must outlive the records;
// Set records point into the statements' texts.
std::vector<seq_record> build_records(std::vector<Statement> &statements);

} // namespace spitool
