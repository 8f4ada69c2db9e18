// SPDX-License-Identifier: MIT
// spitool's command line, parsed by the option table (tables.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim_board.h"
#include "tables.h"

namespace spitool {

// --sim and its companions: the simulated board (native builds).
struct SimOptions {
    bool enabled = false;
    std::string memory_file; // chip 0 memory, 128 KiB of little-endian words
    bool stopped = false;    // every chip's processor stopped
    uint32_t wiring = SIM_WIRING_DIRECT;
    std::vector<std::pair<int, uint32_t>> faults; // chip, SIM_FAULT_ bits or FAULT_READONLY
    std::string vcd_file;
    uint32_t vcd_limit = VCD_LIMIT; // MiB
    int32_t control_fail_after = -1; // the driver call after this many fails once
};

struct Options {
    std::string library;
    bool usb = false; // load the USB edition of the library
    std::optional<int32_t> port, mux, chip;
    std::optional<std::string> clock;
    std::optional<FileFormat> format;
    bool trace = false;
    bool verify = true; // write and load read back and compare
    uint32_t chunk = 256;
    int progress = -1; // -1 when stderr is a terminal, 0 never, 1 always
    bool help = false, version = false;
    bool slow_clock = false; // a clock's shifts may allocate more than SHIFT_BYTES_MAX
    bool sim_only = false;   // an option that needs --sim was given
    SimOptions sim;
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
