// SPDX-License-Identifier: MIT
// First check of the shipped spifns.dll on Windows (run under Wine): loads it
// the way host tools do, resolves the twelve exports by name and checks what
// works without any port driver in the system.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "load_replies.h"
#include "spifns_dll.h"

namespace {

struct enum_entry {
    int port;
    std::string name;
    void *context;
};
std::vector<enum_entry> g_ports;
void __cdecl on_port(int port, const char *name, void *context)
{
    g_ports.push_back({port, name ? name : "(null)", context});
}

void check_initial_state(const spifns_dll &f)
{
    check::begin_case("load state: version, last error, variables");
    CHECK_EQ(f.get_version(), 0x103);
    uint16_t address = 0xFFFF;
    CHECK_LAST_ERROR(f, &address, 0x100, "No error");
    CHECK_EQ(address, 0);
    CHECK_EQ(f.get_last_error(nullptr, nullptr), 0x100);
    for (const auto &[name, reply] : LOAD_REPLIES)
        CHECK_STR(f.getvar(name), reply);
    CHECK_STR(f.getvar("SPICMDBITS"), "");
    CHECK_STR(f.getvar(nullptr), "");

    check::begin_case("variable table");
    const var_entry *table = nullptr;
    int count = 0;
    f.getvarlist(&table, &count);
    CHECK_EQ(count, 8);
    for (int i = 0; table != nullptr && i < 8 && i < count; ++i) {
        CHECK_STR(table[i].name, VARIABLE_TABLE[i].name);
        CHECK_STR(table[i].default_text, VARIABLE_TABLE[i].default_text);
        CHECK_EQ(table[i].flags, VARIABLE_TABLE[i].flags);
    }
}

void check_enumeration_without_devices(const spifns_dll &f)
{
    check::begin_case("enumeration with no port devices: only the first entry");
    g_ports.clear();
    int context = 0;
    f.enumerate_ports(on_port, &context);
    CHECK_EQ(g_ports.size(), 1);
    if (!g_ports.empty()) {
        CHECK_EQ(g_ports[0].port, 1);
        CHECK_STR(g_ports[0].name.c_str(), "LPT1");
        CHECK(g_ports[0].context == &context);
    }
}

void check_missing_port(const spifns_dll &f)
{
    begin_traced_case("SPIPORT to a missing port");
    CHECK_EQ(f.set("SPIPORT", "3"), 1);
    uint16_t address = 0xFFFF;
    CHECK_LAST_ERROR(f, &address, 0x100, "Couldn't find LPT port");
    CHECK_EQ(address, 0);
    CHECK_STR(f.getvar("SPIPORT"), "1"); // nothing was open, so nothing changed
    CHECK(g_trace.empty());
    g_ports.clear();
    f.enumerate_ports(on_port, nullptr);
    CHECK_EQ(g_ports.size(), 1);
    if (!g_ports.empty())
        CHECK_EQ(g_ports[0].port, 1);
}

void check_sequence_without_port(const spifns_dll &f)
{
    begin_traced_case("sequence with no port: settings apply, transfers fail with ERR_NO_PORT");
    uint16_t read_buffer[2] = {0xAAAA, 0x5555};
    uint16_t write_buffer[1] = {0x1234};
    seq_record records[3] = {setvar("SPICLOCK", "100"), transfer(SEQ_READ, 0x1000, 2, read_buffer),
                             transfer(SEQ_WRITE, 0x2000, 1, write_buffer)};
    CHECK_EQ(f.sequence(records, 3), 1);
    CHECK_LAST_ERROR(f, nullptr, 0x102, "No LPT port selected");
    CHECK_EQ(read_buffer[0], 0xAAAA);
    CHECK_EQ(read_buffer[1], 0x5555);
    CHECK_STR(f.getvar("SPISHIFTPERIOD"), "2");
    CHECK_STR(f.getvar("SPICLOCK"), "86.205000");
    // The clock line, then the write's dump line (written before the attempt).
    check_trace({"Delays set to 2\n", "2000     w 1234\n"});
    CHECK_EQ(f.xap_stopped(), -1);
    CHECK_EQ(f.get_last_error(nullptr, nullptr), 0x102);
    CHECK_EQ(f.sequence(records, 0), 0);
    CHECK_EQ(f.sequence(records, -1), 0);
}

void check_settings(const spifns_dll &f)
{
    begin_traced_case("SPISLOWER and other commands");
    CHECK_EQ(f.set("SPISHIFTPERIOD", "1"), 0);
    static const int steps[12] = {2, 3, 4, 6, 8, 11, 14, 18, 23, 29, 37, 47};
    for (int expected : steps) {
        CHECK_EQ(f.command("SPISLOWER"), 0);
        CHECK_EQ(std::atoi(f.getvar("SPISHIFTPERIOD")), expected);
    }
    CHECK_EQ(f.command("spislower"), 0);
    CHECK_STR(f.getvar("SPISHIFTPERIOD"), "47");
    CHECK_STR(f.getvar("SPICLOCK"), "3.668298");
    CHECK_EQ(f.command("SPIFASTER"), 0);
    CHECK_STR(f.getvar("SPISHIFTPERIOD"), "47");
    CHECK_EQ(g_trace.size(), 13);
    if (g_trace.size() == 13) {
        CHECK_STR(g_trace[0].c_str(), "Delays set to 1\n");
        CHECK_STR(g_trace[1].c_str(), "Delays now 2\n");
        CHECK_STR(g_trace[12].c_str(), "Delays now 47\n");
    }

    begin_traced_case("chip select and trace sink removal");
    f.chip_select(1);
    CHECK_STR(f.getvar("SPIMUL"), "1");
    check_trace({"ChipSelect: 0010 mul:0 confog:1 chip_num:1\n"});
    f.set_debug_callback(nullptr);
    f.chip_select(0);
    CHECK_EQ(g_trace.size(), 1);
    CHECK_EQ(f.init(), 0);
    f.close();
    CHECK_EQ(f.get_version(), 0x103);
}

} // namespace

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "spifns.dll";
    check::begin_case("LoadLibraryA and the twelve exports by name");
    spifns_dll f;
    const HMODULE dll = f.load(path);
    CHECK(dll != nullptr);
    if (dll == nullptr) {
        std::printf("  LoadLibraryA(%s) failed: error %lu\n", path, GetLastError());
        return check::finish("wine_check");
    }
    const bool all = f.resolve();
    CHECK(all);
    if (!all)
        return check::finish("wine_check");

    check_initial_state(f);
    f.set_debug_callback(on_trace);
    check_enumeration_without_devices(f);
    check_missing_port(f);
    check_sequence_without_port(f);
    check_settings(f);
    f.unload();
    return check::finish("wine_check");
}
