// SPDX-License-Identifier: MIT
// End-to-end suite: a host program that loads the shipped spifns.dll with
// LoadLibraryA and drives it only through its twelve exports, against the
// torvex driver's simulated boards. The boards are prepared and inspected
// through the driver's control device.
//
// Expects the driver started with: ports 1 to 4; port 1 direct wiring;
// port 2 multiplexed; port 3 refusing the probe write; port 4 direct with
// chip 0's processor stopped. Every case loads the library afresh, so each
// starts from the library's load state.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "spifns_dll.h"
#include "torvex_client.h"

namespace {

struct port_entry {
    int port;
    std::string name;
};
std::vector<port_entry> g_ports;
void __cdecl on_port(int port, const char *name, void *)
{
    g_ports.push_back({port, name ? name : "(null)"});
}

// The library, loaded for one case and unloaded at its end.
using library = spifns_dll;

// Boards as the driver's registry configured them, nothing injected.
bool restore_boards()
{
    bool ok = torvex::reset_board(1, 0) && torvex::reset_board(2, 1) &&
              torvex::reset_board(4, 0) && torvex::set_chip(4, 0, 1, TORVEX_KEEP);
    return ok;
}

bool port_closed(uint32_t port)
{
    return torvex::stats(port).open_now == 0;
}

std::vector<uint16_t> zeros(size_t n)
{
    return std::vector<uint16_t>(n, 0);
}

// Begins a case on the boards as the registry configured them.
void begin_board_case(const char *name)
{
    check::begin_case(name);
    CHECK(restore_boards());
}

// Loads the library afresh with all twelve exports; false when that failed.
bool load_fresh(library &lib)
{
    if (lib.load("spifns.dll") != nullptr && !lib.resolve())
        lib.unload();
    CHECK(lib.ok());
    return lib.ok();
}

enum class trace { off, on };

// The usual opening of a case: boards restored, the library loaded afresh
// and initialised, and with trace::on its trace lines gathered in an emptied
// g_trace. False when the library did not load.
bool begin_library_case(const char *name, library &lib, trace t = trace::on)
{
    begin_board_case(name);
    if (!load_fresh(lib))
        return false;
    lib.init();
    if (t == trace::on) {
        lib.set_debug_callback(on_trace);
        g_trace.clear();
    }
    return true;
}

void typical_request()
{
    begin_board_case("typical request: init, trace, SPIPORT 1, SPICLOCK 100, read 2 words, close");
    CHECK(torvex::mem_write(1, 0, 0x1000, {0x1234, 0xABCD}));
    library lib;
    if (!load_fresh(lib))
        return;
    g_trace.clear();
    const torvex_port_stats before = torvex::stats(1);
    CHECK_EQ(lib.init(), 0);
    lib.set_debug_callback(on_trace);
    uint16_t words[2] = {0, 0};
    seq_record records[3] = {setvar("SPIPORT", "1"), setvar("SPICLOCK", "100"),
                             transfer(SEQ_READ, 0x1000, 2, words)};
    CHECK_EQ(lib.sequence(records, 3), 0);
    CHECK_EQ(words[0], 0x1234);
    CHECK_EQ(words[1], 0xABCD);
    check_trace({"Delays set to 2\n", "1000-1001r 1234 ABCD\n"});
    const torvex_port_stats during = torvex::stats(1);
    CHECK_EQ(during.open_now, 1);
    CHECK_EQ(during.probes - before.probes, 1);
    // A read record of n words is n + 5 control calls.
    CHECK_EQ(during.plays - before.plays, 7);
    CHECK_EQ(during.read_transactions - before.read_transactions, 1);
    CHECK_EQ(lib.get_last_error(nullptr, nullptr), 0x100);
    lib.close();
    CHECK(port_closed(1));
    CHECK_STR(lib.getvar("SPIPORT"), "0");
}

void port_selection_and_enumeration()
{
    library lib;
    if (!begin_library_case("ports: enumeration over several ports, one refusing the probe write",
                            lib, trace::off))
        return;
    const uint32_t refusals_before = torvex::stats(3).probe_refusals;
    g_ports.clear();
    lib.enumerate_ports(on_port, nullptr);
    CHECK_EQ(g_ports.size(), 3);
    if (g_ports.size() == 3) {
        CHECK_EQ(g_ports[0].port, 1);
        CHECK_STR(g_ports[0].name.c_str(), "LPT1");
        CHECK_EQ(g_ports[1].port, 2);
        CHECK_STR(g_ports[1].name.c_str(), "LPT2");
        CHECK_EQ(g_ports[2].port, 4);
        CHECK_STR(g_ports[2].name.c_str(), "LPT4");
    }
    CHECK_EQ(torvex::stats(3).probe_refusals - refusals_before, 1);
    // Probes leave nothing open.
    for (uint32_t p = 1; p <= 4; ++p)
        CHECK(port_closed(p));

    check::begin_case("ports: selection, the open port missing from enumeration, failed selection");
    CHECK_EQ(lib.set("SPIPORT", "2"), 0);
    CHECK_STR(lib.getvar("SPIPORT"), "2");
    CHECK_EQ(torvex::stats(2).open_now, 1);
    g_ports.clear();
    lib.enumerate_ports(on_port, nullptr);
    CHECK_EQ(g_ports.size(), 2); // port 2 is held open: its probe fails
    if (g_ports.size() == 2) {
        CHECK_EQ(g_ports[0].port, 2);
        CHECK_STR(g_ports[0].name.c_str(), "LPT1");
        CHECK_EQ(g_ports[1].port, 4);
    }
    CHECK_EQ(torvex::stats(2).open_now, 1);

    CHECK_EQ(lib.set("SPIPORT", "3"), 1); // present, refuses the probe write
    CHECK_LAST_ERROR(lib, nullptr, 0x100, "Couldn't find LPT port");
    CHECK_STR(lib.getvar("SPIPORT"), "0");
    CHECK(port_closed(2));
    CHECK(port_closed(3));

    seq_record records[2] = {setvar("SPISHIFTPERIOD", "7"), setvar("SPIPORT", "4")};
    CHECK_EQ(lib.sequence(records, 2), 0);
    CHECK_STR(lib.getvar("SPIPORT"), "4");
    CHECK_STR(lib.getvar("SPISHIFTPERIOD"), "1");
    CHECK_EQ(lib.set("SPIPORT", "9"), 1); // no such device
    CHECK_STR(lib.getvar("SPIPORT"), "0");
    CHECK(port_closed(4));
    lib.close();
}

void round_trips()
{
    library lib;
    if (!begin_library_case("round trips: words written land in chip memory", lib))
        return;
    std::vector<uint16_t> out(10);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint16_t>(0x8001 ^ (i * 0x1357));
    out[1] = 0xFFFF;
    out[2] = 0x0000;
    seq_record records[2] = {setvar("SPIPORT", "1"),
                             transfer(SEQ_WRITE, 0x2000, static_cast<uint16_t>(out.size()), out.data())};
    CHECK_EQ(lib.sequence(records, 2), 0);
    CHECK(torvex::mem_read(1, 0, 0x2000, 10) == out);
    CHECK(torvex::mem_read(1, 0, 0x1FFF, 1) == zeros(1));
    CHECK(torvex::mem_read(1, 0, 0x200A, 1) == zeros(1));
    CHECK(torvex::mem_read(1, 1, 0x2000, 10) == zeros(10));
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "2000-2009w %04X %04X %04X %04X %04X %04X %04X %04X ...\n", out[0], out[1],
                  out[2], out[3], out[4], out[5], out[6], out[7]);
    check_trace({expected});

