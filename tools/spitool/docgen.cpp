// SPDX-License-Identifier: MIT
// Writes spitool's manual page or its bash completion from the tables: the
// template holds the fixed text, and each @NAME@ in it is replaced.
//   spitool_docgen man|completion TEMPLATE VERSION OUTPUT
// Built for the build machine from tables.cpp and text.cpp alone, so that a
// cross build makes both without running the tool it built.
#include <fstream>
#include <iostream>
#include <map>
#include <iterator>

#include "spifns_wire.h"
#include "tables.h"
#include "text.h"

using namespace spitool;

namespace {

// Text as roff shows it: backslashes and minus signs escaped, a line that
// would start with a control character guarded.
std::string roff(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if ((i == 0 || text[i - 1] == '\n') && (text[i] == '.' || text[i] == '\''))
            out += "\\&";
        out += text[i] == '\\' ? "\\e" : text[i] == '-' ? "\\-" : std::string(1, text[i]);
    }
    return out;
}

// A help text as roff: lines led by two spaces (a table) kept as they are.
std::string roff_text(const std::string &text)
{
    std::string out, line;
    bool table = false;
    for (Lines lines(text, ""); lines.next(&line);) {
        const bool row = line.rfind("  ", 0) == 0;
        out += row == table ? "" : row ? ".nf\n" : ".fi\n";
        table = row;
        out += roff(line) + "\n";
    }
    return out + (table ? ".fi\n" : "");
}

std::map<std::string, std::string> man_page()
{
    std::string commands, options, clocks;
    for (const Command &c : COMMANDS)
        commands += ".TP\n\\fB" + std::string(c.name) + "\\fR " + roff(c.usage) + "\n" + roff_text(c.details);
    for (const OptionSpec &o : OPTIONS)
        if (available(o))
            options += ".TP\n\\fB" + roff(forms(o, ", ")) + "\\fR" +
                       (o.value ? " \\fI" + roff(o.value) + "\\fR" : "") + "\n" + roff_text(o.help);
    for (int period = 1; period <= 4; period++)
        clocks += strprintf("%g, ", CLOCK_FACTOR / period);
    return {{"@COMMANDS@", commands}, {"@OPTIONS@", options}, {"@CLOCK_FACTOR@", strprintf("%g", CLOCK_FACTOR)},
            {"@CLOCKS@", clocks}};
}

std::map<std::string, std::string> completion()
{
    std::string commands, file_commands, options, valued, files, choices;
    for (const Command &c : COMMANDS) {
        commands += std::string(" ") + c.name;
        if (std::string(c.usage).find("FILE") != std::string::npos)
            file_commands += (file_commands.empty() ? "" : " | ") + std::string(c.name);
    }
    for (const OptionSpec &o : OPTIONS) {
        const std::string value = o.value ? o.value : "";
        if (!available(o))
            continue;
        options += " " + forms(o, " ");
        valued += value.empty() ? "" : " " + forms(o, " ");
        files += value == "FILE" || value == "PATH" ? " " + forms(o, " ") : "";
        if (o.choices)
            choices += "        " + forms(o, " | ") + ") choices=\"" + choice_list(*o.choices, " ", " ") +
                       "\" ;;\n";
    }
    return {{"@COMMANDS@", commands},     {"@FILE_COMMANDS@", file_commands}, {"@OPTIONS@", options},
            {"@VALUED@", valued},         {"@FILE_OPTIONS@", files},          {"@CHOICES@", choices},
            {"@VARIABLES@", choice_list(VARIABLES, " ", " ")}};
}

} // namespace

int main(int argc, char **argv)
{
    const std::string kind = argc == 5 ? argv[1] : "";
    if (kind != "man" && kind != "completion") {
        std::cerr << "usage: spitool_docgen man|completion TEMPLATE VERSION OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[2]);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::map<std::string, std::string> fields = kind == "man" ? man_page() : completion();
    fields["@VERSION@"] = argv[3];
    for (const auto &[key, value] : fields)
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    std::ofstream out(argv[4], std::ios::binary);
    if (text.empty() || !(out << text).flush()) {
        std::cerr << "spitool_docgen: cannot make " << argv[4] << " from " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
