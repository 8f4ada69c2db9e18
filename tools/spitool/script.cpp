// SPDX-License-Identifier: MIT
// spitool run: scripts of reads, writes and settings, run in order.
//
// One statement a line; "#" starts a comment; blank lines are ignored:
//   set NAME VALUE      set a library variable (VALUE: rest of the line)
//   read ADDR [COUNT]   read COUNT words (default 1) from ADDR
//   write ADDR WORD...  write the words from ADDR upward
// Numbers are decimal or 0x-hexadecimal.
//
// A script is read once, whole (at most TEXT_LIMIT bytes), and then gone
// through twice: once to check every line, so that a bad line stops it
// before anything runs (and the port is opened only then), and once to run
// it statement by statement, each statement's read buffer held only while
// it runs. What runs is exactly what was checked.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fileio.h"
#include "session.h"
#include "text.h"

namespace spitool {

namespace {

struct Statement {
    int command = SEQ_SETVAR;
    std::string name, value;     // set: the variable name and the value text
    uint16_t address = 0;        // read, write
    uint32_t count = 0;          // read: words to read; write: words.size()
    std::vector<uint16_t> words; // write: the words; read: the buffer
    std::string summary;         // "read 0x0030 2", "set SPIPORT 9": for messages

    // The statement as one sequence record, pointing into the statement; a
    // read's buffer is made here.
    seq_record record()
    {
        if (command == SEQ_READ)
            words.assign(count, 0);
        seq_record r{command, {{address, uint16_t(count), words.empty() ? nullptr : words.data()}}};
        if (command == SEQ_SETVAR) { // the name and value share their place with the transfer's fields
            r.name = name.c_str();
            r.value = value.c_str();
        }
        return r;
    }
};

// Parses the line lines gave last into *out; false for a blank line. Throws
// UsageError "SOURCE:LINE: what".
bool parse(const Lines &lines, std::string line, const Session &session, Statement *out)
{
    line = line.substr(0, line.find('#'));
    std::vector<size_t> starts;
    const std::vector<std::string> w = split_fields(line, " \t\n\v\f\r", &starts);
    if (w.empty())
        return false;
    try {
        Statement s;
        const std::string verb = lower(w[0]);
        if (line.find('\0') != std::string::npos) {
            throw UsageError("NUL byte in the line");
        } else if (verb == "set") {
            if (w.size() < 3)
                throw UsageError("set needs a NAME and a VALUE");
            s.name = w[1];
            // The value is the rest of the line, inner spaces kept.
            s.value = line.substr(starts[2], starts.back() + w.back().size() - starts[2]);
            session.check_setting(s.name, s.value);
            s.summary = "set " + s.name + " " + s.value;
        } else if (verb == "read" || verb == "write") {
            const bool read = verb == "read";
            if (read ? w.size() < 2 || w.size() > 3 : w.size() < 3)
                throw UsageError(read ? "usage: read ADDR [COUNT]" : "usage: write ADDR WORD...");
            if (!read && w.size() - 2 > 0xFFFF)
                throw UsageError("more than 65535 words in one write");
            s.command = read ? SEQ_READ : SEQ_WRITE;
            s.address = need_address(w[1]);
            for (size_t i = 2; !read && i < w.size(); i++)
                s.words.push_back(need_word(w[i]));
            s.count = read ? (w.size() == 3 ? need_unsigned(w[2], 0xFFFF, "count") : 1)
                           : static_cast<uint32_t>(s.words.size());
            need_fits(s.address, s.count);
            s.summary = verb + " " + hex16(s.address) + " " + std::to_string(s.count);
        } else {
            throw UsageError("unknown statement '" + w[0] + "' (set, read or write)");
        }
        *out = std::move(s);
        return true;
    } catch (const UsageError &e) {
        lines.fail(e.what());
    }
}

} // namespace

void cmd_run(Session &s)
{
    InputFile in(s.opt.args[0]);
    std::string text, line;
    in.read(&text, TEXT_LIMIT, "a script");
    Statement st;
    uint64_t words = 0; // the data words of the reads and writes
    for (Lines check(text, in.name()); check.next(&line);)
        words += parse(check, line, s, &st) ? st.count : 0;
    s.open(words);
    unsigned failed = 0, statements = 0;
    for (Lines lines(text, in.name()); lines.next(&line);) {
        if (!parse(lines, line, s, &st))
            continue;
        statements++;
        const std::string error = s.run_record(st.record());
        if (error.empty() && st.command == SEQ_READ)
            std::fputs(hex_dump(st.address, st.words.data(), st.count).c_str(), stdout);
        flush_stdout();
        if (!error.empty()) {
            failed++;
            report(in.name() + ":" + std::to_string(lines.number()) + ": " + st.summary + " failed: " + error);
        }
    }
    if (failed)
        throw Failure(strprintf("run %s failed: %u of %u statements failed", in.name().c_str(), failed,
                                statements));
}

} // namespace spitool
