// spitool: command-line host for the spifns library. It loads the library at
// run time and uses nothing but its exports, so every run goes through the
// same interface as any other host tool.
//
// Exit status: 0 success, 1 an operation failed (the library's last error is
// printed), 2 a bad command line, script or input file.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "progress.h"
#include "script.h"
#include "spilib.h"
#include "text.h"

#if SPITOOL_HAVE_SIM
#include "simhost.h"
#endif

namespace spitool {
namespace {

const char TOOL_VERSION[] = SPITOOL_VERSION;

// ---------------------------------------------------------------- options

struct Options {
    std::string library;
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
    bool verify = false;
    bool help = false;
    bool version = false;
#if SPITOOL_HAVE_SIM
    SimOptions sim;
#else
    bool sim_requested = false;
#endif
    std::string command;
    std::vector<std::string> args;
};

struct Command {
    const char *name;
    const char *usage;   // arguments after the command name
    const char *summary; // one line
    const char *details; // shown by COMMAND --help
    size_t min_args;
    size_t max_args;
    bool uses_link; // selects the port before it runs
};

const Command COMMANDS[] = {
    {"ports", "", "list the parallel ports the library finds",
     "Lists the ports as the library enumerates them: the first entry (LPT1) unprobed,\n"
     "with the library's current port number, then every port 2 to 16 whose device opens.\n",
     0, 0, false},
    {"vars", "", "list the variables with default, flags and current value",
     "Prints the library's variable table: name, default text, flags and the current value.\n"
     "The command-bit variables can be set but not read back.\n",
     0, 0, false},
    {"get", "NAME", "print one variable's current value",
     "Prints the current value of a library variable (SPIPORT, SPIMUL, SPISHIFTPERIOD,\n"
     "SPICLOCK, SPIMAXCLOCK). Names match without regard to case.\n",
     1, 1, false},
    {"set", "NAME VALUE", "set a variable through a one-record sequence",
     "Sets a library variable with one set-variable record of spifns_sequence and prints\n"
     "its value afterwards. Settings last only for this run of spitool.\n",
     2, 2, true},
    {"read", "ADDR [COUNT]", "read COUNT words (default 1) and print a hex dump",
     "Reads COUNT 16-bit words from chip address ADDR upward and prints them eight to a\n"
     "line, each line led by its address. ADDR + COUNT must not pass 0x10000.\n",
     1, 2, true},
    {"write", "ADDR WORD...", "write words from ADDR upward",
     "Writes the 16-bit words from chip address ADDR upward.\n", 2, 65536 + 1, true},
    {"dump", "ADDR COUNT FILE", "read COUNT words into FILE",
     "Reads COUNT words from ADDR upward into FILE, in chunks of --chunk words, with a\n"
     "progress bar when stderr is a terminal. FILE is binary (16-bit little-endian words)\n"
     "unless it ends in .hex or .txt or --format hex is given. Nothing is written when a\n"
     "read fails.\n",
     3, 3, true},
    {"load", "ADDR FILE", "write the words of FILE from ADDR upward",
     "Writes the words of FILE (binary or hex text, as for dump) from ADDR upward, in\n"
     "chunks of --chunk words, with a progress bar when stderr is a terminal. --verify\n"
     "reads the words back and compares them.\n",
     2, 2, true},
    {"probe", "", "tell whether the chip's processor is stopped",
     "Runs the library's processor probe and prints \"stopped\" or \"running\"; a failed probe\n"
     "is an error.\n",
     0, 0, true},
    {"slower", "[N]", "slow the clock N times (default 1) and print it",
     "Sends the library command SPISLOWER N times and prints the shift period and clock.\n"
     "The period stops growing at 40 or more.\n",
     0, 1, false},
    {"run", "FILE", "run a script as one sequence ('-' reads stdin)",
     "Runs the statements of FILE as one spifns_sequence and prints what the reads\n"
     "returned. One statement a line, '#' starts a comment:\n"
     "  set NAME VALUE       set a library variable (VALUE is the rest of the line)\n"
     "  read ADDR [COUNT]    read COUNT words (default 1; 0 checks the echo only)\n"
     "  write ADDR WORD...   write words from ADDR upward\n"
     "Every record runs even after one fails; a failed read prints no data.\n",
     1, 1, true},
};

const Command *find_command(const std::string &name)
{
    for (const Command &c : COMMANDS)
        if (name == c.name)
            return &c;
    return nullptr;
}

std::string usage_of(const Command &c)
{
    std::string u = std::string("spitool [OPTIONS] ") + c.name;
    if (*c.usage)
        u += std::string(" ") + c.usage;
    return u;
}

void print_general_help()
{
    std::printf("usage: spitool [OPTIONS] COMMAND [ARGS...]\n\n"
                "Talks to a chip over SPI on a parallel port through the spifns library.\n\n"
                "Commands:\n");
    for (const Command &c : COMMANDS) {
        std::string head = std::string(c.name) + (*c.usage ? std::string(" ") + c.usage : "");
        std::printf("  %-22s %s\n", head.c_str(), c.summary);
    }
    std::printf("\nOptions:\n"
                "  --port N           port to use (SPIPORT; default 1)\n"
                "  --clock VALUE      SPI clock setting (SPICLOCK, positive)\n"
                "  --mux N            multiplexer channel 0 to 16, or -1 for none (SPIMUL)\n"
                "  --chip N           chip number (spifns_chip_select)\n"
                "  --trace            print the library's trace lines on stderr\n"
                "  --library PATH     library to load (default: the one beside spitool)\n"
                "  --format bin|hex   word file format for dump and load\n"
                "  --chunk N          words per transfer for dump, load, read, write (default 256)\n"
                "  --progress         always show the progress bar; --no-progress never\n"
                "  --verify           load: read the words back and compare\n"
#if SPITOOL_HAVE_SIM
                "  --sim              use the simulated board on port 1 (no hardware)\n"
                "  --sim-memory FILE  chip 0 memory (128 KiB binary), loaded when present, saved after\n"
                "  --sim-stopped      the simulated processors are stopped (default running)\n"
                "  --sim-fault [C:]F  chip C (default 0) fault: absent, bad-echo, stuck0, stuck1\n"
                "  --sim-wiring W     direct (default) or mux\n"
                "  --sim-fail-after N the driver call after the first N fails (once)\n"
                "  --vcd FILE         with --sim: record the link as a VCD waveform\n"
#endif
                "  --help             this text; COMMAND --help for one command\n"
                "  --version          versions of spitool and the library\n\n"
                "Numbers are decimal or 0x-hexadecimal. Exit status: 0 success, 1 failure,\n"
                "2 bad arguments.\n");
}

void print_command_help(const Command &c)
{
    std::printf("usage: %s\n\n%s", usage_of(c).c_str(), c.details);
}

// Options that take a value.
const char *const VALUE_OPTIONS[] = {"--port",       "--clock",     "--mux",       "--chip",
                                     "--library",    "--format",    "--chunk",     "--sim-memory",
                                     "--sim-fault",  "--sim-wiring", "--vcd",   "--sim-fail-after"};

bool takes_value(const std::string &name)
{
    for (const char *o : VALUE_OPTIONS)
        if (name == o)
            return true;
    return false;
}

void set_option(Options &o, const std::string &name, const std::string &value)
{
    auto integer = [&](int32_t min, int32_t max) {
        int32_t v;
        if (!parse_signed(value, min, max, &v))
            throw UsageError("bad " + name + " '" + value + "' (" + std::to_string(min) + " to " +
                             std::to_string(max) + ")");
        return v;
    };
    if (name == "--port") {
        o.port = integer(1, 64);
        o.port_given = true;
    } else if (name == "--clock") {
        double d;
        if (!parse_real(value, &d) || !(d > 0))
            throw UsageError("bad --clock '" + value + "' (a positive number)");
        o.clock = value;
        o.clock_given = true;
    } else if (name == "--mux") {
        o.mux = integer(-1, 16);
        o.mux_given = true;
    } else if (name == "--chip") {
        o.chip = integer(0, 0x7FFFFFFF);
        o.chip_given = true;
    } else if (name == "--library") {
        o.library = value;
    } else if (name == "--format") {
        file_format("", value); // validates
        o.format = value;
    } else if (name == "--chunk") {
        o.chunk = static_cast<uint32_t>(integer(1, 0xFFFF));
    } else if (name == "--sim-memory" || name == "--sim-fault" || name == "--sim-wiring" ||
               name == "--vcd" || name == "--sim-fail-after") {
#if SPITOOL_HAVE_SIM
        if (name == "--sim-fail-after")
            o.sim.control_fail_after = integer(0, 0x7FFFFFFF);
        else if (name == "--sim-memory")
            o.sim.memory_file = value;
        else if (name == "--sim-fault")
            o.sim.faults.push_back(parse_sim_fault(value));
        else if (name == "--vcd")
            o.sim.vcd_file = value;
        else if (value == "direct")
            o.sim.wiring = SIM_WIRING_DIRECT;
        else if (value == "mux")
            o.sim.wiring = SIM_WIRING_MUX;
        else
            throw UsageError("bad --sim-wiring '" + value + "' (direct or mux)");
#else
        throw UsageError(name + " is not available in this build (no simulated board)");
#endif
    } else {
        throw UsageError("unknown option " + name);
    }
}

void set_flag(Options &o, const std::string &name)
{
    if (name == "--trace")
        o.trace = true;
    else if (name == "--help" || name == "-h")
        o.help = true;
    else if (name == "--version")
        o.version = true;
    else if (name == "--progress")
        o.progress = 1;
    else if (name == "--no-progress")
        o.progress = 0;
    else if (name == "--verify")
        o.verify = true;
#if SPITOOL_HAVE_SIM
    else if (name == "--sim")
        o.sim.enabled = true;
    else if (name == "--sim-stopped")
        o.sim.stopped = true;
#else
    else if (name == "--sim" || name == "--sim-stopped")
        throw UsageError(name + " is not available in this build (no simulated board)");
#endif
    else
        throw UsageError("unknown option " + name);
}

// Options may stand anywhere; "--" ends them. "--name=value" and
// "--name value" both work.
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
            if (takes_value(name)) {
                std::string value;
                if (eq != std::string::npos)
                    value = a.substr(eq + 1);
                else if (i + 1 < argc)
                    value = argv[++i];
                else
                    throw UsageError("option " + name + " needs a value");
                set_option(o, name, value);
            } else {
                if (eq != std::string::npos)
                    throw UsageError("option " + name + " takes no value");
                set_flag(o, name);
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

// ---------------------------------------------------------------- session

// Trace lines: printed with --trace, and kept while a script runs so that
// its reads can be told apart afterwards.
bool g_print_trace = false;
std::vector<std::string> *g_trace_lines = nullptr;

void SPIFNS_CALL trace_sink(const char *line)
{
    if (g_print_trace) {
        std::fputs(line, stderr);
        std::fflush(stderr);
    }
    if (g_trace_lines)
        g_trace_lines->push_back(line);
}

struct PortList {
    std::vector<std::pair<int, std::string>> ports;
};

void SPIFNS_CALL port_sink(int number, const char *name, void *context)
{
    static_cast<PortList *>(context)->ports.emplace_back(number, name ? name : "");
}

// The last-error record of the library at one moment.
struct ErrorState {
    int code = 0;
    std::string message;
    uint16_t address = 0;
    bool operator==(const ErrorState &) const = default;
};

class Session {
public:
    Session(const Options &o, SpiLib &lib) : opt_(o), lib_(lib) {}

    ErrorState error_state() const
    {
        ErrorState s;
        const char *msg = nullptr;
        s.code = lib_.get_last_error(&s.address, &msg);
        s.message = msg ? msg : "";
        return s;
    }

    static std::string describe(const ErrorState &s)
    {
        char buf[64];
        std::snprintf(buf, sizeof(buf), "error 0x%X (", static_cast<unsigned>(s.code));
        std::string t = buf + s.message + ")";
        if (s.code == ERR_READ && s.message == "Unable to read") {
            std::snprintf(buf, sizeof(buf), " at address 0x%04X", s.address);
            t += buf;
        }
        return t;
    }

    // Failure of an operation that started with the error record at before.
    [[noreturn]] void fail(const std::string &what, const ErrorState &before) const
    {
        ErrorState now = error_state();
        if (now == before)
            throw Failure(what + ": the library recorded no new error (last error: " +
                          describe(now) + ")");
        throw Failure(what + ": " + describe(now));
    }

    int run_sequence(const seq_record *records, size_t count)
    {
        return lib_.sequence(records, static_cast<int>(count));
    }

    void set_variable(const std::string &name, const std::string &value, const std::string &what)
    {
        ErrorState before = error_state();
        seq_record r{};
        r.command = SEQ_SETVAR;
        r.name = name.c_str();
        r.value = value.c_str();
        if (run_sequence(&r, 1) != 0)
            fail(what, before);
    }

    // Opens the link: init, trace sink, chip, port, multiplexer and clock.
    // select_port: select the port even without --port.
    void open(bool select_port)
    {
        lib_.init();
        opened_ = true;
        g_print_trace = opt_.trace;
        lib_.set_debug_callback(&trace_sink);
        if (opt_.chip_given)
            lib_.chip_select(opt_.chip);
        bool port_open = select_port || opt_.port_given;
        if (port_open)
            set_variable("SPIPORT", std::to_string(opt_.port),
                         "cannot select port " + std::to_string(opt_.port));
        if (opt_.mux_given) {
            ErrorState before = error_state();
            set_variable("SPIMUL", std::to_string(opt_.mux), "cannot set the multiplexer");
            // The library accepts any SPIMUL; a failed line update shows
            // only in its last error (always, while no port is open).
            if (port_open && !(error_state() == before))
                fail("cannot set the multiplexer to " + std::to_string(opt_.mux), before);
        }
        if (opt_.clock_given)
            set_variable("SPICLOCK", opt_.clock, "cannot set the clock to " + opt_.clock);
    }

    void close()
    {
        if (!opened_)
            return;
        lib_.set_debug_callback(nullptr);
        lib_.close();
        opened_ = false;
    }

    std::vector<var_entry> variables() const
    {
        const var_entry *list = nullptr;
        int count = 0;
        lib_.getvarlist(&list, &count);
        if (!list || count < 0)
            return {};
        return std::vector<var_entry>(list, list + count);
    }

    // The table's spelling of a variable name, or empty when unknown.
    std::string variable_name(const std::string &name) const
    {
        for (const var_entry &v : variables())
            if (v.name && equal_nocase(v.name, name))
                return v.name;
        return "";
    }

    static bool equal_nocase(const std::string &a, const std::string &b)
    {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); i++)
            if (std::tolower(static_cast<unsigned char>(a[i])) !=
                std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    }

    std::string getvar(const std::string &name) const
    {
        const char *v = lib_.getvar(name.c_str());
        return v ? v : "";
    }

    // Reads or writes words[0..n), n >= 1, at address in chunks, one
    // sequence each.
    // Returns how many words went through before a failure (n on success)
    // and sets *error to the failure text.
    size_t transfer(int command, uint32_t address, uint16_t *words, size_t n, const char *label,
                    std::string *error)
    {
        Progress bar(opt_.progress == 1 || (opt_.progress == -1 && stderr_is_terminal()),
                     label, n > opt_.chunk ? static_cast<uint32_t>(n) : 0);
        size_t done = 0;
        while (done < n) {
            size_t part = std::min<size_t>(opt_.chunk, n - done);
            ErrorState before = error_state();
            seq_record r{};
            r.command = command;
            r.address = static_cast<uint16_t>(address + done);
            r.word_count = static_cast<uint16_t>(part);
            r.words = part ? words + done : nullptr;
            if (run_sequence(&r, 1) != 0) {
                bar.finish();
                ErrorState now = error_state();
                std::string where;
                if (!(now.code == ERR_READ && now.message == "Unable to read"))
                    where = " in the transfer of " + std::to_string(part) + " words at " +
                            hex16(static_cast<uint32_t>(address + done));
                *error = now == before ? std::string("the library recorded no new error (last error: ") +
                                             describe(now) + ")" + where
                                       : describe(now) + where;
                return done;
            }
            done += part;
            bar.update(static_cast<uint32_t>(done));
        }
        bar.finish();
        return done;
    }

private:
    const Options &opt_;
    SpiLib &lib_;
    bool opened_ = false;
};

// ---------------------------------------------------------------- commands

uint32_t count_arg(const std::string &text, uint32_t address, uint32_t min)
{
    uint32_t n = need_unsigned(text, ADDRESS_SPACE, "count");
    if (n < min)
        throw UsageError("count " + text + " out of range (at least " + std::to_string(min) + ")");
    need_fits(address, n);
    return n;
}

int cmd_ports(Session &s, SpiLib &lib, const Options &)
{
    (void)s;
    PortList list;
    lib.enumerate_ports(&port_sink, &list);
    for (const auto &[number, name] : list.ports)
        std::printf("%d %s\n", number, name.c_str());
    return 0;
}

int cmd_vars(Session &s, SpiLib &, const Options &)
{
    std::printf("%-16s %-8s %-6s %s\n", "NAME", "DEFAULT", "FLAGS", "VALUE");
    for (const var_entry &v : s.variables()) {
        std::string value = s.getvar(v.name ? v.name : "");
        std::printf("%-16s %-8s 0x%-4X %s\n", v.name ? v.name : "?",
                    v.default_text ? v.default_text : "", v.flags,
                    value.empty() ? "(write-only)" : value.c_str());
    }
    return 0;
}

int cmd_get(Session &s, SpiLib &, const Options &o)
{
    std::string name = s.variable_name(o.args[0]);
    if (name.empty())
        throw UsageError("unknown variable '" + o.args[0] + "'");
    std::string value = s.getvar(name);
    if (value.empty())
        throw UsageError(name + " can be set but not read back");
    std::printf("%s\n", value.c_str());
    return 0;
}

int cmd_set(Session &s, SpiLib &, const Options &o)
{
    std::string name = s.variable_name(o.args[0]);
    if (name.empty())
        throw UsageError("unknown variable '" + o.args[0] + "'");
    ErrorState before = s.error_state();
    s.set_variable(name, o.args[1], "set " + name + " failed");
    // SPIMUL always reports success; a failed update of the select lines
    // shows only in the last error.
    if (name == "SPIMUL" && !(s.error_state() == before))
        s.fail("set SPIMUL did not reach the port", before);
    std::string value = s.getvar(name);
    std::printf("%s = %s\n", name.c_str(), value.empty() ? o.args[1].c_str() : value.c_str());
    return 0;
}

int cmd_read(Session &s, SpiLib &, const Options &o)
{
    uint16_t address = need_address(o.args[0]);
    uint32_t count = o.args.size() > 1 ? count_arg(o.args[1], address, 1) : 1;
    std::vector<uint16_t> words(count);
    std::string error;
    size_t done = s.transfer(SEQ_READ, address, words.data(), count, "read", &error);
    std::fputs(hex_dump(address, words.data(), done).c_str(), stdout);
    if (done < count)
        throw Failure("read failed: " + error);
    return 0;
}

int cmd_write(Session &s, SpiLib &, const Options &o)
{
    uint16_t address = need_address(o.args[0]);
    std::vector<uint16_t> words;
    for (size_t i = 1; i < o.args.size(); i++)
        words.push_back(need_word(o.args[i]));
    need_fits(address, static_cast<uint32_t>(words.size()));
    std::string error;
    size_t done = s.transfer(SEQ_WRITE, address, words.data(), words.size(), "write", &error);
    if (done < words.size())
        throw Failure("write failed: " + error);
    std::printf("wrote %s word%s at %s\n", std::to_string(words.size()).c_str(),
                words.size() == 1 ? "" : "s", hex16(address).c_str());
    return 0;
}

int cmd_dump(Session &s, SpiLib &, const Options &o)
{
    uint16_t address = need_address(o.args[0]);
    uint32_t count = count_arg(o.args[1], address, 1);
    const std::string &path = o.args[2];
    FileFormat format = file_format(path, o.format);
    std::vector<uint16_t> words(count);
    std::string error;
    if (s.transfer(SEQ_READ, address, words.data(), count, "dump", &error) < count)
        throw Failure("dump failed: " + error + "; " + path + " not written");
    write_word_file(path, format, address, words);
    std::printf("dumped %u words from %s to %s\n", count, hex16(address).c_str(), path.c_str());
    return 0;
}

int cmd_load(Session &s, SpiLib &, const Options &o)
{
    uint16_t address = need_address(o.args[0]);
    const std::string &path = o.args[1];
    std::vector<uint16_t> words = read_word_file(path, file_format(path, o.format));
    if (words.empty())
        throw UsageError(path + " holds no words");
    if (address + words.size() > ADDRESS_SPACE)
        throw UsageError(path + " holds " + std::to_string(words.size()) + " words; from " +
                         hex16(address) + " they run past 0xFFFF");
    std::string error;
    size_t done = s.transfer(SEQ_WRITE, address, words.data(), words.size(), "load", &error);
    if (done < words.size())
        throw Failure("load failed: " + error);
    if (o.verify) {
        std::vector<uint16_t> back(words.size());
        if (s.transfer(SEQ_READ, address, back.data(), back.size(), "verify", &error) < back.size())
            throw Failure("verify failed: " + error);
        for (size_t i = 0; i < words.size(); i++)
            if (back[i] != words[i])
                throw Failure("verify failed at " + hex16(static_cast<uint32_t>(address + i)) +
                              ": wrote " + hex16(words[i]) + ", read " + hex16(back[i]));
    }
    std::printf("loaded %s words from %s to %s%s\n", std::to_string(words.size()).c_str(), path.c_str(),
                hex16(address).c_str(), o.verify ? " (verified)" : "");
    return 0;
}

int cmd_probe(Session &s, SpiLib &lib, const Options &)
{
    ErrorState before = s.error_state();
    int r = lib.xap_stopped();
    if (r == 1)
        std::printf("stopped\n");
    else if (r == 0)
        std::printf("running\n");
    else
        s.fail("probe failed", before);
    return 0;
}

int cmd_slower(Session &s, SpiLib &lib, const Options &o)
{
    uint32_t n = o.args.empty() ? 1 : need_unsigned(o.args[0], 100, "count");
    for (uint32_t i = 0; i < n; i++)
        lib.command("SPISLOWER");
    std::printf("SPISHIFTPERIOD %s, SPICLOCK %s\n", s.getvar("SPISHIFTPERIOD").c_str(),
                s.getvar("SPICLOCK").c_str());
    return 0;
}

// A transfer dump line of the library's trace: "AAAA     r WWWW",
// "AAAA     r ????" or "AAAA-LLLLr WWWW ...".
struct DumpLine {
    uint32_t first = 0, last = 0;
    char letter = 0;
    bool no_data = false;
    std::vector<uint16_t> words;
};

bool parse_dump_line(const std::string &line, DumpLine *d)
{
    unsigned first, last;
    char letter;
    int used = 0;
    if (std::sscanf(line.c_str(), "%4X-%5X%c%n", &first, &last, &letter, &used) == 3 &&
        (letter == 'r' || letter == 'w')) {
        d->first = first;
        d->last = last;
    } else if (std::sscanf(line.c_str(), "%4X     %c%n", &first, &letter, &used) == 2 &&
               (letter == 'r' || letter == 'w')) {
        d->first = d->last = first;
    } else {
        return false;
    }
    d->letter = letter;
    std::string rest = line.substr(static_cast<size_t>(used));
    if (rest.find("????") != std::string::npos) {
        d->no_data = true;
        return true;
    }
    unsigned w;
    int n;
    const char *p = rest.c_str();
    while (d->words.size() < 8 && std::sscanf(p, " %4X%n", &w, &n) == 1) {
        d->words.push_back(static_cast<uint16_t>(w));
        p += n;
    }
    return true;
}

int cmd_run(Session &s, SpiLib &, const Options &o)
{
    const std::string &path = o.args[0];
    std::string text;
    if (path == "-") {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), stdin)) > 0)
            text.append(buf, n);
    } else {
        text = read_file(path);
    }
    std::string source = path == "-" ? "stdin" : path;
    std::vector<Statement> statements = parse_script(
        text, source, [&](const std::string &name) { return !s.variable_name(name).empty(); });
    std::vector<seq_record> records = build_records(statements);

    std::vector<std::string> trace;
    ErrorState before = s.error_state();
    g_trace_lines = &trace;
    int result = s.run_sequence(records.data(), records.size());
    g_trace_lines = nullptr;

    // A successful read of one word or more leaves exactly one dump line
    // with its range and its first words; a failed one leaves none (or the
    // "????" line of a failed echo check). Walking both in order tells which
    // reads delivered data.
    std::vector<DumpLine> reads;
    for (const std::string &line : trace) {
        DumpLine d;
        if (parse_dump_line(line, &d) && d.letter == 'r' && !d.no_data)
            reads.push_back(d);
    }
    size_t next = 0;
    std::vector<std::string> failed;
    for (const Statement &st : statements) {
        if (st.kind != Statement::Read || st.count == 0)
            continue;
        bool ok = result == 0;
        if (!ok && next < reads.size()) {
            const DumpLine &d = reads[next];
            size_t shown = std::min<size_t>(st.count, 8);
            ok = d.first == st.address && d.last == st.address + st.count - 1 &&
                 d.words.size() == shown &&
                 std::equal(d.words.begin(), d.words.end(), st.words.begin());
            if (ok)
                next++;
        }
        if (ok)
            std::fputs(hex_dump(st.address, st.words.data(), st.count).c_str(), stdout);
        else
            failed.push_back(source + ":" + std::to_string(st.line) + ": read " +
                             hex16(st.address) + " " + std::to_string(st.count) + " failed");
    }
    std::fflush(stdout);
    if (result != 0) {
        for (const std::string &f : failed)
            std::fprintf(stderr, "spitool: %s\n", f.c_str());
        s.fail("run " + source + " failed", before);
    }
    return 0;
}

