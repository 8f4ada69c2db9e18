// SPDX-License-Identifier: MIT
// Checks the port driver's contract directly, without the library: the
// devices the registry configured, the exclusive open, the probe write, the
// play request and everything it must refuse, and the control device of the
// simulated back end.
//
// Expects the driver started with: Ports 1 to 4, port 2 multiplexed
// (Wiring2 = 1), port 3 refusing the probe write (RefuseProbe bit 3), and on
// port 4 chip 0 stopped (StoppedChips4 = 1). Ports 5 and up are absent.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "check.h"
#include "torvex_client.h"

namespace {

HANDLE open_path(const char *path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE open_port(int n)
{
    char path[32];
    std::snprintf(path, sizeof path, SPIFNS_DEVICE_PREFIX "%d", n);
    return open_path(path);
}

// Whether a create gave a handle; the handle is closed again.
bool opened(HANDLE h)
{
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

bool write_bytes(HANDLE h, const void *data, DWORD n)
{
    DWORD written = 0;
    return WriteFile(h, data, n, &written, nullptr) != 0 && written == n;
}

bool probe(HANDLE h)
{
    const uint8_t b = OPEN_PROBE_BYTE;
    return write_bytes(h, &b, 1);
}

// A port opened and armed, closed at scope exit.
struct port_handle {
    HANDLE h;
    explicit port_handle(int n) : h(open_port(n))
    {
        if (h != INVALID_HANDLE_VALUE && !probe(h)) {
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
        }
    }
    ~port_handle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

bool play(HANDLE h, const std::vector<uint8_t> &out, std::vector<uint8_t> &status)
{
    status.assign(out.size(), 0xEE);
    DWORD returned = 0;
    return DeviceIoControl(h, PLAY_CONTROL_CODE, const_cast<uint8_t *>(out.data()),
                           (DWORD)out.size(), status.data(), (DWORD)status.size(), &returned,
                           nullptr) != 0 &&
           returned == out.size();
}

using torvex::control;
using torvex::mem_read;
using torvex::mem_write;
using torvex::reset_board;
using torvex::stats;

// Builds SPI transactions by hand, one output byte per half clock: the clock falls
// with the new data bit and rises with it unchanged; the board samples on the
// rising edge and the status byte of that rising byte carries the chip's bit.
struct transaction {
    std::vector<uint8_t> out;
    std::vector<size_t> sample_at; // index of each bit's rising byte
    uint8_t select;                // line byte that selects the chip, clock low

    explicit transaction(uint8_t select_lines) : select(select_lines)
    {
        out.push_back(static_cast<uint8_t>(select | 0x01 | 0x80)); // nobody selected
        out.push_back(static_cast<uint8_t>((select | 0x01) & ~0x02)); // still nobody (direct wiring)
        out.push_back(select);                                        // select, clock low
    }
    // A whole transaction of (value, bit count) fields.
    transaction(uint8_t select_lines, std::initializer_list<std::pair<uint32_t, int>> fields) : transaction(select_lines)
    {
        for (const auto &[value, n] : fields)
            bits(value, n);
        end();
    }
    void bits(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            const uint8_t data = ((value >> i) & 1) ? 0x40 : 0x00;
            out.push_back(static_cast<uint8_t>(select | data));
            sample_at.push_back(out.size());
            out.push_back(static_cast<uint8_t>(select | data | 0x80));
        }
    }
    void end() { out.push_back(static_cast<uint8_t>(select | 0x01)); }
    // The 16 bits sampled at bit positions first .. first + 15.
    uint16_t word(const std::vector<uint8_t> &status, size_t first) const
    {
        uint16_t w = 0;
        for (size_t i = 0; i < 16; ++i)
            w = static_cast<uint16_t>(w << 1 | ((status[sample_at[first + i]] >> 6) & 1));
        return w;
    }
};

void test_configured_ports()
{
    check::begin_case("registry: ports 1 to 4 exist, 5 and up do not");
    for (int n = 1; n <= 4; ++n)
        CHECK(opened(open_port(n)));
    for (int n : {0, 5, 6, 16, 31, 32})
        CHECK(!opened(open_port(n)));
    CHECK_EQ(stats(1).wiring, 0);
    CHECK_EQ(stats(2).wiring, 1);

    check::begin_case("registry: port 3 opens but refuses the probe write");
    {
        HANDLE h = open_port(3);
        CHECK(h != INVALID_HANDLE_VALUE);
        CHECK(!probe(h));
        std::vector<uint8_t> st;
        CHECK(!play(h, {0x10, 0x11}, st));
        CloseHandle(h);
        // Steered at run time: accepted once the refusal is lifted.
        torvex_port_request r{3, 0};
        CHECK(control(TORVEX_IOCTL_REFUSE_PROBE, &r, sizeof r, nullptr, 0));
        port_handle p(3);
        CHECK(p.ok());
        r.value = 1;
        CHECK(control(TORVEX_IOCTL_REFUSE_PROBE, &r, sizeof r, nullptr, 0));
    }
    {
        port_handle p(3);
        CHECK(!p.ok());
    }

    check::begin_case("registry: processor state of port 4 chip 0 (stopped)");
    {
        // Before the first clock of a transaction the data-out line shows the
        // processor state: 1 stopped (port 4 chip 0), 0 running (port 1).
        port_handle p4(4), p1(1);
        CHECK(p4.ok() && p1.ok());
        transaction f(0x10);
        std::vector<uint8_t> st;
        CHECK(play(p4.h, f.out, st));
        CHECK_EQ(st.back() & 0x40, 0x40);
        CHECK(reset_board(1, 0));
        CHECK(play(p1.h, f.out, st));
        CHECK_EQ(st.back() & 0x40, 0);
    }
}

void test_exclusive_open()
{
    check::begin_case("open: exclusive, released by close");
    const torvex_port_stats before = stats(1);
    HANDLE a = open_port(1);
    CHECK(a != INVALID_HANDLE_VALUE);
    // The device is exclusive and the driver refuses the second create.
    // Windows then fails CreateFileA; Wine hands out the handle all the same,
    // so the refusal shows as a handle that can neither arm the port the
    // first handle armed nor play, and whose close does not release it.
    HANDLE b = open_port(1);
    CHECK(probe(a));
    if (b != INVALID_HANDLE_VALUE) {
        std::vector<uint8_t> st;
        CHECK(!probe(b));
        CHECK(!play(b, {0x10, 0x11}, st));
        CloseHandle(b);
    }
    std::vector<uint8_t> st;
    CHECK(play(a, {0x10, 0x11}, st));
    // Another port is not affected.
    HANDLE other = open_port(2);
    CHECK(other != INVALID_HANDLE_VALUE);
    CHECK_EQ(stats(1).open_now, 1);
    CloseHandle(a);
    CloseHandle(other);
    CHECK_EQ(stats(1).open_now, 0);
    HANDLE c = open_port(1);
    CHECK(c != INVALID_HANDLE_VALUE);
    CloseHandle(c);
    const torvex_port_stats after = stats(1);
    CHECK_EQ(after.opens - before.opens, 2);
    CHECK_EQ(after.open_refusals - before.open_refusals, 1);
}

// Each reopen right after a close gets the port. Under Wine the close of a
// handle can reach the driver after the next create; the probe byte of the
// new handle must still claim the port.
void test_reopen_after_close()
{
    check::begin_case("open: a reopen right after a close gets the port, 500 times");
    int failures = 0;
    for (int i = 0; i < 500; ++i) {
        // An open closed at once (as a presence check does), then a use.
        CloseHandle(open_port(1));
        HANDLE h = open_port(1);
        if (h == INVALID_HANDLE_VALUE || !probe(h))
            ++failures;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    CHECK_EQ(failures, 0);
}

void test_probe_write()
{
    check::begin_case("write: only the single byte 0xCB arms the device");
    HANDLE h = open_port(1);
    CHECK(h != INVALID_HANDLE_VALUE);
    std::vector<uint8_t> st;
    CHECK(!play(h, {0x10, 0x11}, st)); // not armed yet
    const uint8_t zero = 0x00, two[2] = {0xCB, 0xCB};
    CHECK(!write_bytes(h, &zero, 1));
    CHECK(!write_bytes(h, two, 2));
    CHECK(!play(h, {0x10, 0x11}, st)); // refused writes do not arm
    CHECK(probe(h));
    CHECK(play(h, {0x10, 0x11}, st));
    CloseHandle(h);
    // A new open starts unarmed again.
    h = open_port(1);
    CHECK(!play(h, {0x10, 0x11}, st));
    CloseHandle(h);
}

void test_play_refusals()
{
    check::begin_case("play: malformed requests refused, device still serves");
    port_handle p(1);
    CHECK(p.ok());
    std::vector<uint8_t> in(64, 0x10), out(64, 0);
    DWORD returned = 0;
    auto call = [&](DWORD code, DWORD in_n, DWORD out_n) {
        return DeviceIoControl(p.h, code, in.data(), in_n, out.data(), out_n, &returned,
                               nullptr) != 0;
    };
    const torvex_port_stats before = stats(1);
    CHECK(!call(0, 8, 16));                       // lengths differ
    CHECK(!call(0, 16, 8));
    CHECK(!call(0, 0, 0));                        // empty
    CHECK(!call(0, 8, 0));
    CHECK(!call(1, 8, 8));                        // other control codes
    CHECK(!call(4, 8, 8));
    CHECK(!call(TORVEX_IOCTL_GET_STATS, 8, 8));   // control-device code on a port
    CHECK(!call(TORVEX_IOCTL_MEM_READ, 16, 8));
    CHECK(!call(0x00220000, 8, 8));               // CTL_CODE(FILE_DEVICE_UNKNOWN, 0, ...)
    CHECK_EQ(stats(1).play_refusals - before.play_refusals, 9);
    CHECK(call(0, 8, 8));
    CHECK_EQ(returned, 8);

    check::begin_case("play: largest request served, one byte more refused");
    std::vector<uint8_t> big(TORVEX_MAX_PLAY + 1, 0x10), big_status(TORVEX_MAX_PLAY + 1, 0xEE);
    returned = 0;
    CHECK(DeviceIoControl(p.h, PLAY_CONTROL_CODE, big.data(), TORVEX_MAX_PLAY + 1, big_status.data(),
                          TORVEX_MAX_PLAY + 1, &returned, nullptr) == 0);
    CHECK(DeviceIoControl(p.h, PLAY_CONTROL_CODE, big.data(), TORVEX_MAX_PLAY, big_status.data(),
                          TORVEX_MAX_PLAY, &returned, nullptr) != 0);
    CHECK_EQ(returned, TORVEX_MAX_PLAY);
    // Every status byte was written (the simulated board only drives bit 6),
    // and the byte past the request was not.
    bool all_written = true;
    for (uint32_t i = 0; i < TORVEX_MAX_PLAY; ++i)
        all_written = all_written && (big_status[i] & ~0x40) == 0;
    CHECK(all_written);
    CHECK_EQ(big_status[TORVEX_MAX_PLAY], 0xEE);
}

void test_transactions_through_board()
{
    check::begin_case("play: a write transaction lands in chip 0's memory");
    {
        CHECK(reset_board(1, 0));
        port_handle p(1);
        const transaction f(0x10, {{0x02, 8}, {0x1234, 16}, {0xBEEF, 16}, {0x0102, 16}});
        std::vector<uint8_t> st;
        CHECK(p.ok() && play(p.h, f.out, st));
        const std::vector<uint16_t> got = mem_read(1, 0, 0x1233, 4);
        CHECK(got == (std::vector<uint16_t>{0, 0xBEEF, 0x0102, 0}));
        CHECK(mem_read(1, 1, 0x1234, 1) == std::vector<uint16_t>{0});
        CHECK_EQ(stats(1).words_written, 2);
    }

    check::begin_case("play: a read transaction returns echo and memory on status bit 6");
    {
        CHECK(reset_board(1, 0));
        CHECK(mem_write(1, 0, 0xFF00, {0xA5C3, 0x0F0F}));
        port_handle p(1);
        const transaction f(0x10, {{0x03, 8}, {0xFF00, 16}, {0, 16 * 3}});
        std::vector<uint8_t> st;
        CHECK(p.ok() && play(p.h, f.out, st));
        CHECK_EQ(f.word(st, 24), 0x03FF);
        CHECK_EQ(f.word(st, 40), 0xA5C3);
        CHECK_EQ(f.word(st, 56), 0x0F0F);
    }

    check::begin_case("play: multiplexed port 2 reaches only the chip on channel 5");
    {
        CHECK(reset_board(2, 1));
        port_handle p(2);
        const transaction f(static_cast<uint8_t>(5 << 1), {{0x02, 8}, {0x0040, 16}, {0x5555, 16}});
        std::vector<uint8_t> st;
        CHECK(p.ok() && play(p.h, f.out, st));
        for (uint32_t chip = 0; chip < SIM_MAX_CHIPS; ++chip)
            CHECK_EQ(mem_read(2, chip, 0x0040, 1).at(0), chip == 5 ? 0x5555 : 0);
        // The other port's board saw nothing of it.
        CHECK_EQ(mem_read(1, 5, 0x0040, 1).at(0), 0);
    }

    check::begin_case("play: port 1 reset to the loopback plug shows D6 on status bit 6");
    {
        CHECK(reset_board(1, 2)); // wiring 2: the loopback plug
        CHECK_EQ(stats(1).wiring, 2);
        {
            port_handle p(1);
            const std::vector<uint8_t> out{0x41, 0x01, 0x40, 0x00};
            std::vector<uint8_t> st;
            CHECK(p.ok() && play(p.h, out, st));
            for (size_t i = 0; i < out.size(); ++i)
                CHECK_EQ(st[i] & 0x40, out[i] & 0x40);
        }
        CHECK(reset_board(1, 0));
    }
}

void test_control_device()
{
    check::begin_case("control: malformed requests refused");
    {
        torvex_mem_request r{1, 0, 0, 1};
        uint16_t w = 0;
        CHECK(control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, &w, 2));
        r.chip = SIM_MAX_CHIPS;
        CHECK(!control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, &w, 2));
        r = {1, 0, 0xFFFF, 2}; // runs past the last word
        uint16_t two[2];
        CHECK(!control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, two, 4));
        r = {1, 0, 0x10000, 0};
        CHECK(!control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, nullptr, 0));
        r = {1, 0, 0, 2}; // output length does not match the count
        CHECK(!control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, two, 2));
        r = {1, 0, 0, 0x80000000u}; // count whose byte length wraps
        CHECK(!control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, nullptr, 0));
        CHECK(!control(TORVEX_IOCTL_MEM_WRITE, &r, sizeof r, nullptr, 0));
        r = {1, 0, 0, 3}; // write with fewer words than counted
        uint8_t in[sizeof r + 4];
        std::memcpy(in, &r, sizeof r);
        CHECK(!control(TORVEX_IOCTL_MEM_WRITE, in, sizeof in, nullptr, 0));
        CHECK(!control(TORVEX_IOCTL_MEM_WRITE, in, 8, nullptr, 0)); // short header
        for (uint32_t port : {0u, 5u, 32u, 0xFFFFFFFFu}) {
            r = {port, 0, 0, 1};
            CHECK(!control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, &w, 2));
        }
        torvex_chip_request c{1, 0, 2, TORVEX_KEEP}; // stopped must be 0 or 1
        CHECK(!control(TORVEX_IOCTL_SET_CHIP, &c, sizeof c, nullptr, 0));
        c = {1, 0, TORVEX_KEEP, 0x100}; // unknown fault bit
        CHECK(!control(TORVEX_IOCTL_SET_CHIP, &c, sizeof c, nullptr, 0));
        torvex_port_request p{1, 3}; // wiring 3 does not exist
        CHECK(!control(TORVEX_IOCTL_RESET_BOARD, &p, sizeof p, nullptr, 0));
        torvex_port_stats s;
        CHECK(!control(TORVEX_IOCTL_GET_STATS, &p, sizeof p, &s, sizeof s - 4));
        CHECK(!control(TORVEX_CTL_CODE(0x8FF), &p, sizeof p, nullptr, 0));
        CHECK(!control(PLAY_CONTROL_CODE, &p, sizeof p, &s, sizeof p));
        // Nothing the refused requests named was touched.
        CHECK_EQ(stats(1).wiring, 0);
    }

    check::begin_case("control: injected play failures, then service again");
    {
        port_handle p(1);
        CHECK(p.ok());
        torvex_port_request r{1, 2};
        CHECK(control(TORVEX_IOCTL_FAIL_PLAYS, &r, sizeof r, nullptr, 0));
        const torvex_port_stats before = stats(1);
        CHECK_EQ(before.fail_pending, 2);
        std::vector<uint8_t> st;
        CHECK(!play(p.h, {0x10, 0x11}, st));
        CHECK(!play(p.h, {0x10, 0x11}, st));
        CHECK(play(p.h, {0x10, 0x11}, st));
        const torvex_port_stats after = stats(1);
        CHECK_EQ(after.plays_failed - before.plays_failed, 2);
        CHECK_EQ(after.plays - before.plays, 1);
        CHECK_EQ(after.fail_pending, 0);
    }
}

