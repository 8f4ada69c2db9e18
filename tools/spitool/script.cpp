// SPDX-License-Identifier: MIT
#include "script.h"

#include <cstdint>
#include <cstdio>
#include <vector>

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
        seq_record r{};
        r.command = command;
        if (command == SEQ_SETVAR) { // the name and value share their place with the transfer's fields
            r.name = name.c_str();
            r.value = value.c_str();
            return r;
        }
        if (command == SEQ_READ)
            words.assign(count, 0);
        r.address = address;
        r.word_count = static_cast<uint16_t>(count);
        r.words = words.empty() ? nullptr : words.data();
        return r;
    }
};

// Parses the line lines gave last into *out; false for a blank line. Throws
// UsageError "SOURCE:LINE: what".
bool parse(const Lines &lines, std::string line, const ScriptHooks &hooks, Statement *out)
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
            hooks.check_set(s.name, s.value);
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

size_t run_script(const std::string &path, const ScriptHooks &hooks, size_t *statements, size_t limit)
{
    InputFile in(path);
    std::string text, line;
    in.read(&text, limit, "a script");
    Statement st;
    uint64_t words = 0;
    for (Lines check(text, in.name()); check.next(&line);)
        words += parse(check, line, hooks, &st) ? st.count : 0;
    hooks.start(words);
    size_t failed = 0;
    *statements = 0;
    for (Lines lines(text, in.name()); lines.next(&line);) {
        if (!parse(lines, line, hooks, &st))
            continue;
        ++*statements;
        const std::string error = hooks.run(st.record());
        if (error.empty() && st.command == SEQ_READ)
            std::fputs(hex_dump(st.address, st.words.data(), st.count).c_str(), stdout);
        flush_stdout();
        if (!error.empty()) {
            failed++;
            report(in.name() + ":" + std::to_string(lines.number()) + ": " + st.summary + " failed: " + error);
        }
    }
    return failed;
}

} // namespace spitool
