// SPDX-License-Identifier: MIT
#include "tables.h"

#include "sim_board.h"
#include "spifns_wire.h"
#include "text.h"

// The generator of the manual page and the completion needs the texts only.
#ifdef SPITOOL_DOCGEN
#define RUN(f) nullptr
#else
#define RUN(f) f
#endif

namespace spitool {

const std::vector<Name> FORMATS = {{"bin", uint32_t(FileFormat::Binary)}, {"text", uint32_t(FileFormat::Text)},
                                   {"ihex", uint32_t(FileFormat::IntelHex)}};
const std::vector<Name> WIRINGS = {
    {"direct", SIM_WIRING_DIRECT}, {"mux", SIM_WIRING_MUX}, {"loopback", SIM_WIRING_LOOPBACK}};
const std::vector<Name> FAULTS = {{"absent", SIM_FAULT_ABSENT}, {"bad-echo", SIM_FAULT_BAD_ECHO},
                                  {"stuck0", SIM_FAULT_STUCK0}, {"stuck1", SIM_FAULT_STUCK1},
                                  {"readonly", FAULT_READONLY}};
const std::vector<Name> VARIABLES = {
    {"SPIPORT", VAR_INTEGER},        {"SPIMUL", VAR_INTEGER},        {"SPISHIFTPERIOD", VAR_INTEGER},
    {"SPICLOCK", VAR_CLOCK},         {"SPICMDBITS", VAR_INTEGER},    {"SPICMDREADBITS", VAR_INTEGER},
    {"SPICMDWRITEBITS", VAR_INTEGER}, {"SPIMAXCLOCK", VAR_CLOCK}};

static const std::string CLOCK = strprintf("%g", CLOCK_FACTOR);

// The one-letter options steer clear of what other programmer tools' users
// type with other meanings (-p, -c, -v, -V, -n, -e, -t are taken there).
const std::vector<OptionSpec> OPTIONS = {
    {'P', "--port", "N", strprintf("port to use, %d to %d (SPIPORT; default 1)", PORT_MIN, PORT_MAX)},
    {'k', "--clock", "VALUE", "SPI clock (SPICLOCK = " + CLOCK + " / shift period; see clocks)"},
    {OPT_SLOW_CLOCK, "--allow-slow-clock", nullptr,
     strprintf("allow clocks whose shifts take the library more than %u MiB", SHIFT_BYTES_MAX >> 20)},
    {OPT_MUX, "--mux", "N", strprintf("multiplexer channel 0 to %d, or -1 for none (SPIMUL)", MUX_MAX)},
    // Direct wiring reaches two chips: 0 (CS low) and 1 (CS and SEL2 high);
    // a multiplexer's channels are chosen with --mux.
    {OPT_CHIP, "--chip", "N", "chip 0 or 1 in direct wiring (spifns_chip_select)"},
    {'d', "--trace", nullptr, "print the library's trace lines on stderr"},
    {'m', "--verify", nullptr, "write, load: read the words back and compare (default)"},
    {'M', "--no-verify", nullptr, "write, load: do not read the words back"},
    {OPT_LIBRARY, "--library", "PATH", "library to load (default: the one beside spitool)"},
    {OPT_USB, "--usb", nullptr, "load the USB edition of the library (FTDI adapters; see docs/usb.md)"},
    {OPT_FORMAT, "--format", "F", "word file format for dump and load: " + choice_list(FORMATS), &FORMATS},
    {OPT_CHUNK, "--chunk", "N", "words per transfer for dump, load, read, write (default 256)"},
    {OPT_PROGRESS, "--progress", nullptr, "always show the progress bar (default: on a terminal)"},
    {OPT_NO_PROGRESS, "--no-progress", nullptr, "never show the progress bar"},
    {OPT_SIM, "--sim", nullptr, "use the simulated board on port 1 (no hardware)", nullptr, true},
    {OPT_SIM_MEMORY, "--sim-memory", "FILE", "chip 0 memory (128 KiB binary), loaded when present, saved after",
     nullptr, true},
    {OPT_SIM_STOPPED, "--sim-stopped", nullptr, "the simulated processors are stopped (default running)",
     nullptr, true},
    {OPT_SIM_FAULT, "--sim-fault", "[C:]F", "chip C (default 0) fault: " + choice_list(FAULTS), &FAULTS, true},
    {OPT_SIM_WIRING, "--sim-wiring", "W",
     choice_list(WIRINGS) + " (default direct; loopback: a D6 to pin 10 plug, no chip)", &WIRINGS, true},
    {OPT_SIM_FAIL_AFTER, "--sim-fail-after", "N", "the driver call after the first N fails (once)", nullptr,
     true},
    {OPT_VCD, "--vcd", "FILE", "with --sim: record the link as a VCD waveform", nullptr, true},
    {OPT_VCD_LIMIT, "--vcd-limit", "MIB", strprintf("largest waveform in MiB (default %u)", VCD_LIMIT), nullptr,
     true},
    {'h', "--help", nullptr, "this text; COMMAND --help for one command"},
    {'R', "--version", nullptr, "versions of spitool and the library"},
};

const std::vector<Command> COMMANDS = {
    {"ports", "", "list the parallel ports the library finds",
     strprintf("Lists the ports as the library enumerates them: the first entry (LPT1) unprobed,\n"
            "with the library's current port number, then every port %d to %d whose device opens.\n",
            PORT_ENUM_FIRST, PORT_ENUM_LAST),
     0, 0, RUN(cmd_ports)},
    {"vars", "", "list the variables with default, flags and current value",
     "Prints the library's variable table; the command-bit variables are write-only.\n",
     0, 0, RUN(cmd_vars)},
    {"get", "NAME", "print one variable's current value",
     "Prints the current value of a library variable; names match without regard to case.\n",
     1, 1, RUN(cmd_get)},
    {"set", "NAME VALUE", "set a variable through a one-record sequence",
     "Sets a library variable with one set-variable record of spifns_sequence and prints\n"
     "its value afterwards. Settings last only for this run of spitool.\n",
     2, 2, RUN(cmd_set)},
    {"read", "ADDR [COUNT]", "read COUNT words (default 1) and print a hex dump",
     "Reads COUNT 16-bit words from chip address ADDR upward and prints them eight to a\n"
     "line, each line led by its address. ADDR + COUNT must not pass 0x10000.\n",
     1, 2, RUN(cmd_read)},
    {"write", "ADDR WORD...", "write words from ADDR upward",
     "Writes the 16-bit words from chip address ADDR upward, then reads them back and\n"
     "compares them (--no-verify skips this).\n",
     2, ADDRESS_SPACE + 1, RUN(cmd_write)},
    {"dump", "ADDR COUNT FILE", "read COUNT words into FILE",
     "Reads COUNT words from ADDR upward into FILE, in chunks of --chunk words, with a\n"
     "progress bar when stderr is a terminal. FILE is Intel HEX when it ends in .hex, .ihx\n"
     "or .ihex, hex text when it ends in .txt, else binary (16-bit little-endian words);\n"
     "--format overrides. '-' writes text to stdout. FILE is replaced only when complete:\n"
     "when a read or the write fails, the old file stays as it was.\n",
     3, 3, RUN(cmd_dump)},
    {"load", "ADDR FILE", "write the words of FILE from ADDR upward",
     "Writes the words of FILE from ADDR upward in chunks, as dump reads them, then reads\n"
     "them back and compares them (--no-verify skips this). FILE is Intel HEX when its first\n"
     "line is a record, else hex text (.hex, .txt) or binary; '-' reads stdin. Intel HEX\n"
     "data must be one run of words; its first word goes to ADDR.\n",
     2, 2, RUN(cmd_load)},
    {"probe", "", "tell whether the chip's processor is stopped",
     "Runs the library's processor probe and prints \"stopped\" or \"running\"; a failed probe\n"
     "is an error, and so is \"running\" from a chip that does not answer a read echo.\n",
     0, 0, RUN(cmd_probe)},
    {"slower", "[N]", "slow the clock N times (default 1) and print it",
     "Sends the library command SPISLOWER N times and prints the shift period and clock.\n"
     "The period stops growing at 40 or more.\n",
     0, 1, RUN(cmd_slower)},
    {"clocks", "[MAX]", "list the clock values the library can reach",
     "Lists shift periods 1 to MAX (default 16) with the SPICLOCK value of each, as the\n"
     "library reports it: SPICLOCK = " + CLOCK + " / shift period, and a --clock value is\n"
     "rounded to the nearest period, so only these values are reachable. The current\n"
     "period (or the one --clock chose) is marked.\n",
     0, 1, RUN(cmd_clocks)},
    {"run", "FILE", "run a script ('-' reads stdin)",
     "Checks every line of FILE, then runs its statements in order, one sequence record\n"
     "each, and prints what each read returned as it arrives. One statement a line, '#'\n"
     "starts a comment:\n"
     "  set NAME VALUE       set a library variable (VALUE is the rest of the line)\n"
     "  read ADDR [COUNT]    read COUNT words (default 1; 0 checks the echo only)\n"
     "  write ADDR WORD...   write words from ADDR upward\n"
     "Every statement runs even after one fails; each failure is reported with its line.\n",
     1, 1, RUN(cmd_run)},
    {"loopback", "", "check the port with a loopback plug from pin 8 (D6) to pin 10",
     "With a plug from pin 8 (D6) to pin 10 (ACK, status bit 6) and no chip selected, plays\n"
     "a pseudo-random pattern on D6 straight through the port device and checks that bit 6\n"
     "follows D6: port mode, polarity and sample position without a chip. Prints \"loopback\n"
     "ok: ...\", or (status 1) what bit 6 does instead. With --sim it plays on the simulated\n"
     "board (--sim-wiring loopback models the plug).\n",
     0, 0, RUN(cmd_loopback)},
};

std::string forms(const OptionSpec &o, const char *sep)
{
    return (o.id < 256 ? std::string("-") + char(o.id) + sep : "") + o.name;
}

std::string usage_of(const Command &c)
{
    return std::string("spitool [OPTIONS] ") + c.name + (*c.usage ? " " : "") + c.usage;
}

std::string choice_list(const std::vector<Name> &names, const char *sep, const char *last)
{
    std::string list;
    for (size_t i = 0; i < names.size(); i++)
        list += (i == 0 ? "" : i + 1 < names.size() ? sep : last) + std::string(names[i].name);
    return list;
}

} // namespace spitool
