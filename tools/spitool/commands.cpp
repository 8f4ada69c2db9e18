// SPDX-License-Identifier: MIT
#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "fileio.h"
#include "loopback.h"
#include "script.h"
#include "text.h"

namespace spitool {

namespace {

struct PortList {
    std::vector<std::pair<int, std::string>> ports;
};

void SPIFNS_CALL port_sink(int number, const char *name, void *context)
{
    static_cast<PortList *>(context)->ports.emplace_back(number, name ? name : "");
}

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

// The library's spelling of a variable name; an unknown one is a UsageError.
std::string need_variable(const Session &s, const std::string &text)
{
    std::string name = s.variable_name(text);
    if (name.empty())
        throw UsageError("unknown variable '" + text + "'");
    return name;
}

int cmd_get(Session &s, SpiLib &, const Options &o)
{
    const std::string name = need_variable(s, o.args[0]);
    std::string value = s.getvar(name);
    if (value.empty())
        throw UsageError(name + " can be set but not read back");
    std::printf("%s\n", value.c_str());
    return 0;
}

int cmd_set(Session &s, SpiLib &, const Options &o)
{
    const std::string name = need_variable(s, o.args[0]);
    // The library reads a clock that is not a number as 0 and only refuses it.
    double clock;
    if (name == "SPICLOCK" && !parse_real(o.args[1], &clock))
        throw UsageError("bad SPICLOCK '" + o.args[1] + "': not a number (try spitool clocks)");
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

// Writes words at address and, unless --no-verify, reads them back and
// compares. Throws Failure naming the first word that differs.
void write_words(Session &s, const Options &o, uint16_t address, std::vector<uint16_t> &words,
                 const std::string &what)
{
    std::string error;
    if (s.transfer(SEQ_WRITE, address, words.data(), words.size(), what.c_str(), &error) < words.size())
        throw Failure(what + " failed: " + error);
    if (!o.verify)
        return;
    std::vector<uint16_t> back(words.size());
    if (s.transfer(SEQ_READ, address, back.data(), back.size(), "verify", &error) < back.size())
        throw Failure(what + " not verified: reading back failed: " + error);
    auto diff = std::mismatch(words.begin(), words.end(), back.begin());
    if (diff.first != words.end()) {
        size_t i = static_cast<size_t>(diff.first - words.begin());
        throw Failure(what + " not verified: at " + hex16(static_cast<uint32_t>(address + i)) +
                      " expected " + hex16(words[i]) + ", read " + hex16(back[i]));
    }
}

int cmd_write(Session &s, SpiLib &, const Options &o)
{
    uint16_t address = need_address(o.args[0]);
    std::vector<uint16_t> words;
    for (size_t i = 1; i < o.args.size(); i++)
        words.push_back(need_word(o.args[i]));
    need_fits(address, static_cast<uint32_t>(words.size()));
    write_words(s, o, address, words, "write");
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
    // With the words on standard output, the report goes to standard error.
    std::fprintf(is_stdio(path) ? stderr : stdout, "dumped %u words from %s to %s\n", count,
                 hex16(address).c_str(), is_stdio(path) ? "standard output" : path.c_str());
    return 0;
}

int cmd_load(Session &s, SpiLib &, const Options &o)
{
    uint16_t address = need_address(o.args[0]);
    const std::string &path = o.args[1];
    std::vector<uint16_t> words = read_word_file(path, o.format);
    std::string name = is_stdio(path) ? "stdin" : path;
    if (words.empty())
        throw UsageError(name + " holds no words");
    if (address + words.size() > ADDRESS_SPACE)
        throw UsageError(name + " holds " + std::to_string(words.size()) + " words; from " +
                         hex16(address) + " they run past 0xFFFF");
    write_words(s, o, address, words, "load");
    std::printf("loaded %s words from %s to %s%s\n", std::to_string(words.size()).c_str(), name.c_str(),
                hex16(address).c_str(), o.verify ? " (verified)" : "");
    return 0;
}

int cmd_probe(Session &s, SpiLib &lib, const Options &)
{
    ErrorState before = s.error_state();
    int r = lib.xap_stopped();
    if (r == 0) {
        // A line that nothing drives can read as "running": only a chip that
        // answers the read echo is taken for one.
        seq_record echo{};
        echo.command = SEQ_READ;
        before = s.error_state();
        if (s.run_sequence(&echo, 1) != 0)
            s.fail("probe failed: no chip answers its read echo", before);
    }
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

// The clock values the library can reach: it keeps a whole shift period and
// shows SPICLOCK as 172.41 / period, so each value comes from the library.
int cmd_clocks(Session &s, SpiLib &, const Options &o)
{
    uint32_t max = o.args.empty() ? 16 : need_unsigned(o.args[0], 1000, "count");
    std::string current = s.getvar("SPISHIFTPERIOD");
    std::string mark = o.clock_given ? "  <- --clock " + o.clock : "  <- current";
    std::printf("PERIOD  SPICLOCK\n");
    for (uint32_t p = 1; p <= max; p++) {
        std::string period = std::to_string(p);
        s.set_variable("SPISHIFTPERIOD", period, "set SPISHIFTPERIOD failed");
        std::printf("%-7s %s%s\n", period.c_str(), s.getvar("SPICLOCK").c_str(),
                    period == current ? mark.c_str() : "");
    }
    s.set_variable("SPISHIFTPERIOD", current, "set SPISHIFTPERIOD failed");
    return 0;
}

int cmd_run(Session &s, SpiLib &, const Options &o)
{
    ScriptHooks hooks;
    hooks.known_variable = [&](const std::string &name) { return !s.variable_name(name).empty(); };
    hooks.run = [&](const Statement &st, const seq_record &r) -> std::string {
        ErrorState before = s.error_state();
        bool ok = s.run_sequence(&r, 1) == 0;
        ErrorState now = s.error_state();
        // SPIMUL always reports success; a failed change of the select lines
        // shows only in the last error.
        if (st.kind == Statement::Set && s.variable_name(st.name) == "SPIMUL" && !(now == before))
            ok = false;
        if (ok)
            return "";
        return (now == before ? "last error unchanged: " : "") + Session::describe(now);
    };
    size_t statements = 0;
    size_t failed = run_script(o.args[0], hooks, &statements);
    if (failed)
        throw Failure("run " + (is_stdio(o.args[0]) ? std::string("stdin") : o.args[0]) + " failed: " +
                      std::to_string(failed) + " of " + std::to_string(statements) +
                      " statements failed");
    return 0;
}

// The commands, in the order --help lists them.
const Command COMMANDS[] = {
    {"ports", "", "list the parallel ports the library finds",
     "Lists the ports as the library enumerates them: the first entry (LPT1) unprobed,\n"
     "with the library's current port number, then every port 2 to 16 whose device opens.\n",
     0, 0, false, cmd_ports},
    {"vars", "", "list the variables with default, flags and current value",
     "Prints the library's variable table: name, default text, flags and the current value.\n"
     "The command-bit variables can be set but not read back.\n",
     0, 0, false, cmd_vars},
    {"get", "NAME", "print one variable's current value",
     "Prints the current value of a library variable (SPIPORT, SPIMUL, SPISHIFTPERIOD,\n"
     "SPICLOCK, SPIMAXCLOCK). Names match without regard to case.\n",
     1, 1, false, cmd_get},
    {"set", "NAME VALUE", "set a variable through a one-record sequence",
     "Sets a library variable with one set-variable record of spifns_sequence and prints\n"
     "its value afterwards. Settings last only for this run of spitool.\n",
     2, 2, true, cmd_set},
    {"read", "ADDR [COUNT]", "read COUNT words (default 1) and print a hex dump",
     "Reads COUNT 16-bit words from chip address ADDR upward and prints them eight to a\n"
     "line, each line led by its address. ADDR + COUNT must not pass 0x10000.\n",
     1, 2, true, cmd_read},
    {"write", "ADDR WORD...", "write words from ADDR upward",
     "Writes the 16-bit words from chip address ADDR upward, then reads them back and\n"
     "compares them (--no-verify skips this).\n", 2, ADDRESS_SPACE + 1, true, cmd_write},
    {"dump", "ADDR COUNT FILE", "read COUNT words into FILE",
     "Reads COUNT words from ADDR upward into FILE, in chunks of --chunk words, with a\n"
     "progress bar when stderr is a terminal. FILE is Intel HEX when it ends in .hex, .ihx\n"
     "or .ihex, hex text when it ends in .txt, else binary (16-bit little-endian words);\n"
     "--format bin|text|ihex overrides. '-' writes text to stdout. FILE is replaced only\n"
     "when complete: when a read or the write fails, the old file stays as it was.\n",
     3, 3, true, cmd_dump},
    {"load", "ADDR FILE", "write the words of FILE from ADDR upward",
     "Writes the words of FILE from ADDR upward, in chunks of --chunk words, with a\n"
     "progress bar when stderr is a terminal, then reads them back and compares them\n"
     "(--no-verify skips this). FILE is Intel HEX when its first line is a record, else\n"
     "hex text (.hex, .txt) or binary; '-' reads stdin. Intel HEX data must be one run of\n"
     "words; its first word goes to ADDR.\n",
     2, 2, true, cmd_load},
    {"probe", "", "tell whether the chip's processor is stopped",
     "Runs the library's processor probe and prints \"stopped\" or \"running\"; a failed probe\n"
     "is an error, and so is \"running\" from a chip that does not answer a read echo.\n",
     0, 0, true, cmd_probe},
    {"slower", "[N]", "slow the clock N times (default 1) and print it",
     "Sends the library command SPISLOWER N times and prints the shift period and clock.\n"
     "The period stops growing at 40 or more.\n",
     0, 1, false, cmd_slower},
    {"clocks", "[MAX]", "list the clock values the library can reach",
     "Lists shift periods 1 to MAX (default 16) with the SPICLOCK value of each, as the\n"
     "library reports it: SPICLOCK = 172.41 / shift period, and a --clock value is\n"
     "rounded to the nearest period, so only these values are reachable. The current\n"
     "period (or the one --clock chose) is marked.\n",
     0, 1, false, cmd_clocks},
    {"run", "FILE", "run a script ('-' reads stdin)",
     "Checks every line of FILE, then runs its statements in order, one sequence record\n"
     "each, and prints what each read returned as it arrives. One statement a line, '#'\n"
     "starts a comment:\n"
     "  set NAME VALUE       set a library variable (VALUE is the rest of the line)\n"
     "  read ADDR [COUNT]    read COUNT words (default 1; 0 checks the echo only)\n"
     "  write ADDR WORD...   write words from ADDR upward\n"
     "Every statement runs even after one fails; each failure is reported with its line.\n",
     1, 1, true, cmd_run},
    {"loopback", "", "check the port with a loopback plug from pin 8 (D6) to pin 10",
     "With a plug from pin 8 (D6, data to the chip) to pin 10 (ACK, status bit 6) and no\n"
     "chip selected, plays a pseudo-random pattern on D6 straight through the port\n"
     "device (not through the library) and checks that status bit 6 follows D6 in every\n"
     "sample: port mode, polarity and sample position without a chip. Prints one line:\n"
     "\"loopback ok: ...\", or (status 1) what the samples show: bit 6 always high, always\n"
     "low, inverted, following k samples late, or erratic. With --sim it plays on the\n"
     "simulated board (--sim-wiring loopback models the plug).\n",
     0, 0, false, cmd_loopback, true},
};

} // namespace

std::span<const Command> commands()
{
    return COMMANDS;
}

const Command *find_command(const std::string &name)
{
    return row_named(COMMANDS, name);
}

std::string usage_of(const Command &c)
{
    std::string u = std::string("spitool [OPTIONS] ") + c.name;
    if (*c.usage)
        u += std::string(" ") + c.usage;
    return u;
}

} // namespace spitool
