// SPDX-License-Identifier: MIT
#include "script.h"

#include <algorithm>
#include <cctype>

#include "fileio.h"
#include "text.h"

namespace spitool {

namespace {

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

bool parse_statement(const std::string &text, size_t line_no, const std::string &source,
                     const std::function<bool(const std::string &)> &known_variable, Statement *out)
{
    std::string line = text.substr(0, text.find('#'));
    std::vector<size_t> starts;
    std::vector<std::string> w = split_fields(line, " \t\n\v\f\r", &starts);
    if (w.empty())
        return false;
    try {
        Statement s{};
        s.line = line_no;
        std::string verb = lower(w[0]);
        if (verb == "set") {
            if (w.size() < 3)
                throw UsageError("set needs a NAME and a VALUE");
            if (!known_variable(w[1]))
                throw UsageError("unknown variable '" + w[1] + "'");
            s.kind = Statement::Set;
            s.name = w[1];
            // The value is the rest of the line, inner spaces kept.
            size_t end = starts.back() + w.back().size();
            s.value = line.substr(starts[2], end - starts[2]);
        } else if (verb == "read") {
            if (w.size() < 2 || w.size() > 3)
                throw UsageError("usage: read ADDR [COUNT]");
            s.kind = Statement::Read;
            s.address = need_address(w[1]);
            s.count = w.size() == 3 ? need_unsigned(w[2], 0xFFFF, "count") : 1;
            need_fits(s.address, s.count);
        } else if (verb == "write") {
            if (w.size() < 3)
                throw UsageError("usage: write ADDR WORD...");
            s.kind = Statement::Write;
            s.address = need_address(w[1]);
            if (w.size() - 2 > 0xFFFF)
                throw UsageError("more than 65535 words in one write");
            for (size_t i = 2; i < w.size(); i++)
                s.words.push_back(need_word(w[i]));
            s.count = static_cast<uint32_t>(s.words.size());
            need_fits(s.address, s.count);
        } else {
            throw UsageError("unknown statement '" + w[0] + "' (set, read or write)");
        }
        *out = std::move(s);
        return true;
    } catch (const UsageError &e) {
        throw UsageError(source + ":" + std::to_string(line_no) + ": " + e.what());
    }
}

seq_record Statement::record()
{
    seq_record r{};
    switch (kind) {
    case Set:
        r.command = SEQ_SETVAR;
        r.name = name.c_str();
        r.value = value.c_str();
        break;
    case Read:
        r.command = SEQ_READ;
        words.assign(count, 0);
        r.address = address;
        r.word_count = static_cast<uint16_t>(count);
        r.words = words.empty() ? nullptr : words.data();
        break;
    case Write:
        r.command = SEQ_WRITE;
        r.address = address;
        r.word_count = static_cast<uint16_t>(count);
        r.words = words.data();
        break;
    }
    return r;
}

std::string Statement::summary() const
{
    if (kind == Set)
        return "set " + name + " " + value;
    return std::string(kind == Read ? "read " : "write ") + hex16(address) + " " + std::to_string(count);
}

size_t run_script(const std::string &path, const ScriptHooks &hooks, size_t *statements, size_t pipe_limit)
{
    InputFile in;
    in.open(path);
    const std::string source = in.name();

    // First reading: check every line. A pipe is kept in a temporary file
    // for the second.
    std::FILE *spool = nullptr;
    struct CloseSpool {
        std::FILE *&f;
        ~CloseSpool()
        {
            if (f)
                std::fclose(f);
        }
    } close_spool{spool};
    bool rewindable = in.rewindable();
    if (!rewindable && !(spool = anonymous_temp_file()))
        throw Failure("cannot create a temporary file to hold the script from " + source);
    std::string line;
    Statement st;
    // The copy is bounded, so that an endless pipe cannot fill the disk.
    LineReader first(in.stream(), source, SCRIPT_MAX_LINE, spool ? pipe_limit : SIZE_MAX);
    while (first.next(&line)) {
        parse_statement(line, first.line_no(), source, hooks.known_variable, &st);
        if (spool)
            std::fprintf(spool, "%s\n", line.c_str());
    }
    std::FILE *second = spool ? spool : in.stream();
    if (spool) {
        if (std::fflush(spool) != 0 || std::ferror(spool))
            throw Failure("cannot keep the script from " + source + " in a temporary file");
        std::rewind(spool);
    } else {
        in.rewind();
    }

    // Second reading: one statement at a time.
    size_t failed = 0, count = 0;
    LineReader lines(second, source, SCRIPT_MAX_LINE);
    while (lines.next(&line)) {
        size_t line_no = lines.line_no();
        if (!parse_statement(line, line_no, source, hooks.known_variable, &st))
            continue;
        count++;
        seq_record r = st.record();
        std::string error = hooks.run(st, r);
        if (error.empty() && st.kind == Statement::Read) {
            for (uint32_t i = 0; i < st.count; i += 8)
                std::fputs(hex_dump(st.address + i, st.words.data() + i, std::min<uint32_t>(8, st.count - i))
                               .c_str(),
                           stdout);
        }
        std::fflush(stdout);
        if (!error.empty()) {
            failed++;
            std::string where = source + ":" + std::to_string(line_no);
            std::fprintf(stderr, "spitool: %s: %s failed: %s\n", where.c_str(), st.summary().c_str(),
                         error.c_str());
            std::fflush(stderr);
        }
        st.words = {}; // give back a large buffer at once
    }
    if (statements)
        *statements = count;
    return failed;
}

} // namespace spitool
