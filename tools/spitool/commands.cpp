#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

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
    Session::capture_trace(&trace);
    int result = s.run_sequence(records.data(), records.size());
    Session::capture_trace(nullptr);

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
     "Writes the 16-bit words from chip address ADDR upward.\n", 2, ADDRESS_SPACE + 1, true, cmd_write},
    {"dump", "ADDR COUNT FILE", "read COUNT words into FILE",
     "Reads COUNT words from ADDR upward into FILE, in chunks of --chunk words, with a\n"
     "progress bar when stderr is a terminal. FILE is binary (16-bit little-endian words)\n"
     "unless it ends in .hex or .txt or --format hex is given. Nothing is written when a\n"
     "read fails.\n",
     3, 3, true, cmd_dump},
    {"load", "ADDR FILE", "write the words of FILE from ADDR upward",
     "Writes the words of FILE (binary or hex text, as for dump) from ADDR upward, in\n"
     "chunks of --chunk words, with a progress bar when stderr is a terminal. --verify\n"
     "reads the words back and compares them.\n",
     2, 2, true, cmd_load},
    {"probe", "", "tell whether the chip's processor is stopped",
     "Runs the library's processor probe and prints \"stopped\" or \"running\"; a failed probe\n"
     "is an error.\n",
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
    {"run", "FILE", "run a script as one sequence ('-' reads stdin)",
     "Runs the statements of FILE as one spifns_sequence and prints what the reads\n"
     "returned. One statement a line, '#' starts a comment:\n"
     "  set NAME VALUE       set a library variable (VALUE is the rest of the line)\n"
     "  read ADDR [COUNT]    read COUNT words (default 1; 0 checks the echo only)\n"
     "  write ADDR WORD...   write words from ADDR upward\n"
     "Every record runs even after one fails; a failed read prints no data.\n",
     1, 1, true, cmd_run},
};

} // namespace

std::span<const Command> commands()
{
    return COMMANDS;
}

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

} // namespace spitool