using Handler = int (*)(Session &, SpiLib &, const Options &);

const std::map<std::string, Handler> HANDLERS = {
    {"ports", cmd_ports}, {"vars", cmd_vars},   {"get", cmd_get},     {"set", cmd_set},
    {"read", cmd_read},   {"write", cmd_write}, {"dump", cmd_dump},   {"load", cmd_load},
    {"probe", cmd_probe}, {"slower", cmd_slower}, {"run", cmd_run},
};

int run_tool(int argc, char **argv)
{
    Options o = parse_command_line(argc, argv);
    const Command *cmd = nullptr;
    if (!o.command.empty()) {
        cmd = find_command(o.command);
        if (!cmd)
            throw UsageError("unknown command '" + o.command + "' (try spitool --help)");
    }
    if (o.help) {
        if (cmd)
            print_command_help(*cmd);
        else
            print_general_help();
        return 0;
    }

    SpiLib lib;
    std::string path = o.library.empty() ? default_library_path() : o.library;
    std::string why;
    if (!load_library(path, &lib, &why))
        throw Failure(why);
    struct Unload {
        SpiLib &lib;
        ~Unload() { unload_library(&lib); }
    } unload{lib};

    if (o.version) {
        std::printf("spitool %s, library %s (interface 0x%X)\n", TOOL_VERSION, lib.path.c_str(),
                    static_cast<unsigned>(lib.get_version()));
        return 0;
    }
    if (!cmd)
        throw UsageError("no command given (try spitool --help)");
    if (o.args.size() < cmd->min_args || o.args.size() > cmd->max_args)
        throw UsageError(std::string(o.args.size() < cmd->min_args ? "missing" : "too many") +
                         " arguments (usage: " + usage_of(*cmd) + ")");

    Session session(o, lib);
#if SPITOOL_HAVE_SIM
    SimHost sim;
    if (o.sim.enabled) {
        if (o.port_given && o.port != SimHost::PORT)
            throw UsageError("--sim attaches the board to port 1; --port " + std::to_string(o.port) +
                             " would miss it");
        sim.start(lib, o.sim);
    }
#endif
    int status = 0;
    std::string pending; // a Failure to report after cleaning up
    bool usage = false;
    try {
        session.open(cmd->uses_link);
        status = HANDLERS.at(cmd->name)(session, lib, o);
    } catch (const UsageError &e) {
        pending = e.what();
        usage = true;
    } catch (const Failure &e) {
        pending = e.what();
    }
    std::fflush(stdout);
    session.close();
#if SPITOOL_HAVE_SIM
    bool vcd_failed = false;
    try {
        sim.finish();
    } catch (const Failure &e) {
        vcd_failed = true;
        if (pending.empty())
            pending = e.what();
    }
    if (o.sim.enabled && !o.sim.vcd_file.empty() && !vcd_failed)
        std::fprintf(stderr, "spitool: waveform written to %s\n", o.sim.vcd_file.c_str());
#endif
    if (!pending.empty()) {
        if (usage)
            throw UsageError(pending);
        throw Failure(pending);
    }
    return status;
}

} // namespace
} // namespace spitool

int main(int argc, char **argv)
{
    try {
        return spitool::run_tool(argc, argv);
    } catch (const spitool::UsageError &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "spitool: %s\n", e.what());
        return 2;
    } catch (const spitool::Failure &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "spitool: %s\n", e.what());
        return 1;
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "spitool: %s\n", e.what());
        return 1;
    }
}
