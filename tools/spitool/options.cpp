// SPDX-License-Identifier: MIT
#include "options.h"

#include <cctype>
#include <cstdio>

#include "commands.h"
#include "text.h"

namespace spitool {

namespace {

using Apply = void (*)(Options &, const std::string &name, const std::string &value);

struct OptionSpec {
    char short_name;   // '\0': long form only
    const char *name;  // "--port"
    const char *value; // what the value is called in --help; nullptr: a flag
    const char *help;
    bool sim;          // only with the simulated board (native builds)
    Apply apply;
};

int32_t integer(const std::string &name, const std::string &value, int32_t min, int32_t max)
{
    int32_t v;
    if (!parse_signed(value, min, max, &v))
        throw UsageError("bad " + name + " '" + value + "' (" + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    return v;
}

// Applies an integer option from min to max: sets the value and marks it
// given.
template <int32_t Options::*Value, bool Options::*Given, int32_t Min, int32_t Max>
void set_integer(Options &o, const std::string &name, const std::string &value)
{
    o.*Value = integer(name, value, Min, Max);
    o.*Given = true;
}

// Applies a flag option: sets the member to value.
template <auto Member, auto Value>
void set_to(Options &o, const std::string &, const std::string &)
{
    o.*Member = Value;
}

#if SPITOOL_HAVE_SIM
#define SIM_APPLY(body)                                                                           \
    [](Options &o, [[maybe_unused]] const std::string &name,                                     \
       [[maybe_unused]] const std::string &value) body
#else
#define SIM_APPLY(body) nullptr
#endif

// Every option, in the order --help lists them. The short letters steer
// clear of what other programmer tools' users type with other meanings
// (-p, -c, -v, -V, -n, -e, -t are taken there).
const OptionSpec OPTIONS[] = {
    {'P', "--port", "N", "port to use, 1 to 64 (SPIPORT; default 1)", false,
     set_integer<&Options::port, &Options::port_given, 1, 64>},
    {'k', "--clock", "VALUE", "SPI clock (SPICLOCK = 172.41 / shift period; see clocks)", false,
     [](Options &o, const std::string &n, const std::string &v) {
         double d;
         if (!parse_real(v, &d))
             throw UsageError("bad " + n + " '" + v + "': not a number (try spitool clocks)");
         if (!(d > 0))
             throw UsageError("bad " + n + " '" + v + "': not positive (try spitool clocks)");
         o.clock = v;
         o.clock_given = true;
     }},
    {'\0', "--mux", "N", "multiplexer channel 0 to 16, or -1 for none (SPIMUL)", false,
     set_integer<&Options::mux, &Options::mux_given, -1, 16>},
    // Direct wiring reaches two chips: 0 (CS low) and 1 (CS and SEL2 high);
    // a multiplexer's channels are chosen with --mux.
    {'\0', "--chip", "N", "chip 0 or 1 in direct wiring (spifns_chip_select)", false,
     set_integer<&Options::chip, &Options::chip_given, 0, 1>},
    {'d', "--trace", nullptr, "print the library's trace lines on stderr", false,
     set_to<&Options::trace, true>},
    {'m', "--verify", nullptr, "write, load: read the words back and compare (default)", false,
     set_to<&Options::verify, true>},
    {'M', "--no-verify", nullptr, "write, load: do not read the words back", false,
     set_to<&Options::verify, false>},
    {'\0', "--library", "PATH", "library to load (default: the one beside spitool)", false,
     [](Options &o, const std::string &, const std::string &v) { o.library = v; }},
    {'\0', "--usb", nullptr, "load the USB edition of the library (FTDI adapters; see docs/usb.md)", false,
     set_to<&Options::usb, true>},
    {'\0', "--format", "F", "word file format for dump and load: bin, text or ihex", false,
     [](Options &o, const std::string &, const std::string &v) {
         format_named(v); // validates
         o.format = v;
     }},
    {'\0', "--chunk", "N", "words per transfer for dump, load, read, write (default 256)", false,
     [](Options &o, const std::string &n, const std::string &v) {
         o.chunk = static_cast<uint32_t>(integer(n, v, 1, 0xFFFF));
     }},
    {'\0', "--progress", nullptr, "always show the progress bar (default: on a terminal)", false,
     set_to<&Options::progress, 1>},
    {'\0', "--no-progress", nullptr, "never show the progress bar", false,
     set_to<&Options::progress, 0>},
    {'\0', "--sim", nullptr, "use the simulated board on port 1 (no hardware)", true,
     SIM_APPLY({ o.sim.enabled = true; })},
    {'\0', "--sim-memory", "FILE",
     "chip 0 memory (128 KiB binary), loaded when present, saved after", true,
     SIM_APPLY({ o.sim.memory_file = value; })},
    {'\0', "--sim-stopped", nullptr, "the simulated processors are stopped (default running)",
     true, SIM_APPLY({ o.sim.stopped = true; })},
    {'\0', "--sim-fault", "[C:]F", "chip C (default 0) fault: absent, bad-echo, stuck0, stuck1, readonly",
     true, SIM_APPLY({ o.sim.faults.push_back(parse_sim_fault(value)); })},
    {'\0', "--sim-wiring", "W", "direct (default), mux, or loopback (a D6 to pin 10 plug, no chip)", true, SIM_APPLY({
         if (value == "direct")
             o.sim.wiring = SIM_WIRING_DIRECT;
         else if (value == "mux")
             o.sim.wiring = SIM_WIRING_MUX;
         else if (value == "loopback")
             o.sim.wiring = SIM_WIRING_LOOPBACK;
         else
             throw UsageError("bad --sim-wiring '" + value + "' (direct, mux or loopback)");
     })},
    {'\0', "--sim-fail-after", "N", "the driver call after the first N fails (once)", true,
     SIM_APPLY({ o.sim.control_fail_after = integer(name, value, 0, 0x7FFFFFFF); })},
    {'\0', "--vcd", "FILE", "with --sim: record the link as a VCD waveform", true,
     SIM_APPLY({ o.sim.vcd_file = value; })},
    {'h', "--help", nullptr, "this text; COMMAND --help for one command", false,
     set_to<&Options::help, true>},
    {'R', "--version", nullptr, "versions of spitool and the library", false,
     set_to<&Options::version, true>},
};

// What users of other programmer tools may type, and what it is here.
const char *habit_hint(char letter)
{
    switch (letter) {
    case 'p': return " (the port is -P N)";
    case 'c': return " (the clock is -k VALUE; a chip is --chip N)";
    case 'v': return " (trace is -d, version -R; verifying is the default)";
    case 'V': return " (version is -R, trace -d; -M skips the verification)";
    case 'n': return " (-M skips the verification)";
    default: return "";
    }
}

const OptionSpec *find_long(const std::string &name)
{
    return row_named(OPTIONS, name);
}

const OptionSpec *find_short(char letter)
{
    for (const OptionSpec &s : OPTIONS)
        if (s.short_name && letter == s.short_name)
            return &s;
    return nullptr;
}

void apply(Options &o, const OptionSpec &row, const std::string &value)
{
    if (!row.apply)
        throw UsageError(std::string(row.name) +
                         " is not available in this build (no simulated board)");
    row.apply(o, row.name, value);
}

// A word that is an option: "--name[=value]", or "-x..." other than "-"
// (standard input or output) and negative numbers.
bool is_long_option(const std::string &a)
{
    return a.size() > 2 && a.compare(0, 2, "--") == 0;
}

bool is_short_options(const std::string &a)
{
    return a.size() > 1 && a[0] == '-' && a[1] != '-' &&
           !std::isdigit(static_cast<unsigned char>(a[1]));
}

} // namespace

Options parse_command_line(int argc, char **argv)
{
    Options o;
    bool options_done = false;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        // A value not attached to its option is the next word.
        auto next_value = [&](const std::string &option) -> std::string {
            if (i + 1 >= argc)
                throw UsageError("option " + option + " needs a value");
            return argv[++i];
        };
        if (!options_done && a == "--") {
            options_done = true;
        } else if (!options_done && is_long_option(a)) {
            size_t eq = a.find('=');
            std::string name = a.substr(0, eq);
            const OptionSpec *row = find_long(name);
            if (!row)
                throw UsageError("unknown option " + name);
            std::string value;
            if (row->value) {
                value = eq != std::string::npos ? a.substr(eq + 1) : next_value(name);
            } else if (eq != std::string::npos) {
                throw UsageError("option " + name + " takes no value");
            }
            apply(o, *row, value);
        } else if (!options_done && is_short_options(a)) {
            // "-dm": flags together; "-P2" or "-P 2": a value.
            for (size_t k = 1; k < a.size(); k++) {
                const OptionSpec *row = find_short(a[k]);
                if (!row)
                    throw UsageError(std::string("unknown option -") + a[k] + habit_hint(a[k]));
                std::string value;
                if (row->value) {
                    std::string letter = std::string("-") + a[k];
                    value = k + 1 < a.size() ? a.substr(k + 1) : next_value(letter);
                    k = a.size();
                }
                apply(o, *row, value);
            }
        } else {
            positional.push_back(a);
        }
    }
    if (!positional.empty()) {
        o.command = positional[0];
        o.args.assign(positional.begin() + 1, positional.end());
    }
    if (o.command == "help") { // "spitool help [COMMAND]"
        o.help = true;
        o.command = o.args.empty() ? "" : o.args[0];
        o.args.clear();
    }
#if SPITOOL_HAVE_SIM
    if (!o.sim.enabled && (!o.sim.vcd_file.empty() || !o.sim.memory_file.empty() ||
                           o.sim.stopped || !o.sim.faults.empty() || o.sim.control_fail_after >= 0))
        throw UsageError("--vcd and the other --sim-... options need --sim");
#endif
    if (o.mux_given && o.chip_given)
        throw UsageError("--mux and --chip exclude each other");
    return o;
}

void print_general_help()
{
    std::printf("Usage: spitool [OPTIONS] COMMAND [ARGS...]\n\n"
                "Talks to a chip over SPI on a parallel port through the spifns library.\n\n"
                "Commands:\n");
    for (const Command &c : commands()) {
        std::string head = std::string(c.name) + (*c.usage ? std::string(" ") + c.usage : "");
        std::printf("  %-22s %s\n", head.c_str(), c.summary);
    }
    std::printf("\nOptions:\n");
    for (const OptionSpec &s : OPTIONS) {
        if (s.sim && !s.apply)
            continue;
        std::string head = s.short_name ? std::string("-") + s.short_name + ", " : "    ";
        head += std::string(s.name) + (s.value ? std::string(" ") + s.value : "");
        std::printf("  %-24s %s\n", head.c_str(), s.help);
    }
    std::printf("\nNumbers are decimal or 0x-hexadecimal. Exit status: 0 success, 1 failure,\n"
                "2 bad arguments.\n");
}

void print_command_help(const Command &c)
{
    std::printf("usage: %s\n\n%s", usage_of(c).c_str(), c.details);
}

} // namespace spitool
