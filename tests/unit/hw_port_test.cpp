// SPDX-License-Identifier: MIT
// The driver's hardware back end over a model of a PC parallel port, with
// the simulated board at its pins, served to the library as port 1.
#include "link_fixture.h"

#include "hw_port.h"
#include "loopback.h"
#include "pc_port.h"
#include "port_play.h"
#include "transfer/transfer.h"

namespace {

// Data lines that select no chip in either wiring, with the clock low.
bool safe_lines(int level)
{
    return (level & (LINE_CS | LINE_SEL2 | LINE_CLK)) == LINE_CS;
}

struct HwPortTest : LinkTest {
    std::unique_ptr<sim_board> board = std::make_unique<sim_board>();
    pc_port_model model;
    hw_port port{};
    std::vector<uint8_t> played;     // the library's output bytes, in order
    bool hand_over = true;           // the system driver hands the port over
    std::vector<std::string> events; // claim and free, with the accesses before them

    void SetUp() override
    {
        LinkTest::SetUp();
        sim_board_init(board.get(), SIM_WIRING_DIRECT);
        model.board = board.get();
        port.io = {out, in, nullptr, nullptr, this};
        port.base = model.base;
        port.ecr = model.ecr;
        port.ecr_probe = true;
        port.status_writable = true;
        port.verify = true;
    }
    static HwPortTest *self(void *c) { return static_cast<HwPortTest *>(c); }
    static void out(void *c, uint32_t a, uint8_t v) { self(c)->model.out(a, v); }
    static uint8_t in(void *c, uint32_t a) { return self(c)->model.in(a); }
    static bool claim(void *c)
    {
        self(c)->events.push_back("claim@" + std::to_string(self(c)->model.log.size()));
        return self(c)->hand_over;
    }
    static void free(void *c) { self(c)->events.push_back("free@" + std::to_string(self(c)->model.log.size())); }
    static int play(void *c, const uint8_t *o, uint8_t *status, uint32_t n)
    {
        self(c)->played.insert(self(c)->played.end(), o, o + n);
        port_ops ops{hw_port_put, hw_port_take, &self(c)->port, nullptr, nullptr};
        port_play(&ops, o, status, n);
        return 1;
    }
    void attach() { open_port(play, this); }
    // A word written and read back through the library, the port and the board.
    bool reads_back_right(uint16_t address, uint16_t word)
    {
        uint16_t back = 0;
        const bool ok = write_words(address, 1, &word) == 0 && cs_pulse() &&
                        read_words(address, 1, &back) == 0 && back == word;
        return cs_pulse() && ok;
    }
    // Accesses [from, to) outside plays keep the lines safe: every byte
    // written to the data register, and every level the driven data lines
    // change to, selects no chip and holds the clock low; the control
    // register never gets its interrupt bit, the ECR never its interrupts.
    void expect_lines_safe(size_t from, size_t to)
    {
        for (size_t i = from; i < to; ++i) {
            const pc_port_access &a = model.log[i];
            if (a.write && a.address == port.base) {
                EXPECT_TRUE(safe_lines(a.value)) << i << ": data 0x" << std::hex << +a.value;
            }
            if (a.write && a.address == port.base + PP_CONTROL) {
                EXPECT_EQ(a.value & CONTROL_IRQ_ENABLE, 0) << i;
            }
            if (a.write && a.address == port.ecr) {
                EXPECT_EQ(a.value & ECR_QUIET, ECR_QUIET) << i;
            }
            const int level = model.pin_log[i];
            if (i > 0 && level >= 0 && level != model.pin_log[i - 1]) {
                EXPECT_TRUE(safe_lines(level)) << i << ": lines 0x" << std::hex << level;
            }
        }
    }
    size_t writes_to(uint32_t address) const
    {
        size_t n = 0;
        for (const pc_port_access &a : model.log)
            n += a.write && a.address == address;
        return n;
    }
};

TEST_F(HwPortTest, ArmPlayAndReleaseTouchOnlyThePortsRegistersInOrder)
{
    model.control = 0x3C; // direction and interrupt on, INIT and SELECT-IN high
    model.mode = PC_MODE_ECP;
    ASSERT_EQ(hw_port_arm(&port), HW_ARMED);
    for (const pc_port_access &a : model.log)
        EXPECT_TRUE(a.address - port.base <= 2 || a.address == port.ecr) << std::hex << a.address;
    EXPECT_EQ(model.mode, PC_MODE_SPP);
    EXPECT_EQ(model.control, 0x0C); // only 0x20 and 0x10 cleared
    EXPECT_EQ(model.pins(), LINE_NEUTRAL);
    const size_t armed_at = model.log.size();
    expect_lines_safe(0, armed_at);

    attach();
    ASSERT_TRUE(reads_back_right(0x1000, 0x1234));
    EXPECT_EQ(board->chips[0].mem[0x1000], 0x1234);
    // Exactly one data write and one status read per output byte, in order,
    // carrying the library's bytes.
    ASSERT_EQ(model.log.size() - armed_at, 2 * played.size());
    for (size_t i = 0; i < played.size(); ++i) {
        EXPECT_EQ(model.log[armed_at + 2 * i], (pc_port_access{true, port.base, played[i]})) << i;
        EXPECT_FALSE(model.log[armed_at + 2 * i + 1].write);
        EXPECT_EQ(model.log[armed_at + 2 * i + 1].address, port.base + 1) << i;
    }

    const size_t released_at = model.log.size();
    hw_port_release(&port);
    // The neutral byte, then the state found at arm without direction and
    // interrupts: the control lines, the ECR's mode.
    const std::vector<pc_port_access> release(model.log.begin() + released_at, model.log.end());
    EXPECT_EQ(release, (std::vector<pc_port_access>{{true, port.base, LINE_NEUTRAL},
                                                    {true, port.base + 2, 0x0C},
                                                    {true, port.ecr, PC_MODE_ECP << 5 | ECR_QUIET}}));
    expect_lines_safe(released_at, model.log.size());
    EXPECT_EQ(model.mode, PC_MODE_ECP);
}

TEST_F(HwPortTest, OnlyStatusBit6IsTheChipsDataOut)
{
    ASSERT_EQ(hw_port_arm(&port), HW_ARMED);
    attach();
    for (unsigned c = 0; c < 128; ++c) {
        // The seven other bits: 7 (inverted BUSY pin), 5 to 3 (pins), 2 to 0.
        const uint8_t s = static_cast<uint8_t>((c & 0x40) << 1 | (c & 0x3F));
        model.input_pins = static_cast<uint8_t>((~s & 0x80) | (s & 0x38));
        model.reserved_bits = s & 0x07;
        ASSERT_EQ(model.in(port.base + 1) & 0xBF, s);
        ASSERT_TRUE(reads_back_right(static_cast<uint16_t>(0x100 + c), static_cast<uint16_t>(0x9000 + c * 0x0101)));
    }
}

TEST_F(HwPortTest, NoChipOrNoCableFailsTheProbeAndReads)
{
    ASSERT_EQ(hw_port_arm(&port), HW_ARMED);
    attach();
    for (int setting = 0; setting < 2; ++setting) {
        if (setting == 0)
            board->chips[0].faults = SIM_FAULT_ABSENT; // board, no chip
        else
            model.board = nullptr; // no cable: ACK floats high
        EXPECT_EQ(spifns_halvane_xap_stopped(), -1) << setting;
        uint16_t word = 0;
        EXPECT_EQ(read_words(0x1000, 1, &word), 1) << setting;
        EXPECT_EQ(last_error(), ERR_READ) << setting;
    }
}

// Every start: the ECR found (or not) before use, the lines safe throughout,
// the port playing right or refused, and at release or refusal the control
// register and the ECR's mode back as found, less direction and interrupts.
TEST_F(HwPortTest, StartingStatesAreRepairedOrRefusedAndRestored)
{
    struct start {
        const char *name;
        uint8_t mode = PC_MODE_SPP;
        uint8_t control = 0x04;
        uint8_t control_after = 0x04;
        bool ecr = true;        // the model has an ECR at 0x77A
        bool ecr_reachable = true; // the back end has its address (to probe)
        bool decode_10bit = false;
        uint8_t control_reads_high = 0xC0;
        uint8_t fifo = 0;
        bool timeout = false;
        pc_timeout_clear clear = PC_CLEAR_ON_READ;
        bool timeout_bit_outside_epp = false;
        bool status_writable = true;
        hw_arm_result want = HW_ARMED;
    };
    const start starts[] = {
        {.name = "ECP mode", .mode = PC_MODE_ECP},
        {.name = "EPP mode", .mode = PC_MODE_EPP},
        {.name = "FIFO mode", .mode = PC_MODE_FIFO},
        {.name = "PS/2 reading", .mode = PC_MODE_PS2, .control = 0x24},
        {.name = "PS/2 reading, no ECR", .mode = PC_MODE_PS2, .control = 0x2F, .control_after = 0x0F, .ecr = false},
        {.name = "EPP timeout, read clears", .ecr = false, .timeout = true},
        {.name = "EPP timeout, 1 clears", .ecr = false, .timeout = true, .clear = PC_CLEAR_ON_WRITE_1},
        {.name = "EPP timeout, 0 clears", .ecr = false, .timeout = true, .clear = PC_CLEAR_ON_WRITE_0},
        {.name = "status bit 0 set outside EPP mode, status not writable", .timeout_bit_outside_epp = true,
         .status_writable = false},
        {.name = "10-bit decoding", .ecr = false, .decode_10bit = true},
        {.name = "10-bit decoding, control bits 1..0 read 01", .control = 0x05, .control_after = 0x05,
         .ecr = false, .decode_10bit = true},
        {.name = "control reads 0xFF", .control_after = 0x0C, .control_reads_high = 0xFF},
        {.name = "control reads bits 7..5 high", .control_reads_high = 0xE0},
        {.name = "EPP, no ECR", .mode = PC_MODE_EPP, .ecr = false, .want = HW_NO_READBACK},
        {.name = "ECP, ECR out of reach", .mode = PC_MODE_ECP, .ecr_reachable = false, .want = HW_NO_READBACK},
        {.name = "ECP, FIFO not empty", .mode = PC_MODE_ECP, .fifo = 1, .want = HW_NO_READBACK},
    };
    for (const start &s : starts) {
        SCOPED_TRACE(s.name);
        reset();
        sim_board_init(board.get(), SIM_WIRING_DIRECT);
        model = pc_port_model{};
        model.board = board.get();
        model.ecr = s.ecr ? 0x77A : 0;
        model.mode = s.mode;
        model.control = s.control;
        model.decode_10bit = s.decode_10bit;
        model.control_reads_high = s.control_reads_high;
        model.fifo = s.fifo;
        model.epp_timeout = s.timeout;
        model.timeout_clear = s.clear;
        model.timeout_bit_outside_epp = s.timeout_bit_outside_epp;
        port.ecr = s.ecr_reachable ? 0x77A : 0;
        port.status_writable = s.status_writable;
        ASSERT_EQ(hw_port_arm(&port), s.want);
        EXPECT_EQ(port.armed, s.want == HW_ARMED);
        const size_t armed_at = model.log.size();
        expect_lines_safe(0, armed_at);
        if (port.armed) {
            EXPECT_FALSE(model.epp_timeout);
            attach();
            EXPECT_TRUE(reads_back_right(0x2000, 0xC3A5));
            const size_t released_at = model.log.size();
            hw_port_release(&port);
            expect_lines_safe(released_at, model.log.size());
        }
        EXPECT_EQ(model.control, s.control_after);
        EXPECT_EQ(model.mode, s.mode);
        EXPECT_EQ(model.ecr_bits, ECR_QUIET);
        if (!s.ecr || s.fifo != 0) {
            EXPECT_EQ(writes_to(0x77A), 0u); // no ECR answered: never written
        }
        if (!s.status_writable) {
            EXPECT_EQ(writes_to(port.base + PP_STATUS), 0u);
        }
    }
}

// The loopback check's advice, played through the port: at each lag of the
// status behind the lines it must name exactly the smallest shift period at
// which a word reads back right through the library.
TEST_F(HwPortTest, LoopbackAdviceNamesTheSmallestPeriodThatReadsBackRight)
{
    auto plug = std::make_unique<sim_board>();
    sim_board_init(plug.get(), SIM_WIRING_LOOPBACK);
    ASSERT_EQ(hw_port_arm(&port), HW_ARMED);
    attach();
    port_ops ops{hw_port_put, hw_port_take, &port, nullptr, nullptr};
    const std::vector<uint8_t> pattern = spitool::loopback_pattern();
    std::vector<uint8_t> status(pattern.size());
    // Lines change only on data writes, so a delay of 2k - 1 or 2k accesses
    // is a lag of k output bytes.
    for (uint32_t delay = 0; delay <= 16; ++delay) {
        const uint32_t lag = (delay + 1) / 2;
        SCOPED_TRACE("lag " + std::to_string(lag) + ", delay " + std::to_string(delay));
        model.delay = delay;
        model.board = plug.get();
        port_play(&ops, pattern.data(), status.data(), static_cast<uint32_t>(pattern.size()));
        const spitool::LoopbackResult r = spitool::diagnose_loopback(pattern.data(), status.data(), pattern.size());
        EXPECT_EQ(r.kind, lag == 0 ? spitool::LoopbackResult::Ok : spitool::LoopbackResult::Follows);
        EXPECT_EQ(r.lag, lag);
        const uint32_t advised = spitool::loopback_min_period(r.lag);
        const std::string line = spitool::describe_loopback(r);
        const std::string names = lag == 0        ? "loopback ok"
                                  : advised == 1 ? "every shift period still samples right"
                                                 : "(SPISHIFTPERIOD " + std::to_string(advised) + ",";
        EXPECT_NE(line.find(names), std::string::npos) << line;

        model.board = board.get();
        for (uint32_t period = 1; period <= 9; ++period) {
            link_state.shift_period = period;
            EXPECT_EQ(reads_back_right(static_cast<uint16_t>(0x3000 + 16 * delay + period), 0x5A0F),
                      period >= advised)
                << "period " << period;
        }
    }
    // The plug on pin 11 instead: bit 6 floats high, and the hint names pin 11.
    model.delay = 0;
    model.board = plug.get();
    model.miso_on_busy = true;
    port_play(&ops, pattern.data(), status.data(), static_cast<uint32_t>(pattern.size()));
    const std::string line = spitool::describe_loopback(
        spitool::diagnose_loopback(pattern.data(), status.data(), pattern.size()));
    EXPECT_NE(line.find("always high"), std::string::npos) << line;
    EXPECT_NE(line.find("the plug is on pin 11, not pin 10"), std::string::npos) << line;
}

TEST_F(HwPortTest, ClaimComesFirstAndFreeLast)
{
    port.io.claim = claim;
    port.io.free = free;
    hand_over = false;
    EXPECT_EQ(hw_port_arm(&port), HW_NOT_HANDED_OVER);
    hw_port_release(&port);
    EXPECT_TRUE(model.log.empty());
    EXPECT_EQ(events, (std::vector<std::string>{"claim@0"}));

    // Refused (nothing at the base, the ECR answering): the ECR's mode is
    // restored before the port is handed back.
    hand_over = true;
    port.base = 0x278;
    model.mode = PC_MODE_ECP;
    EXPECT_EQ(hw_port_arm(&port), HW_NO_READBACK);
    EXPECT_EQ(model.mode, PC_MODE_ECP);
    EXPECT_EQ(model.log.back(), (pc_port_access{true, port.ecr, PC_MODE_ECP << 5 | ECR_QUIET}));
    EXPECT_EQ(events.back(), "free@" + std::to_string(model.log.size()));

    port.base = model.base;
    events.clear();
    model.log.clear();
    ASSERT_EQ(hw_port_arm(&port), HW_ARMED);
    const size_t armed_at = model.log.size();
    ASSERT_EQ(hw_port_arm(&port), HW_ARMED); // again: nothing touched, saved state kept
    EXPECT_EQ(model.log.size(), armed_at);
    hw_port_release(&port);
    hw_port_release(&port);
    EXPECT_EQ(events, (std::vector<std::string>{"claim@0", "free@" + std::to_string(model.log.size())}));
}

TEST(HwPortConfig, AddressesAndRestoredControl)
{
    for (uint32_t bad : {0xFCu, 0x102u, 0x37Au, 0xFFFDu, 0x10000u})
        EXPECT_FALSE(hw_io_base_ok(bad)) << std::hex << bad;
    for (uint32_t good : {0x100u, 0x378u, 0x3BCu, 0xD010u, 0xFFFCu})
        EXPECT_TRUE(hw_io_base_ok(good)) << std::hex << good;
    // ECP registers: none, or three of their own below 0x10000.
    for (uint32_t bad : {0xFFu, 0x376u, 0x378u, 0x37Au, 0xFFFEu, 0xFFFFFFFFu})
        EXPECT_FALSE(hw_ecp_base_ok(0x378, bad)) << std::hex << bad;
    for (uint32_t good : {0u, 0x100u, 0x375u, 0x37Bu, 0x778u, 0xFFFDu})
        EXPECT_TRUE(hw_ecp_base_ok(0x378, good)) << std::hex << good;
    EXPECT_EQ(hw_default_ecr(0x378), 0x77Au);
    EXPECT_EQ(hw_default_ecr(0x278), 0x67Au);
    EXPECT_EQ(hw_default_ecr(0x3BC), 0u);
    EXPECT_EQ(hw_default_ecr(0xD010), 0u);
    hw_port a{}, b{};
    a.base = 0x378;
    a.ecr = 0x77A;
    b.base = 0x37C;
    EXPECT_FALSE(hw_ports_overlap(a, b));
    b.ecr = 0x37A; // b's ECR on a's control register
    EXPECT_TRUE(hw_ports_overlap(a, b));
    b = a;
    b.ecr = 0;
    EXPECT_TRUE(hw_ports_overlap(a, b));
}

TEST(PortPlay, StopsAtA64KiBStepWhenAsked)
{
    struct counter {
        uint32_t puts = 0, asked = 0;
    } c;
    port_ops ops{[](void *x, uint8_t) { ++static_cast<counter *>(x)->puts; },
                 [](void *) { return uint8_t{0x40}; }, &c,
                 [](void *x) { return ++static_cast<counter *>(x)->asked == 3; }, &c};
    std::vector<uint8_t> buffer(3 * PORT_PLAY_STOP_CHECK);
    EXPECT_EQ(port_play(&ops, buffer.data(), buffer.data(), static_cast<uint32_t>(buffer.size())),
              2 * PORT_PLAY_STOP_CHECK);
    EXPECT_EQ(c.puts, 2 * PORT_PLAY_STOP_CHECK);
    EXPECT_EQ(buffer[0], 0x40);
    EXPECT_EQ(buffer[2 * PORT_PLAY_STOP_CHECK], 0); // not played
}

} // namespace
