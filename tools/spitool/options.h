// SPDX-License-Identifier: MIT
// spitool's command line: the options, parsed from one table that also
// gives --help its option list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if SPITOOL_HAVE_SIM
#include "simhost.h"
#endif

namespace spitool {

struct Command;

struct Options {
    std::string library;
    bool usb = false; // load the USB edition of the library
    bool port_given = false;
    int32_t port = 1;
    bool clock_given = false;
    std::string clock;
    bool mux_given = false;
    int32_t mux = -1;
    bool chip_given = false;
    int32_t chip = 0;
    bool trace = false;
    std::string format;
    uint32_t chunk = 256;
    int progress = -1; // -1 when stderr is a terminal, 0 never, 1 always
    bool verify = true; // write and load read back and compare
    bool help = false;
    bool version = false;
#if SPITOOL_HAVE_SIM
    SimOptions sim;
#endif
    std::string command;
    std::vector<std::string> args;
};

// Options may stand anywhere; "--" ends them. "--name=value", "--name value",
// "-xVALUE" and "-x VALUE" all work, and one-letter flags combine ("-dM").
// "-" and negative numbers are arguments. Throws UsageError.
Options parse_command_line(int argc, char **argv);

// spitool --help; COMMAND --help.
void print_general_help();
void print_command_help(const Command &c);

} // namespace spitool
