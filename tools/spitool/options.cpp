// SPDX-License-Identifier: MIT
#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "spifns_wire.h"
#include "text.h"

namespace spitool {

namespace {

int32_t integer(const std::string &name, const std::string &value, int32_t min, int32_t max)
{
    int32_t v;
    if (!parse_signed(value, min, max, &v))
        throw UsageError(strprintf("bad %s '%s' (%d to %d)", name.c_str(), value.c_str(), min, max));
    return v;
}

// The value of one of the option's choices; shown: the option's whole value.
uint32_t choice(const OptionSpec &o, const std::string &name, const std::string &shown)
{
    if (const Name *n = find_named(*o.choices, name))
        return n->value;
    throw UsageError(std::string("bad ") + o.name + " '" + shown + "' (" + choice_list(*o.choices) + ")");
}

void apply(Options &o, const OptionSpec &row, const std::string &value)
{
    const std::string name = row.name;
    if (!available(row))
        throw UsageError(name + " is not available in this build (no simulated board)");
    if (row.value && value.empty())
        throw UsageError("option " + name + " needs a value");
    o.sim_only |= row.sim && row.id != OPT_SIM;
    switch (row.id) {
    case 'P': o.port = integer(name, value, PORT_MIN, PORT_MAX); break;
    case 'k': // a positive decimal number
        if (double d = 0; !parse_real(value, &d) || !(d > 0))
            throw UsageError("bad " + name + " '" + value + "': not " +
                             (parse_real(value, &d) ? "positive" : "a number") + " (try spitool clocks)");
        o.clock = value;
        break;
    case OPT_MUX: o.mux = integer(name, value, -1, MUX_MAX); break;
    case OPT_CHIP: o.chip = integer(name, value, 0, 1); break;
    case 'd': o.trace = true; break;
    case 'm': o.verify = true; break;
    case 'M': o.verify = false; break;
    case OPT_LIBRARY: o.library = value; break;
    case OPT_USB: o.usb = true; break;
    // "hex" is the older name of the text format.
    case OPT_FORMAT: o.format = FileFormat(choice(row, value == "hex" ? "text" : value, value)); break;
    case OPT_CHUNK: o.chunk = static_cast<uint32_t>(integer(name, value, 1, 0xFFFF)); break;
    case OPT_PROGRESS: o.progress = 1; break;
    case OPT_NO_PROGRESS: o.progress = 0; break;
    case OPT_SIM: o.sim.enabled = true; break;
    case OPT_SIM_MEMORY: o.sim.memory_file = value; break;
    case OPT_SIM_STOPPED: o.sim.stopped = true; break;
    case OPT_SIM_FAULT: { // [CHIP:]NAME
        const size_t colon = value.find(':');
        uint32_t chip = 0;
        if (colon != std::string::npos && !parse_unsigned(value.substr(0, colon), SIM_MAX_CHIPS - 1, &chip))
            throw UsageError(
                strprintf("bad chip in --sim-fault '%s' (0 to %u)", value.c_str(), SIM_MAX_CHIPS - 1));
        o.sim.faults.emplace_back(chip, choice(row, value.substr(colon + 1), value));
        break;
    }
    case OPT_SIM_WIRING: o.sim.wiring = choice(row, value, value); break;
    case OPT_SIM_FAIL_AFTER: o.sim.control_fail_after = integer(name, value, 0, INT32_MAX); break;
    case OPT_VCD:
        if (value == "-")
            throw UsageError("--vcd needs a file (standard output carries the command's output)");
        o.sim.vcd_file = value;
        break;
    case OPT_VCD_LIMIT: o.sim.vcd_limit = static_cast<uint32_t>(integer(name, value, 1, 1 << 20)); break;
    case OPT_SLOW_CLOCK: o.slow_clock = true; break;
    case 'h': o.help = true; break;
    case 'R': o.version = true; break;
    }
}

// What users of other programmer tools may type, and what it is here.
const std::map<char, std::string> HABITS = {
    {'p', " (the port is -P N)"}, {'c', " (the clock is -k VALUE; a chip is --chip N)"},
    {'v', " (trace is -d, version -R; verifying is the default)"}, {'n', " (-M skips the verification)"},
    {'V', " (version is -R, trace -d; -M skips the verification)"}};

} // namespace

Options parse_command_line(int argc, char **argv)
{
    Options o;
    std::vector<std::string> words;
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        // A value not attached to its option is the next word.
        auto next = [&](const std::string &option) -> std::string {
            if (i + 1 >= argc)
                throw UsageError("option " + option + " needs a value");
            return argv[++i];
        };
        if (options_done || a.size() < 2 || a[0] != '-' || std::isdigit(static_cast<unsigned char>(a[1]))) {
            words.push_back(a); // "-" (standard input or output) and negative numbers too
        } else if (a == "--") {
            options_done = true;
        } else {
            // "--name=value" or "--name value"; "-dM" (flags together), "-P2" or "-P 2" (a value).
            const bool dashes = a[1] == '-';
            const size_t eq = dashes ? a.find('=') : std::string::npos;
            for (size_t k = 1; k < (dashes ? 2 : a.size()); k++) {
                const std::string name = dashes ? a.substr(0, eq) : std::string("-") + a[k];
                const auto row = std::find_if(OPTIONS.begin(), OPTIONS.end(), [&](const OptionSpec &r) {
                    return dashes ? name == r.name : r.id == a[k];
                });
                if (row == OPTIONS.end())
                    throw UsageError("unknown option " + name + (HABITS.count(a[k]) ? HABITS.at(a[k]) : ""));
                if (!row->value && eq != std::string::npos)
                    throw UsageError("option " + name + " takes no value");
                const bool attached = dashes ? eq != std::string::npos : k + 1 < a.size();
                apply(o, *row, !row->value ? "" : attached ? a.substr(dashes ? eq + 1 : k + 1) : next(name));
                if (row->value)
                    break;
            }
        }
    }
    if (!words.empty()) {
        o.command = words[0];
        o.args.assign(words.begin() + 1, words.end());
    }
    if (o.command == "help") { // "spitool help [COMMAND]"
        o.help = true;
        o.command = o.args.empty() ? "" : o.args[0];
        o.args.clear();
    }
    if (!o.sim.enabled && o.sim_only)
        throw UsageError("--vcd and the other --sim-... options need --sim");
    if (o.mux && o.chip)
        throw UsageError("--mux and --chip exclude each other");
    return o;
}

void print_general_help()
{
    std::printf("Usage: spitool [OPTIONS] COMMAND [ARGS...]\n\n"
                "Talks to a chip over SPI on a parallel port through the spifns library.\n\nCommands:\n");
    for (const Command &c : COMMANDS)
        std::printf("  %-22s %s\n", (c.name + std::string(*c.usage ? " " : "") + c.usage).c_str(), c.summary);
    std::printf("\nOptions:\n");
    for (const OptionSpec &o : OPTIONS)
        if (available(o))
            std::printf("  %-24s %s\n", ((o.id < 256 ? "" : "    ") + forms(o, ", ") + (o.value ? " " : "") +
                                          (o.value ? o.value : "")).c_str(), o.help.c_str());
    std::printf("\nNumbers are decimal or 0x-hexadecimal. Exit status: 0 success, 1 failure,\n"
                "2 bad arguments, 128 + N stopped by signal N.\n");
}

void print_command_help(const Command &c)
{
    std::printf("usage: %s\n\n%s", usage_of(c).c_str(), c.details.c_str());
}

} // namespace spitool
