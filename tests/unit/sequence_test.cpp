// SPDX-License-Identifier: MIT
// The sequence interpreter: record walking, framing pulses, results and the
// last error, and a typical host request end to end against the board.
#include "link_fixture.h"

namespace {

using SequenceTest = BoardTest;

TEST_F(SequenceTest, TypicalRequestEndToEnd)
{
    // The board stands on port 1 but the library starts with no port open.
    reset_library();
    drv->call_sizes.clear();
    chip().mem[0x1000] = 0xCAFE;
    chip().mem[0x1001] = 0x0042;

    EXPECT_EQ(spifns_init(), 0);
    capture_trace();
    uint16_t words[2] = {0, 0};
    const seq_record records[3] = {setvar("SPIPORT", "1"), setvar("SPICLOCK", "100"),
                                   transfer(SEQ_READ, 0x1000, 2, words)};
    EXPECT_EQ(spifns_sequence(records, 3), 0);
    EXPECT_EQ(words[0], 0xCAFE);
    EXPECT_EQ(words[1], 0x0042);
    EXPECT_EQ(traced(), (std::vector<std::string>{"Delays set to 2\n", "1000-1001r CAFE 0042\n"}));
    // Pulse, command, address, echo, two words, closing pulse.
    EXPECT_EQ(drv->call_sizes.size(), 2u + 5);
    EXPECT_EQ(drv->call_sizes[5], 2u * 37); // the last word ends with the trailer, at period 2
    EXPECT_EQ(last_error(), ERR_NONE);

    spifns_close();
    EXPECT_EQ(port_stats(1).open_handles, 0);
    EXPECT_STREQ(spifns_getvar("SPIPORT"), "0");
}

TEST_F(SequenceTest, NonPositiveCountsTouchNothing)
{
    capture_trace();
    const seq_record write = transfer(SEQ_WRITE, 0, 0, nullptr);
    EXPECT_EQ(spifns_sequence(&write, 0), 0);
    EXPECT_EQ(spifns_sequence(&write, -5), 0);
    EXPECT_EQ(spifns_sequence(nullptr, 0), 0);
    EXPECT_TRUE(drv->call_sizes.empty());
    EXPECT_TRUE(traced().empty());
    // A positive count with no records cannot have succeeded.
    EXPECT_EQ(spifns_sequence(nullptr, 1), 1);
}

TEST_F(SequenceTest, UnknownCommandsAreSkippedWithoutPulses)
{
    seq_record records[3] = {transfer(3, 0, 0, nullptr), transfer(-1, 0, 0, nullptr),
                             transfer(0x100, 0, 0, nullptr)};
    EXPECT_EQ(spifns_sequence(records, 3), 0);
    EXPECT_TRUE(drv->call_sizes.empty());
    close_port(); // and they leave a failing result alone
    seq_record after_failure[2] = {transfer(SEQ_WRITE, 0, 0, nullptr), transfer(7, 0, 0, nullptr)};
    EXPECT_EQ(spifns_sequence(after_failure, 2), 1);
}

TEST_F(SequenceTest, TransfersAreFramedByTwoPulses)
{
    uint16_t words[3] = {7, 8, 9};
    const seq_record records[2] = {transfer(SEQ_WRITE, 0x20, 3, words), transfer(SEQ_READ, 0x20, 0, nullptr)};
    EXPECT_EQ(spifns_sequence(records, 2), 0);
    EXPECT_EQ(drv->call_sizes.size(), (3u + 4) + (0u + 5));
    EXPECT_EQ(chip().mem[0x22], 9);
    sim_transaction_log log[2];
    ASSERT_EQ(sim_board_recent_transactions(&drv->board, log, 2), 2u);
    EXPECT_EQ(log[0].words, 3u);
    EXPECT_EQ(log[1].command, 0x03);
}

TEST_F(SequenceTest, FailuresNeverStopTheWalkAndTheLastOneIsReported)
{
    chip().faults = SIM_FAULT_BAD_ECHO;
    uint16_t read_buf[1] = {0xEEEE};
    uint16_t write_buf[1] = {0x7777};
    const seq_record records[3] = {transfer(SEQ_READ, 0x0300, 1, read_buf), setvar("SPICLOCK", "0"),
                                   transfer(SEQ_WRITE, 0x0400, 1, write_buf)};
    EXPECT_EQ(spifns_sequence(records, 3), 1);
    EXPECT_EQ(read_buf[0], 0xEEEE);
    EXPECT_EQ(chip().mem[0x0400], 0x7777); // the write after both failures ran
    uint16_t address = 0;
    EXPECT_EQ(last_error(&address), ERR_READ);
    EXPECT_EQ(address, 0x0300);

    // A later failure overwrites the earlier one.
    chip().faults = 0;
    simport_fail_control_after(1, 4);
    const seq_record two[2] = {transfer(SEQ_READ, 0x0300, 1, read_buf), transfer(SEQ_WRITE, 0, 0, nullptr)};
    const seq_record with_bad_port[2] = {two[0], setvar("SPIPORT", "9")};
    EXPECT_EQ(spifns_sequence(with_bad_port, 2), 1);
    EXPECT_EQ(recorded_error(), (error_record{ERR_IOCTL, "Couldn't find LPT port"}));
    EXPECT_EQ(spifns_sequence(two, 2), 1); // no port now: both transfers fail
    EXPECT_EQ(last_error(), ERR_NO_PORT);
}

TEST_F(SequenceTest, SetVariableOnlyArraysIssueNoPulse)
{
    const seq_record records[3] = {setvar("SPICMDBITS", "0"), setvar("SPISHIFTPERIOD", "3"), setvar("X", "1")};
    EXPECT_EQ(spifns_sequence(records, 3), 0);
    EXPECT_TRUE(drv->call_sizes.empty());
    EXPECT_EQ(link_state.shift_period, 3u);
}

TEST_F(SequenceTest, SettingsApplyToLaterRecordsOfTheSameArray)
{
    close_port();
    uint16_t word = 0x3C3C;
    const seq_record records[3] = {transfer(SEQ_WRITE, 0x10, 1, &word), setvar("SPIPORT", "1"),
                                   transfer(SEQ_WRITE, 0x11, 1, &word)};
    EXPECT_EQ(spifns_sequence(records, 3), 1);
    EXPECT_EQ(chip().mem[0x10], 0);
    EXPECT_EQ(chip().mem[0x11], 0x3C3C);
}

TEST_F(SequenceTest, RecordWithWordsButNoBufferFailsWithoutTouchingThePort)
{
    capture_trace();
    const seq_record records[2] = {transfer(SEQ_READ, 0x10, 2, nullptr), transfer(SEQ_WRITE, 0x10, 1, nullptr)};
    EXPECT_EQ(spifns_sequence(records, 2), 1);
    EXPECT_TRUE(drv->call_sizes.empty());
    EXPECT_TRUE(traced().empty());
    EXPECT_EQ(last_error(), ERR_NONE);
    // Zero words with no buffer is a valid, framed transfer.
    const seq_record empty = transfer(SEQ_WRITE, 0x10, 0, nullptr);
    EXPECT_EQ(spifns_sequence(&empty, 1), 0);
    EXPECT_EQ(drv->call_sizes.size(), 4u);
}

} // namespace