// Who may open what: SYSTEM and the Administrators all access; on a port
// device also the interactive users, with the read and write access hosts
// open it with. Wine keeps no DACL on device handles (the query returns
// none), so there only the query itself runs.
void test_device_access()
{
    check::begin_case("access: the control device for SYSTEM and Administrators, ports for users too");
    struct want_ace {
        WELL_KNOWN_SID_TYPE who;
        ACCESS_MASK mask;
    };
    const want_ace admin[] = {{WinLocalSystemSid, FILE_ALL_ACCESS}, {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS}};
    const want_ace users[] = {{WinLocalSystemSid, FILE_ALL_ACCESS}, {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
                              {WinInteractiveSid, FILE_GENERIC_READ | FILE_GENERIC_WRITE}};
    const std::pair<const char *, std::vector<want_ace>> devices[] = {
        {SPIFNS_DEVICE_PREFIX "CTL", {std::begin(admin), std::end(admin)}},
        {"\\\\.\\TORVEX1", {std::begin(users), std::end(users)}}};
    for (const auto &[path, aces] : devices) {
        HANDLE h = CreateFileA(path, READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        CHECK(h != INVALID_HANDLE_VALUE);
        alignas(8) BYTE sd[1024];
        DWORD need = 0;
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        CHECK(GetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, sd, sizeof sd, &need) &&
              GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
        CloseHandle(h);
        if (!present || dacl == nullptr) {
            std::printf("note: %s: no DACL on its handle (Wine): not compared\n", path);
            continue;
        }
        CHECK_EQ(dacl->AceCount, aces.size());
        for (DWORD i = 0; i < dacl->AceCount && i < aces.size(); ++i) {
            void *ace = nullptr;
            BYTE sid[SECURITY_MAX_SID_SIZE];
            DWORD sid_size = sizeof sid;
            CHECK(GetAce(dacl, i, &ace) && CreateWellKnownSid(aces[i].who, nullptr, sid, &sid_size));
            auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
            CHECK_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
            CHECK_EQ(allowed->Mask, aces[i].mask);
            CHECK(EqualSid(&allowed->SidStart, sid));
        }
    }
}

// Hardware back end, configured with ports 1 to 4: port 1 at 0x378 without
// the read-back check, port 2 at 0x379 (not a multiple of 4, and overlapping
// port 1: refused), port 3 at 0x50 (below 0x100: refused), port 4 at 0x2F8.
// Nothing here plays. Arming touches the port's registers, which the x64
// driver under Wine cannot (its port access is inline in/out instructions,
// privileged in Wine's user-mode device host): port_io false skips arming.
void test_hardware_configuration(bool port_io)
{
    check::begin_case("hardware: ports with a refused I/O base are not created");
    for (int n = 1; n <= 5; ++n)
        CHECK(opened(open_port(n)) == (n == 1 || n == 4));
    // The control device is for simulated boards only.
    CHECK(!opened(open_path(SPIFNS_DEVICE_PREFIX "CTL")));

    check::begin_case("hardware: open, probe and refusals as with the simulated boards");
    HANDLE a = open_port(1);
    CHECK(a != INVALID_HANDLE_VALUE);
    const uint8_t wrong = 0xCA;
    CHECK(!write_bytes(a, &wrong, 1));
    std::vector<uint8_t> st;
    CHECK(!play(a, {0x10, 0x11}, st)); // not armed: refused before any I/O
    CHECK(!port_io || probe(a));
    HANDLE b = port_io ? open_port(1) : INVALID_HANDLE_VALUE;
    if (b != INVALID_HANDLE_VALUE) {
        CHECK(!probe(b));
        CloseHandle(b);
    }
    std::vector<uint8_t> in(8, 0x10), out(8, 0);
    DWORD returned = 0;
    CHECK(DeviceIoControl(a, PLAY_CONTROL_CODE, in.data(), 8, out.data(), 4, &returned, nullptr) == 0);
    CHECK(DeviceIoControl(a, PLAY_CONTROL_CODE, in.data(), 0, out.data(), 0, &returned, nullptr) == 0);
    CHECK(DeviceIoControl(a, 1, in.data(), 8, out.data(), 8, &returned, nullptr) == 0);
    CloseHandle(a);
    if (!port_io)
        return;

    check::begin_case("hardware: a port whose data lines do not read back refuses the probe");
    HANDLE c = open_port(4);
    CHECK(c != INVALID_HANDLE_VALUE);
    CHECK(!probe(c));
    CloseHandle(c);
}

// After the driver was stopped: no device of it is left.
void test_unloaded()
{
    check::begin_case("unload: every device and link is gone");
    for (int n = 1; n <= 5; ++n)
        CHECK(!opened(open_port(n)));
    CHECK(!opened(open_path(SPIFNS_DEVICE_PREFIX "CTL")));
}

} // namespace

// Without arguments: the simulated configuration of the file comment.
// "hardware": the hardware configuration above ("hardware no-port-io": without
// arming). "unloaded": the driver stopped.
int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "hardware") == 0) {
        test_hardware_configuration(!(argc > 2 && std::strcmp(argv[2], "no-port-io") == 0));
    } else if (std::strcmp(mode, "unloaded") == 0) {
        test_unloaded();
    } else {
        test_configured_ports();
        test_exclusive_open();
        test_reopen_after_close();
        test_probe_write();
        test_play_refusals();
        test_transactions_through_board();
        test_control_device();
        test_device_access();
    }
    return check::finish("driver_check");
}