    begin_traced_case("round trips: words in chip memory are read back, at a slower clock");
    CHECK(torvex::mem_write(1, 0, 0x3000, {0x0001, 0x0000, 0x00FF}));
    uint16_t in[3] = {0xEEEE, 0xEEEE, 0xEEEE};
    seq_record slow[2] = {setvar("SPICLOCK", "50"), transfer(SEQ_READ, 0x3000, 3, in)};
    CHECK_EQ(lib.sequence(slow, 2), 0);
    CHECK_EQ(in[0], 0x0001);
    CHECK_EQ(in[1], 0x0000);
    CHECK_EQ(in[2], 0x00FF);
    check_trace({"Delays set to 3\n", "3000-3002r 0001 0000 00FF\n"});
    // A write at this period and its read-back through the library.
    uint16_t again[2] = {0xC3A5, 0x5A3C}, back[2] = {0, 0};
    seq_record both[2] = {transfer(SEQ_WRITE, 0x4000, 2, again), transfer(SEQ_READ, 0x4000, 2, back)};
    CHECK_EQ(lib.sequence(both, 2), 0);
    CHECK(torvex::mem_read(1, 0, 0x4000, 2) == (std::vector<uint16_t>{0xC3A5, 0x5A3C}));
    CHECK_EQ(back[0], 0xC3A5);
    CHECK_EQ(back[1], 0x5A3C);
    lib.close();
    CHECK(port_closed(1));
}

