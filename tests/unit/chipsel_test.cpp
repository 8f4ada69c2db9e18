// SPDX-License-Identifier: MIT
// Chip and multiplexer selection: line masks, period resets, the port
// activity of a channel change and its settle wait.
#include "link_fixture.h"

#include <chrono>

namespace {

struct ChipSelectTest : RecordingTest {
    void SetUp() override
    {
        RecordingTest::SetUp();
        capture_trace();
        simport_use_virtual_clock(1000, 1); // 1 ms per yield
    }
};

TEST_F(ChipSelectTest, ChannelThreeFromLoadState)
{
    link_state.shift_period = 4;
    ASSERT_EQ(set("SPIMUL", "3"), 0);
    EXPECT_EQ(drv.calls, (std::vector<bytes>{{0x06, 0x06, 0x86, 0x06, 0x86}}));
    EXPECT_EQ(link_state.line_byte, 0x86);
    EXPECT_EQ(link_state.shift_period, 1u);
    EXPECT_EQ(traced(), (std::vector<std::string>{"MulitplexSelect: 0086 mul:1 config:3 chip_num:3\n"}));
    EXPECT_STREQ(spifns_getvar("SPIMUL"), "3");
}

TEST_F(ChipSelectTest, NoMultiplexerFromLoadStateKeepsThePeriod)
{
    link_state.shift_period = 4;
    ASSERT_EQ(set("SPIMUL", "-1"), 0);
    EXPECT_EQ(drv.calls[0].size(), 4u * 5);
    EXPECT_EQ(drv.calls[0][0], 0x00);
    EXPECT_EQ(link_state.shift_period, 4u);
    EXPECT_EQ(traced(), (std::vector<std::string>{"MulitplexSelect: 0080 mul:0 config:0 chip_num:-1\n"}));
    EXPECT_STREQ(spifns_getvar("SPIMUL"), "-1");
}

TEST_F(ChipSelectTest, PeriodResetsOnlyWhenTheSelectionChanges)
{
    ASSERT_EQ(set("SPIMUL", "16"), 0);
    EXPECT_EQ(drv.calls[0][0], 0x20);
    link_state.shift_period = 7;
    ASSERT_EQ(set("SPIMUL", "16"), 0); // same channel: period kept, port still driven
    EXPECT_EQ(link_state.shift_period, 7u);
    EXPECT_EQ(drv.calls.size(), 2u);
    ASSERT_EQ(set("SPIMUL", "1"), 0);
    EXPECT_EQ(link_state.shift_period, 1u);
    EXPECT_EQ(drv.calls[2][0], 0x02);
    link_state.shift_period = 7;
    ASSERT_EQ(set("SPIMUL", "17"), 0); // leaving the multiplexer is a change
    EXPECT_EQ(link_state.shift_period, 1u);
    EXPECT_EQ(link_state.mux_mode, 0);
    EXPECT_STREQ(spifns_getvar("SPIMUL"), "17");
    // Channel 0 is a channel, not "no multiplexer".
    ASSERT_EQ(set("SPIMUL", "abc"), 0);
    EXPECT_EQ(link_state.mux_mode, 1);
    EXPECT_EQ(link_state.chip_config, 0);
    ASSERT_TRUE(cs_pulse());
    EXPECT_EQ(drv.calls.back()[0] & (LINE_CS | LINE_SEL2), LINE_CS);
    EXPECT_EQ(link_state.line_byte & (LINE_CS | LINE_SEL2), 0);
}

TEST_F(ChipSelectTest, DirectSelectionNeverDrivesThePort)
{
    link_state.shift_period = 5;
    spifns_chip_select(1);
    EXPECT_TRUE(drv.calls.empty());
    EXPECT_EQ(link_state.shift_period, 5u);
    EXPECT_EQ(link_state.line_byte, 0x10);
    EXPECT_EQ(traced(), (std::vector<std::string>{"ChipSelect: 0010 mul:0 confog:1 chip_num:1\n"}));
    EXPECT_STREQ(spifns_getvar("SPIMUL"), "1");
    ASSERT_TRUE(cs_pulse());
    EXPECT_EQ(link_state.line_byte & (LINE_CS | LINE_SEL2), LINE_CS | LINE_SEL2);

    // From a multiplexer channel: channel bits 2, 3 and 5 cleared, AUX set,
    // CS, SEL2, MOSI and CLK kept.
    link_state.line_byte = 0xEF;
    link_state.mux_mode = 1;
    spifns_chip_select(-4);
    EXPECT_EQ(link_state.line_byte, 0xD3);
    EXPECT_EQ(link_state.mux_mode, 0);
    EXPECT_EQ(traced().back(), "ChipSelect: 00d3 mul:0 confog:-4 chip_num:-4\n");
}

TEST_F(ChipSelectTest, SettleWaitPollsTheCounterUntilFiveMilliseconds)
{
    ASSERT_EQ(set("SPIMUL", "2"), 0);
    EXPECT_EQ(simport_yield_count(), 5u); // 1 ms per yield at 1 kHz
    simport_use_virtual_clock(1000, 100);
    ASSERT_EQ(set("SPIMUL", "2"), 0);
    EXPECT_EQ(simport_yield_count(), 1u); // at least one yield and one read
}

TEST_F(ChipSelectTest, SettleWaitLastsFiveMillisecondsOnTheRealClock)
{
    simport_use_real_clock();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(set("SPIMUL", "5"), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
}

TEST_F(ChipSelectTest, SettleWaitWithoutCounterFrequencyStillLastsFiveMilliseconds)
{
    simport_use_virtual_clock(0, 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(set("SPIMUL", "5"), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
    EXPECT_GE(simport_yield_count(), 1u);
}

TEST_F(ChipSelectTest, WithoutPortTheSelectionStandsAndTheFailureIsRecorded)
{
    close_port();
    ASSERT_EQ(set("SPIMUL", "9"), 0);
    EXPECT_EQ(link_state.mux_mode, 1);
    EXPECT_EQ(link_state.chip_config, 9);
    EXPECT_EQ(link_state.line_byte, 0x12);
    EXPECT_EQ(recorded_error(), (error_record{ERR_NO_PORT, "No LPT port selected"}));
    EXPECT_EQ(traced(), (std::vector<std::string>{"MulitplexSelect: 0012 mul:1 config:9 chip_num:9\n"}));
    EXPECT_EQ(simport_yield_count(), 5u);
}

TEST_F(ChipSelectTest, MultiplexedBoardReachesOnlyTheSelectedChannel)
{
    auto board = std::make_unique<board_driver>();
    sim_board_init(&board->board, SIM_WIRING_MUX);
    simport_attach(2, board_driver::play, board.get());
    ASSERT_EQ(set("SPIPORT", "2"), 0);
    ASSERT_EQ(set("SPIMUL", "5"), 0);
    uint16_t words[2] = {0x1234, 0x5678};
    seq_record write = transfer(SEQ_WRITE, 0x40, 2, words);
    ASSERT_EQ(spifns_sequence(&write, 1), 0);
    EXPECT_EQ(board->board.chips[5].mem[0x40], 0x1234);
    EXPECT_EQ(board->board.chips[5].mem[0x41], 0x5678);
    EXPECT_EQ(board->board.chips[4].mem[0x40], 0);
    EXPECT_EQ(board->board.chips[0].mem[0x40], 0);
}

} // namespace
