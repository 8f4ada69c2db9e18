// SPDX-License-Identifier: MIT
// spitool's commands: one table row each, with its help texts, its argument
// count and the function that runs it.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "options.h"
#include "session.h"
#include "spilib.h"

namespace spitool {

struct Command {
    const char *name;
    const char *usage;   // arguments after the command name
    const char *summary; // one line
    const char *details; // shown by COMMAND --help
    size_t min_args;
    size_t max_args;
    bool uses_link; // selects the port before it runs
    // Runs the command on an open session; returns the exit status or throws
    // UsageError / Failure.
    int (*run)(Session &, SpiLib &, const Options &);
    // Opens the port device itself: the session never selects the port,
    // which opens exclusively.
    bool owns_port = false;
};

std::span<const Command> commands();
const Command *find_command(const std::string &name);

// "spitool [OPTIONS] NAME ARGS".
std::string usage_of(const Command &c);

} // namespace spitool