void processor_probe()
{
    library lib;
    if (!begin_library_case("probe: stopped 1, running 0, bad echo -1", lib))
        return;
    CHECK_EQ(lib.xap_stopped(), -1); // no port yet
    CHECK_EQ(lib.set("SPIPORT", "4"), 0); // chip 0 stopped (registry)
    const uint32_t reads_before = torvex::stats(4).read_transactions;
    CHECK_EQ(lib.xap_stopped(), 1);
    CHECK_EQ(torvex::stats(4).read_transactions - reads_before, 1); // the confirming read
    CHECK_EQ(lib.set("SPIPORT", "1"), 0); // chip 0 running
    CHECK_EQ(lib.xap_stopped(), 0);
    CHECK_EQ(torvex::stats(1).read_transactions, 0);

    CHECK(torvex::set_chip(4, 0, TORVEX_KEEP, 0x2)); // echo with its low bit inverted
    seq_record slow[2] = {setvar("SPIPORT", "4"), setvar("SPICLOCK", "10")};
    CHECK_EQ(lib.sequence(slow, 2), 0);
    CHECK_STR(lib.getvar("SPISHIFTPERIOD"), "17");
    g_trace.clear();
    CHECK_EQ(lib.xap_stopped(), -1);
    uint16_t address = 0;
    CHECK_LAST_ERROR(lib, &address, 0x103, "Unable to read");
    CHECK_EQ(address, 0xFF9A);
    CHECK_STR(lib.getvar("SPISHIFTPERIOD"), "1");
    check_trace({"FF9A     r ????\n"});
    CHECK(torvex::set_chip(4, 0, 1, 0));
    lib.close();
}

void multiplexed_selection()
{
    library lib;
    if (!begin_library_case("selection: SPIMUL 5 on the multiplexed port reaches chip 5 only", lib))
        return;
    uint16_t words[3] = {0x1111, 0x2222, 0x3333};
    seq_record records[3] = {setvar("SPIPORT", "2"), setvar("SPIMUL", "5"),
                             transfer(SEQ_WRITE, 0x0100, 3, words)};
    CHECK_EQ(lib.sequence(records, 3), 0);
    for (uint32_t chip = 0; chip < SIM_MAX_CHIPS; ++chip) {
        const std::vector<uint16_t> got = torvex::mem_read(2, chip, 0x0100, 3);
        CHECK(got == (chip == 5 ? std::vector<uint16_t>(words, words + 3) : zeros(3)));
    }
    CHECK_STR(lib.getvar("SPIMUL"), "5");
    check_trace({"MulitplexSelect: 008a mul:1 config:5 chip_num:5\n",
                 "0100-0102w 1111 2222 3333\n"});
    // Reads follow the channel too: chip 5 has the words, chip 6 none.
    uint16_t from5[3] = {0, 0, 0}, from6[3] = {9, 9, 9};
    seq_record reads[3] = {transfer(SEQ_READ, 0x0100, 3, from5), setvar("SPIMUL", "6"),
                           transfer(SEQ_READ, 0x0100, 3, from6)};
    CHECK_EQ(lib.sequence(reads, 3), 0);
    CHECK(std::memcmp(from5, words, sizeof words) == 0);
    CHECK(from6[0] == 0 && from6[1] == 0 && from6[2] == 0);
    lib.close();
}

