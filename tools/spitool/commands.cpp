// SPDX-License-Identifier: MIT
// spitool's commands; tables.cpp lists them with their help texts.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "fileio.h"
#include "platform.h"
#include "session.h"
#include "text.h"
#include "wordfile.h"

namespace spitool {

namespace {

// A count of at least one word, from address on.
uint32_t count_arg(const std::string &text, uint32_t address)
{
    const uint32_t n = need_unsigned(text, ADDRESS_SPACE, "count");
    need_fits(address, n);
    return n ? n : throw UsageError("count " + text + " out of range (at least 1)");
}

// Writes words at address and, unless --no-verify, reads them back and
// compares. Throws Failure naming the first word that differs.
void write_words(Session &s, uint16_t address, std::vector<uint16_t> &words, const std::string &what)
{
    s.open(words.size() * (s.opt.verify ? 2 : 1));
    std::string error = s.transfer(SEQ_WRITE, address, words.data(), words.size(), what.c_str());
    if (!error.empty())
        throw Failure(what + " failed: " + error);
    if (!s.opt.verify)
        return;
    std::vector<uint16_t> back(words.size());
    error = s.transfer(SEQ_READ, address, back.data(), back.size(), "verify");
    if (!error.empty())
        throw Failure(what + " not verified: reading back failed: " + error);
    const auto diff = std::mismatch(words.begin(), words.end(), back.begin());
    if (diff.first != words.end())
        throw Failure(what + " not verified: at " + hex16(address + uint32_t(diff.first - words.begin())) +
                      " expected " + hex16(*diff.first) + ", read " + hex16(*diff.second));
}

} // namespace

void cmd_ports(Session &s)
{
    s.open(0, false);
    s.lib.enumerate_ports(
        [](int n, const char *name, void *) { std::printf("%d %s\n", n, name ? name : ""); }, nullptr);
}

void cmd_vars(Session &s)
{
    const var_entry *list = nullptr;
    int count = 0;
    s.open(0, false);
    s.lib.getvarlist(&list, &count);
    std::printf("%-16s %-8s %-6s %s\n", "NAME", "DEFAULT", "FLAGS", "VALUE");
    for (int i = 0; list && i < count; i++) {
        const var_entry &v = list[i];
        const std::string value = s.getvar(v.name ? v.name : "");
        std::printf("%-16s %-8s 0x%-4X %s\n", v.name ? v.name : "?", v.default_text ? v.default_text : "",
                    v.flags, value.empty() ? "(write-only)" : value.c_str());
    }
}

void cmd_get(Session &s)
{
    const std::string name = s.variable_name(s.opt.args[0]);
    s.open(0, false);
    const std::string value = s.getvar(name);
    if (value.empty())
        throw UsageError(name + " can be set but not read back");
    std::printf("%s\n", value.c_str());
}

void cmd_set(Session &s)
{
    const std::string &text = s.opt.args[1], name = s.check_setting(s.opt.args[0], text);
    s.open();
    s.set_variable(name, text, "set " + name + " failed");
    const std::string value = s.getvar(name);
    std::printf("%s = %s\n", name.c_str(), printable(value.empty() ? text : value).c_str());
}

void cmd_read(Session &s)
{
    const uint16_t address = need_address(s.opt.args[0]);
    const uint32_t count = s.opt.args.size() > 1 ? count_arg(s.opt.args[1], address) : 1;
    std::vector<uint16_t> words(count);
    size_t done = 0;
    s.open(count);
    const std::string error = s.transfer(SEQ_READ, address, words.data(), count, "read", &done);
    std::fputs(hex_dump(address, words.data(), done).c_str(), stdout);
    if (!error.empty())
        throw Failure("read failed: " + error);
}

void cmd_write(Session &s)
{
    const uint16_t address = need_address(s.opt.args[0]);
    std::vector<uint16_t> words;
    for (size_t i = 1; i < s.opt.args.size(); i++)
        words.push_back(need_word(s.opt.args[i]));
    need_fits(address, static_cast<uint32_t>(words.size()));
    write_words(s, address, words, "write");
    std::printf("wrote %zu word%s at %s\n", words.size(), words.size() == 1 ? "" : "s", hex16(address).c_str());
}

void cmd_dump(Session &s)
{
    const uint16_t address = need_address(s.opt.args[0]);
    const uint32_t count = count_arg(s.opt.args[1], address);
    const std::string &path = s.opt.args[2];
    std::vector<uint16_t> words(count);
    s.open(count);
    if (const std::string e = s.transfer(SEQ_READ, address, words.data(), count, "dump"); !e.empty())
        throw Failure("dump failed: " + e + "; " + path + " not written");
    write_word_file(path, s.opt.format, address, words);
    // With the words on standard output, the report goes to standard error.
    const bool out = is_stdio(path) || stdio_stream_of(path) == stdout;
    std::fprintf(out ? stderr : stdout, "dumped %u words from %s to %s\n", count, hex16(address).c_str(),
                 is_stdio(path) ? "standard output" : printable(path).c_str());
}

void cmd_load(Session &s)
{
    const uint16_t address = need_address(s.opt.args[0]);
    const std::string &path = s.opt.args[1], name = is_stdio(path) ? "stdin" : path;
    std::vector<uint16_t> words = read_word_file(path, s.opt.format);
    if (words.empty())
        throw UsageError(name + " holds no words");
    if (address + words.size() > ADDRESS_SPACE)
        throw UsageError(name + " holds " + std::to_string(words.size()) + " words; from " + hex16(address) +
                         " they run past 0xFFFF");
    write_words(s, address, words, "load");
    std::printf("loaded %zu words from %s to %s%s\n", words.size(), printable(name).c_str(),
                hex16(address).c_str(), s.opt.verify ? " (verified)" : "");
}

void cmd_probe(Session &s)
{
    s.open();
    const ErrorState before = s.error_state();
    const int r = s.lib.xap_stopped();
    if (r < 0 || r > 1)
        throw Failure("probe failed: " + s.why(before));
    // A line that nothing drives can read as "running": only a chip that
    // answers the read echo is taken for one.
    const seq_record echo{SEQ_READ, {}}; // of no words
    if (const std::string e = r ? "" : s.run_record(echo); !e.empty())
        throw Failure("probe failed: no chip answers its read echo: " + e);
    std::printf("%s\n", r ? "stopped" : "running");
}

void cmd_slower(Session &s)
{
    const uint32_t n = s.opt.args.empty() ? 1 : need_unsigned(s.opt.args[0], 100, "count");
    s.open(0, false);
    for (uint32_t i = 0; i < n; i++)
        s.lib.command("SPISLOWER");
    std::printf("SPISHIFTPERIOD %s, SPICLOCK %s\n", s.getvar("SPISHIFTPERIOD").c_str(),
                s.getvar("SPICLOCK").c_str());
}

// The clock values the library can reach: it keeps a whole shift period and
// shows SPICLOCK as CLOCK_FACTOR / period, so each value comes from the
// library.
void cmd_clocks(Session &s)
{
    const uint32_t max = s.opt.args.empty() ? 16 : need_unsigned(s.opt.args[0], 1000, "count");
    s.open(0, false);
    const std::string current = s.getvar("SPISHIFTPERIOD");
    const std::string mark = s.opt.clock ? "  <- --clock " + *s.opt.clock : "  <- current";
    std::printf("PERIOD  SPICLOCK\n");
    for (uint32_t p = 1; p <= max; p++) {
        const std::string period = std::to_string(p);
        s.set_variable("SPISHIFTPERIOD", period, "set SPISHIFTPERIOD failed");
        std::printf("%-7s %s%s\n", period.c_str(), s.getvar("SPICLOCK").c_str(),
                    period == current ? mark.c_str() : "");
    }
    s.set_variable("SPISHIFTPERIOD", current, "set SPISHIFTPERIOD failed");
}

} // namespace spitool
