// SPDX-License-Identifier: MIT
// spitool scripts: reads, writes and settings, run in order.
//
// One statement a line; "#" starts a comment; blank lines are ignored:
//   set NAME VALUE      set a library variable (VALUE: rest of the line)
//   read ADDR [COUNT]   read COUNT words (default 1) from ADDR
//   write ADDR WORD...  write the words from ADDR upward
// Numbers are decimal or 0x-hexadecimal.
//
// A script is read twice: once to check every line, so that a bad line
// stops it before anything runs, and once to run it statement by
// statement. Only one statement is held at a time, so memory stays bounded
// by the largest statement whatever the script's length; a script from a
// pipe is copied to a temporary file for the second reading.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "spifns.h"
#include "text.h"

namespace spitool {

struct Statement {
    enum Kind { Set, Read, Write } kind;
    size_t line;          // line number in the script, from 1
    std::string name;     // Set: the variable name
    std::string value;    // Set: the value text
    uint16_t address = 0; // Read, Write
    uint32_t count = 0;   // Read: words to read; Write: words.size()
    std::vector<uint16_t> words; // Write: the words; Read: the buffer

    // The statement as one sequence record; a read's buffer is sized here.
    // The record points into the statement.
    seq_record record();
    // "read 0x0030 2", "write 0x0031 1", "set SPIPORT 9": for messages.
    std::string summary() const;
};

// The longest line a script may hold.
constexpr size_t SCRIPT_MAX_LINE = 1u << 20;

// Parses one line (comment already removed). Returns false for a blank
// line. Throws UsageError "SOURCE:LINE: what". known_variable tells whether
// a name is one of the library's variables.
bool parse_statement(const std::string &line, size_t line_no, const std::string &source,
                     const std::function<bool(const std::string &)> &known_variable, Statement *out);

struct ScriptHooks {
    std::function<bool(const std::string &)> known_variable;
    // Runs one statement's record; returns an empty text on success, else
    // what went wrong.
    std::function<std::string(const Statement &, const seq_record &)> run;
};

// Checks and then runs the script at path ("-": standard input). The data
// of each read is printed on standard output as soon as it arrives; each
// failed statement is reported on standard error with its own line number.
// Returns the number of statements that failed. Throws UsageError for a bad
// script, before any statement runs, and for one from a pipe or device of
// more than pipe_limit bytes (such a script is copied to a temporary file
// for its second reading).
size_t run_script(const std::string &path, const ScriptHooks &hooks, size_t *statements = nullptr,
                  size_t pipe_limit = TEXT_LIMIT);

} // namespace spitool
