// SPDX-License-Identifier: MIT
// spitool scripts: reads, writes and settings, run in order.
//
// One statement a line; "#" starts a comment; blank lines are ignored:
//   set NAME VALUE      set a library variable (VALUE: rest of the line)
//   read ADDR [COUNT]   read COUNT words (default 1) from ADDR
//   write ADDR WORD...  write the words from ADDR upward
// Numbers are decimal or 0x-hexadecimal.
//
// A script is read once, whole (at most TEXT_LIMIT bytes), and then gone
// through twice: once to check every line, so that a bad line stops it
// before anything runs, and once to run it statement by statement, each
// statement's read buffer held only while it runs. What runs is exactly
// what was checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "errors.h"
#include "fileio.h"
#include "spifns.h"

namespace spitool {

struct ScriptHooks {
    // Checks a set statement's variable name and value; throws UsageError
    // saying what is wrong.
    std::function<void(const std::string &, const std::string &)> check_set;
    // Called when every line is checked, before the first statement runs,
    // with the number of data words the reads and writes move.
    std::function<void(uint64_t)> start;
    // Runs one statement's record; returns an empty text on success, else
    // what went wrong.
    std::function<std::string(const seq_record &)> run;
};

// Checks and then runs the script at path ("-": standard input). The data
// of each read is printed on standard output as soon as it arrives; each
// failed statement is reported on standard error with its own line number.
// Returns the number of statements that failed and sets *statements to the
// number run. Throws UsageError, before any statement runs, for a bad
// script and for one of more than limit bytes.
size_t run_script(const std::string &path, const ScriptHooks &hooks, size_t *statements,
                  size_t limit = TEXT_LIMIT);

} // namespace spitool
