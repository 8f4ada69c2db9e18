#include "options.h"

#include <cstdio>

#include "commands.h"
#include "text.h"

namespace spitool {

namespace {

using Apply = void (*)(Options &, const std::string &name, const std::string &value);

struct OptionSpec {
    const char *name;  // "--port"
    const char *value; // what the value is called in --help; nullptr: a flag
    const char *help;  // nullptr: not listed on its own
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

#if SPITOOL_HAVE_SIM
#define SIM_APPLY(body)                                                                           \
    [](Options &o, [[maybe_unused]] const std::string &name,                                     \
       [[maybe_unused]] const std::string &value) body
#else
#define SIM_APPLY(body) nullptr
#endif

const OptionSpec OPTIONS[] = {
    {"--port", "N", "port to use (SPIPORT; default 1)", false,
     [](Options &o, const std::string &n, const std::string &v) {
         o.port = integer(n, v, 1, 64);
         o.port_given = true;
     }},
    {"--clock", "VALUE", "SPI clock setting (SPICLOCK, positive)", false,
     [](Options &o, const std::string &, const std::string &v) {
         double d;
         if (!parse_real(v, &d) || !(d > 0))
             throw UsageError("bad --clock '" + v + "' (a positive number)");
         o.clock = v;
         o.clock_given = true;
     }},
    {"--mux", "N", "multiplexer channel 0 to 16, or -1 for none (SPIMUL)", false,
     [](Options &o, const std::string &n, const std::string &v) {
         o.mux = integer(n, v, -1, 16);
         o.mux_given = true;
     }},
    {"--chip", "N", "chip number (spifns_chip_select)", false,
     [](Options &o, const std::string &n, const std::string &v) {
         o.chip = integer(n, v, 0, 0x7FFFFFFF);
         o.chip_given = true;
     }},
    {"--trace", nullptr, "print the library's trace lines on stderr", false,
     [](Options &o, const std::string &, const std::string &) { o.trace = true; }},
    {"--library", "PATH", "library to load (default: the one beside spitool)", false,
     [](Options &o, const std::string &, const std::string &v) { o.library = v; }},
    {"--format", "bin|hex", "word file format for dump and load", false,
     [](Options &o, const std::string &, const std::string &v) {
         file_format("", v); // validates
         o.format = v;
     }},
    {"--chunk", "N", "words per transfer for dump, load, read, write (default 256)", false,
     [](Options &o, const std::string &n, const std::string &v) {
         o.chunk = static_cast<uint32_t>(integer(n, v, 1, 0xFFFF));
     }},
    {"--progress", nullptr, "always show the progress bar; --no-progress never", false,
     [](Options &o, const std::string &, const std::string &) { o.progress = 1; }},
    {"--no-progress", nullptr, nullptr, false,
     [](Options &o, const std::string &, const std::string &) { o.progress = 0; }},
    {"--verify", nullptr, "load: read the words back and compare", false,
     [](Options &o, const std::string &, const std::string &) { o.verify = true; }},
    {"--sim", nullptr, "use the simulated board on port 1 (no hardware)", true,
     SIM_APPLY({ o.sim.enabled = true; })},
    {"--sim-memory", "FILE", "chip 0 memory (128 KiB binary), loaded when present, saved after",
     true, SIM_APPLY({ o.sim.memory_file = value; })},
    {"--sim-stopped", nullptr, "the simulated processors are stopped (default running)", true,
     SIM_APPLY({ o.sim.stopped = true; })},
    {"--sim-fault", "[C:]F", "chip C (default 0) fault: absent, bad-echo, stuck0, stuck1", true,
     SIM_APPLY({ o.sim.faults.push_back(parse_sim_fault(value)); })},
    {"--sim-wiring", "W", "direct (default) or mux", true, SIM_APPLY({
         if (value == "direct")
             o.sim.wiring = SIM_WIRING_DIRECT;
         else if (value == "mux")
             o.sim.wiring = SIM_WIRING_MUX;
         else
             throw UsageError("bad --sim-wiring '" + value + "' (direct or mux)");
     })},
    {"--sim-fail-after", "N", "the driver call after the first N fails (once)", true,
     SIM_APPLY({ o.sim.control_fail_after = integer(name, value, 0, 0x7FFFFFFF); })},
    {"--vcd", "FILE", "with --sim: record the link as a VCD waveform", true,
     SIM_APPLY({ o.sim.vcd_file = value; })},
    {"--help", nullptr, "this text; COMMAND --help for one command", false,
     [](Options &o, const std::string &, const std::string &) { o.help = true; }},
    {"-h", nullptr, nullptr, false,
     [](Options &o, const std::string &, const std::string &) { o.help = true; }},
    {"--version", nullptr, "versions of spitool and the library", false,
     [](Options &o, const std::string &, const std::string &) { o.version = true; }},
};

const OptionSpec *find_option(const std::string &name)
{
    for (const OptionSpec &s : OPTIONS)
        if (name == s.name)
            return &s;
    return nullptr;
}

} // namespace

Options parse_command_line(int argc, char **argv)
{
    Options o;
    bool options_done = false;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (!options_done && a == "--") {
            options_done = true;
        } else if (!options_done && (a.rfind("--", 0) == 0 || a == "-h")) {
            size_t eq = a.find('=');
            std::string name = a.substr(0, eq);
            const OptionSpec *spec = find_option(name);
            if (!spec)
                throw UsageError("unknown option " + name);
            std::string value;
            if (spec->value) {
                if (eq != std::string::npos)
                    value = a.substr(eq + 1);
                else if (i + 1 < argc)
                    value = argv[++i];
                else
                    throw UsageError("option " + name + " needs a value");
            } else if (eq != std::string::npos) {
                throw UsageError("option " + name + " takes no value");
            }
            if (!spec->apply)
                throw UsageError(name + " is not available in this build (no simulated board)");
            spec->apply(o, name, value);
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
    std::printf("usage: spitool [OPTIONS] COMMAND [ARGS...]\n\n"
                "Talks to a chip over SPI on a parallel port through the spifns library.\n\n"
                "Commands:\n");
    for (const Command &c : commands()) {
        std::string head = std::string(c.name) + (*c.usage ? std::string(" ") + c.usage : "");
        std::printf("  %-22s %s\n", head.c_str(), c.summary);
    }
    std::printf("\nOptions:\n");
    for (const OptionSpec &s : OPTIONS) {
        if (!s.help || (s.sim && !s.apply))
            continue;
        std::string head = std::string(s.name) + (s.value ? std::string(" ") + s.value : "");
        std::printf("  %-18s %s\n", head.c_str(), s.help);
    }
    std::printf("\nNumbers are decimal or 0x-hexadecimal. Exit status: 0 success, 1 failure,\n"
                "2 bad arguments.\n");
}

void print_command_help(const Command &c)
{
    std::printf("usage: %s\n\n%s", usage_of(c).c_str(), c.details);
}

} // namespace spitool
