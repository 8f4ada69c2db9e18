// SPDX-License-Identifier: MIT
// spitool's tables: the options, the commands and the names their values
// take. They drive the parser, --help, the manual page and the bash
// completion; plain data, so that the generator of the last two
// (docgen.cpp) builds from tables.cpp alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace spitool {

class Session;

// A name and what it stands for.
struct Name {
    const char *name;
    uint32_t value;
};

enum class FileFormat : uint32_t { Binary, Text, IntelHex };
// A fault the tool adds to the simulated board's own: the chip takes writes
// without storing them (read-only memory).
constexpr uint32_t FAULT_READONLY = 0x80000000u;
// The highest multiplexer channel.
constexpr int32_t MUX_MAX = 16;
// The most a clock may make the library allocate for one shift, unless
// --allow-slow-clock; the default --vcd-limit in MiB.
constexpr uint32_t SHIFT_BYTES_MAX = 256u << 20, VCD_LIMIT = 256;
// What the library's variables hold (Name::value of VARIABLES).
enum : uint32_t { VAR_INTEGER = 1, VAR_CLOCK };

// Word file formats, simulated board wirings and faults, and the library's
// variables.
extern const std::vector<Name> FORMATS, WIRINGS, FAULTS, VARIABLES;

// The options without a one-letter form.
enum : int {
    OPT_MUX = 256, OPT_CHIP, OPT_LIBRARY, OPT_USB, OPT_FORMAT, OPT_CHUNK, OPT_PROGRESS, OPT_NO_PROGRESS,
    OPT_SIM, OPT_SIM_MEMORY, OPT_SIM_STOPPED, OPT_SIM_FAULT, OPT_SIM_WIRING, OPT_SIM_FAIL_AFTER, OPT_VCD,
    OPT_VCD_LIMIT, OPT_SLOW_CLOCK
};

struct OptionSpec {
    int id;            // the one-letter form, or an OPT_ value for none
    const char *name;  // "--port"
    const char *value; // what the value is called in --help; nullptr: a flag
    std::string help;
    const std::vector<Name> *choices = nullptr; // the names the value may take
    bool sim = false;  // only with the simulated board (native builds)
};

struct Command {
    const char *name;
    const char *usage;   // arguments after the command name
    const char *summary; // one line
    std::string details; // shown by COMMAND --help
    size_t min_args, max_args;
    // Runs the command; it opens the session once its arguments are checked
    // (Session::open). Throws UsageError or Failure.
    void (*run)(Session &);
};

// Every option and command, in the order --help lists them.
extern const std::vector<OptionSpec> OPTIONS;
extern const std::vector<Command> COMMANDS;

// Whether this build has the option (the --sim ones only with the board).
inline bool available(const OptionSpec &o) { return SPITOOL_HAVE_SIM || !o.sim; }
// The row of a table whose name is name, nullptr when there is none.
template <typename Row>
const Row *find_named(const std::vector<Row> &rows, const std::string &name)
{
    for (const Row &r : rows)
        if (name == r.name)
            return &r;
    return nullptr;
}
// "-P, --port" (with sep ", "), or "--mux"; "spitool [OPTIONS] read ADDR
// [COUNT]"; "bin, text or ihex".
std::string forms(const OptionSpec &o, const char *sep);
std::string usage_of(const Command &c);
std::string choice_list(const std::vector<Name> &names, const char *sep = ", ", const char *last = " or ");

void cmd_ports(Session &), cmd_vars(Session &), cmd_get(Session &), cmd_set(Session &), cmd_read(Session &),
    cmd_write(Session &), cmd_dump(Session &), cmd_load(Session &), cmd_probe(Session &), cmd_slower(Session &),
    cmd_clocks(Session &), cmd_run(Session &), cmd_loopback(Session &);

} // namespace spitool
