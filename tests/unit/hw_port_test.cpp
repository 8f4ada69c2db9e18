// SPDX-License-Identifier: MIT
// The driver's hardware back end over a model of a PC parallel port, with
// the simulated board at its pins, served to the library as port 1.
#include "link_fixture.h"

#include "hw_port.h"
#include "pc_port.h"
#include "port_play.h"
#include "transfer/transfer.h"

namespace {

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
        port_ops ops{hw_port_put, hw_port_take, &self(c)->port};
        port_play(&ops, o, status, n);
        return 1;
    }
    void attach() { open_port(play, this); }
    // A word written and read back through the library, the port and the board.
    void round_trip(uint16_t address, uint16_t word)
    {
        ASSERT_EQ(write_words(address, 1, &word), 0);
        ASSERT_TRUE(cs_pulse());
        EXPECT_EQ(board->chips[0].mem[address], word);
        uint16_t back = 0;
        ASSERT_EQ(read_words(address, 1, &back), 0) << std::hex << address;
        EXPECT_EQ(back, word);
        ASSERT_TRUE(cs_pulse());
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

    const size_t armed_at = model.log.size();
    attach();
    round_trip(0x1000, 0x1234);
    // Exactly one data write and one status read per output byte, in order,
    // carrying the library's bytes.
    ASSERT_EQ(model.log.size() - armed_at, 2 * played.size());
    for (size_t i = 0; i < played.size(); ++i) {
        EXPECT_EQ(model.log[armed_at + 2 * i], (pc_port_access{true, port.base, played[i]})) << i;
        EXPECT_FALSE(model.log[armed_at + 2 * i + 1].write);
        EXPECT_EQ(model.log[armed_at + 2 * i + 1].address, port.base + 1) << i;
    }

    hw_port_release(&port);
    const size_t n = model.log.size();
    // Written back as read (the control register's top bits read high).
    EXPECT_EQ(model.log[n - 2], (pc_port_access{true, port.base + 2, 0xFC}));
    EXPECT_EQ(model.log[n - 1], (pc_port_access{true, port.ecr, PC_MODE_ECP << 5 | 0x15}));
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
        round_trip(static_cast<uint16_t>(0x100 + c), static_cast<uint16_t>(0x9000 + c * 0x0101));
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

TEST_F(HwPortTest, BadStartingModesAreRepairedOrRefusedAndRestoredAtRelease)
{
    struct start {
        const char *name;
        uint32_t ecr;
        uint8_t mode, control;
        bool timeout;
        pc_timeout_clear clear;
        hw_arm_result want;
    };
    const start starts[] = {
        {"ECP mode", 0x77A, PC_MODE_ECP, 0x04, false, PC_CLEAR_ON_READ, HW_ARMED},
        {"EPP mode", 0x77A, PC_MODE_EPP, 0x04, false, PC_CLEAR_ON_READ, HW_ARMED},
        {"FIFO mode", 0x77A, PC_MODE_FIFO, 0x04, false, PC_CLEAR_ON_READ, HW_ARMED},
        {"PS/2 reading", 0x77A, PC_MODE_PS2, 0x24, false, PC_CLEAR_ON_READ, HW_ARMED},
        {"PS/2 reading, no ECR", 0, PC_MODE_PS2, 0x3F, false, PC_CLEAR_ON_READ, HW_ARMED},
        {"EPP timeout, read clears", 0, PC_MODE_SPP, 0x04, true, PC_CLEAR_ON_READ, HW_ARMED},
        {"EPP timeout, 1 clears", 0, PC_MODE_SPP, 0x04, true, PC_CLEAR_ON_WRITE_1, HW_ARMED},
        {"EPP timeout, 0 clears", 0, PC_MODE_SPP, 0x04, true, PC_CLEAR_ON_WRITE_0, HW_ARMED},
        {"EPP, no ECR", 0, PC_MODE_EPP, 0x04, false, PC_CLEAR_ON_READ, HW_NO_READBACK},
        {"ECP, no ECR", 0, PC_MODE_ECP, 0x04, false, PC_CLEAR_ON_READ, HW_NO_READBACK},
    };
    for (const start &s : starts) {
        SCOPED_TRACE(s.name);
        reset();
        sim_board_init(board.get(), SIM_WIRING_DIRECT);
        model = pc_port_model{};
        model.board = board.get();
        model.ecr = port.ecr = s.ecr;
        model.mode = s.mode;
        model.control = s.control;
        model.epp_timeout = s.timeout;
        model.timeout_clear = s.clear;
        ASSERT_EQ(hw_port_arm(&port), s.want);
        EXPECT_EQ(port.armed, s.want == HW_ARMED);
        if (port.armed) {
            EXPECT_FALSE(model.epp_timeout);
            attach();
            round_trip(0x2000, 0xC3A5);
            hw_port_release(&port);
        }
        EXPECT_EQ(model.control, s.control & 0x3F);
        EXPECT_EQ(model.mode, s.mode);
    }

    // Nothing at the base: refused. The check switched off: armed anyway.
    port.base = 0x278;
    port.ecr = 0;
    EXPECT_EQ(hw_port_arm(&port), HW_NO_READBACK);
    port.verify = false;
    EXPECT_EQ(hw_port_arm(&port), HW_ARMED);
}

TEST_F(HwPortTest, SamplingHoldsWhileStatusLagsUnderTwoShiftPeriods)
{
    ASSERT_EQ(hw_port_arm(&port), HW_ARMED);
    attach();
    for (uint32_t period : {1u, 2u, 3u}) {
        link_state.shift_period = period;
        for (uint32_t k = 0; k < 2 * period; ++k) {
            model.delay = k;
            round_trip(static_cast<uint16_t>(0x3000 + k), static_cast<uint16_t>(0x5A0F ^ (k << 8)));
        }
        model.delay = 2 * period + 1; // later than that the previous bit is sampled
        uint16_t word = 0;
        EXPECT_EQ(read_words(0x3000, 1, &word), 1) << period;
        ASSERT_TRUE(cs_pulse());
    }
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

    hand_over = true;
    port.base = 0x278; // refused: handed back after the restore
    EXPECT_EQ(hw_port_arm(&port), HW_NO_READBACK);
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

TEST(HwPortConfig, IoBasesEcrAndOverlaps)
{
    for (uint32_t bad : {0xFCu, 0x102u, 0x37Au, 0xFFFDu, 0x10000u})
        EXPECT_FALSE(hw_io_base_ok(bad)) << std::hex << bad;
    for (uint32_t good : {0x100u, 0x378u, 0x3BCu, 0xD010u, 0xFFFCu})
        EXPECT_TRUE(hw_io_base_ok(good)) << std::hex << good;
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

} // namespace