void direct_selection()
{
    library direct;
    if (!begin_library_case("selection: spifns_chip_select(1) in direct wiring reaches chip 1 only",
                            direct))
        return;
    CHECK_EQ(direct.set("SPIPORT", "1"), 0);
    direct.chip_select(1);
    CHECK_STR(direct.getvar("SPIMUL"), "1");
    uint16_t one[2] = {0xAAAA, 0x0F0F};
    seq_record w1 = transfer(SEQ_WRITE, 0x0200, 2, one);
    CHECK_EQ(direct.sequence(&w1, 1), 0);
    CHECK(torvex::mem_read(1, 1, 0x0200, 2) == (std::vector<uint16_t>{0xAAAA, 0x0F0F}));
    CHECK(torvex::mem_read(1, 0, 0x0200, 2) == zeros(2));
    direct.chip_select(0);
    uint16_t zero[2] = {0x5555, 0xF0F0};
    seq_record w0 = transfer(SEQ_WRITE, 0x0200, 2, zero);
    CHECK_EQ(direct.sequence(&w0, 1), 0);
    CHECK(torvex::mem_read(1, 0, 0x0200, 2) == (std::vector<uint16_t>{0x5555, 0xF0F0}));
    CHECK(torvex::mem_read(1, 1, 0x0200, 2) == (std::vector<uint16_t>{0xAAAA, 0x0F0F}));
    check_trace({"ChipSelect: 0010 mul:0 confog:1 chip_num:1\n", "0200-0201w AAAA 0F0F\n", nullptr,
                 "0200-0201w 5555 F0F0\n"});
    direct.close();
}

void control_call_failure()
{
    begin_board_case("driver failure: an injected control-call failure gives ERR_IOCTL");
    CHECK(torvex::mem_write(1, 0, 0x0010, {0x7E57}));
    library lib;
    if (!load_fresh(lib))
        return;
    lib.init();
    CHECK_EQ(lib.set("SPIPORT", "1"), 0);
    CHECK(torvex::fail_plays(1, 1));
    uint16_t word = 0xEEEE;
    seq_record read = transfer(SEQ_READ, 0x0010, 1, &word);
    CHECK_EQ(lib.sequence(&read, 1), 1);
    CHECK_LAST_ERROR(lib, nullptr, 0x104, "IOCTL failed");
    CHECK_EQ(word, 0xEEEE);
    CHECK_EQ(torvex::stats(1).plays_failed, 1);
    // The next request goes through; the last error stays.
    CHECK_EQ(lib.sequence(&read, 1), 0);
    CHECK_EQ(word, 0x7E57);
    CHECK_LAST_ERROR(lib, nullptr, 0x104, "IOCTL failed");
    lib.close();
}

void trace_lines()
{
    library lib;
    if (!begin_library_case("trace: dump forms, SPIMUL -1, SPISLOWER, sink removal", lib))
        return;
    CHECK(torvex::mem_write(1, 0, 0xFFFF, {0xBEEF}));
    CHECK(torvex::mem_write(1, 0, 0x0000, {0xCAFE}));
    uint16_t w[2] = {0, 0}, none = 0, single = 0x00AB;
    seq_record records[6] = {setvar("SPIPORT", "1"),
                             setvar("SPIMUL", "-1"),
                             transfer(SEQ_READ, 0xFFFF, 2, w),
                             transfer(SEQ_WRITE, 0x0500, 0, &none),
                             transfer(SEQ_WRITE, 0x0600, 1, &single),
                             transfer(SEQ_READ, 0x0500, 0, nullptr)};
    CHECK_EQ(lib.sequence(records, 6), 0);
    CHECK_EQ(w[0], 0xBEEF);
    CHECK_EQ(w[1], 0xCAFE); // the chip's address wraps
    CHECK_EQ(lib.command("SPISLOWER"), 0);
    check_trace({"MulitplexSelect: 0080 mul:0 config:0 chip_num:-1\n", "FFFF-10000r BEEF CAFE\n",
                 "0500     w ????\n", "0600     w 00AB\n", "0500     r ????\n", "Delays now 2\n"});
    CHECK(torvex::mem_read(1, 0, 0x0600, 1) == std::vector<uint16_t>{0x00AB});
    lib.set_debug_callback(nullptr);
    CHECK_EQ(lib.sequence(&records[4], 1), 0);
    CHECK_EQ(g_trace.size(), 6);
    lib.close();
}

} // namespace

int main()
{
    typical_request();
    port_selection_and_enumeration();
    round_trips();
    processor_probe();
    multiplexed_selection();
    direct_selection();
    control_call_failure();
    trace_lines();
    CHECK(restore_boards());
    return check::finish("e2e_host");
}
