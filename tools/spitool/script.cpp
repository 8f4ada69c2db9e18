#include "script.h"

#include <cctype>

#include "text.h"

namespace spitool {

namespace {

// Words of a line and where each starts.
std::vector<std::string> split_words(const std::string &line, std::vector<size_t> *starts)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            i++;
        if (i >= line.size())
            break;
        size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j])))
            j++;
        out.push_back(line.substr(i, j - i));
        starts->push_back(i);
        i = j;
    }
    return out;
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::vector<Statement> parse_script(const std::string &text, const std::string &source,
                                    const std::function<bool(const std::string &)> &known_variable)
{
    std::vector<Statement> out;
    for_each_line(text, [&](std::string &line, size_t line_no) {
        std::vector<size_t> starts;
        std::vector<std::string> w = split_words(line, &starts);
        if (w.empty())
            return;
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
                for (size_t i = 2; i < w.size(); i++)
                    s.words.push_back(need_word(w[i]));
                if (s.words.size() > 0xFFFF)
                    throw UsageError("more than 65535 words in one write");
                s.count = static_cast<uint32_t>(s.words.size());
                need_fits(s.address, s.count);
            } else {
                throw UsageError("unknown statement '" + w[0] + "' (set, read or write)");
            }
            out.push_back(std::move(s));
        } catch (const UsageError &e) {
            throw UsageError(source + ":" + std::to_string(line_no) + ": " + e.what());
        }
    });
    return out;
}

std::vector<seq_record> build_records(std::vector<Statement> &statements)
{
    std::vector<seq_record> records;
    records.reserve(statements.size());
    for (Statement &s : statements) {
        seq_record r{};
        switch (s.kind) {
        case Statement::Set:
            r.command = SEQ_SETVAR;
            r.name = s.name.c_str();
            r.value = s.value.c_str();
            break;
        case Statement::Read:
            r.command = SEQ_READ;
            s.words.assign(s.count, 0);
            r.address = s.address;
            r.word_count = static_cast<uint16_t>(s.count);
            r.words = s.words.empty() ? nullptr : s.words.data();
            break;
        case Statement::Write:
            r.command = SEQ_WRITE;
            r.address = s.address;
            r.word_count = static_cast<uint16_t>(s.count);
            r.words = s.words.data();
            break;
        }
        records.push_back(r);
    }
    return records;
}

} // namespace spitool
