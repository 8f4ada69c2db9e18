// SPDX-License-Identifier: MIT
// Word transfers and the processor probe, against the simulated board.
#include "link_fixture.h"

#include "transfer/transfer.h"

namespace {

using TransferTest = BoardTest;

std::vector<uint16_t> pattern(size_t n, uint16_t seed)
{
    std::vector<uint16_t> words(n);
    for (size_t i = 0; i < n; i++)
        words[i] = static_cast<uint16_t>(seed * 31 + i * 0x1357 + 1);
    return words;
}

TEST_F(TransferTest, WriteThenReadRoundTripsEveryLength)
{
    for (size_t n : {0u, 1u, 2u, 8u, 9u, 300u}) {
        const uint16_t address = static_cast<uint16_t>(0x2000 + n * 0x400);
        std::vector<uint16_t> words = pattern(n, static_cast<uint16_t>(n));
        ASSERT_EQ(write_words(address, static_cast<uint16_t>(n), words.data()), 0) << n;
        ASSERT_TRUE(cs_pulse());
        for (size_t i = 0; i < n; i++)
            ASSERT_EQ(chip().mem[address + i], words[i]) << n << " word " << i;

        std::vector<uint16_t> back(n + 1, 0xEEEE);
        ASSERT_EQ(read_words(address, static_cast<uint16_t>(n), back.data()), 0) << n;
        ASSERT_TRUE(cs_pulse());
        EXPECT_EQ(std::vector<uint16_t>(back.begin(), back.begin() + n), words) << n;
        EXPECT_EQ(back[n], 0xEEEE) << "read past its count";
    }
}

TEST_F(TransferTest, RoundTripsAtLongerPeriodsAndWrapAtTheTopOfMemory)
{
    for (uint32_t period : {2u, 3u, 7u}) {
        link_state.shift_period = period;
        const uint16_t words[3] = {0xA5A5, 0x0001, 0x8000};
        ASSERT_EQ(write_words(0xFFFF, 3, words), 0);
        ASSERT_TRUE(cs_pulse());
        EXPECT_EQ(chip().mem[0xFFFF], 0xA5A5);
        EXPECT_EQ(chip().mem[0x0000], 0x0001);
        uint16_t back[3] = {};
        ASSERT_EQ(read_words(0xFFFF, 3, back), 0) << period;
        EXPECT_EQ(back[2], 0x8000);
        ASSERT_TRUE(cs_pulse());
    }
}

TEST_F(TransferTest, DriverCallsAreOnePerField)
{
    uint16_t words[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(write_words(0x10, 5, words), 0);
    EXPECT_EQ(drv->call_sizes.size(), 5u + 3);
    drv->call_sizes.clear();
    ASSERT_EQ(read_words(0x10, 5, words), 0);
    EXPECT_EQ(drv->call_sizes.size(), 5u + 4);
    EXPECT_EQ(drv->call_sizes.back(), 37u); // the last word carries the trailer
}

TEST_F(TransferTest, CommandBitsAreOredIntoTheCommandBytes)
{
    link_state.write_cmd_bits = 0x180; // bit 8 never reaches the wire
    link_state.read_cmd_bits = 0x7C;
    uint16_t word = 0x4242;
    ASSERT_EQ(write_words(0x300, 1, &word), 0);
    ASSERT_TRUE(cs_pulse());
    ASSERT_EQ(read_words(0x300, 1, &word), 0);
    sim_transaction_log log[4];
    ASSERT_GE(sim_board_recent_transactions(&drv->board, log, 4), 2u);
    uint32_t n = sim_board_recent_transactions(&drv->board, log, 4);
    EXPECT_EQ(log[n - 2].command, 0x82);
    EXPECT_EQ(log[n - 1].command, 0x7F);
}

TEST_F(TransferTest, EchoMismatchFailsWithTheReadAddress)
{
    capture_trace();
    chip().faults = SIM_FAULT_BAD_ECHO;
    uint16_t words[2] = {0x1111, 0x2222};
    EXPECT_EQ(read_words(0x1000, 2, words), 1);
    EXPECT_EQ(words[0], 0x1111);
    EXPECT_EQ(words[1], 0x2222);
    uint16_t address = 0;
    EXPECT_EQ(recorded_error(&address), (error_record{ERR_READ, "Unable to read"}));
    EXPECT_EQ(address, 0x1000);
    EXPECT_EQ(traced(), (std::vector<std::string>{"1000     r ????\n"}));
    EXPECT_EQ(drv->call_sizes.size(), 4u); // pulse, command, address, echo: no data words

    // Any difference in any of the 16 echo bits fails; data-out stuck at 1 too.
    chip().faults = SIM_FAULT_STUCK1;
    EXPECT_EQ(read_words(0x0000, 1, words), 1);
    chip().faults = 0;
    EXPECT_EQ(read_words(0x0000, 0, words), 0);
}

TEST_F(TransferTest, ControlFailureAtEachFieldStoresOnlyWordsReceivedBefore)
{
    const std::vector<uint16_t> stored = pattern(4, 9);
    for (size_t i = 0; i < stored.size(); i++)
        chip().mem[0x500 + i] = stored[i];

    for (int k = 0; k < 8; k++) { // pulse, command, address, echo, 4 words
        std::vector<uint16_t> words(4, 0xEEEE);
        simport_fail_control_after(1, k);
        EXPECT_EQ(read_words(0x500, 4, words.data()), 1) << k;
        EXPECT_EQ(last_error(), ERR_IOCTL);
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(words[i], i < k - 4 ? stored[i] : 0xEEEE) << "call " << k << " word " << i;
        ASSERT_TRUE(cs_pulse());
    }
    for (int k = 0; k < 7; k++) { // pulse, command, address, 4 words
        const std::vector<uint16_t> words = pattern(4, static_cast<uint16_t>(k + 100));
        sim_board_init(&drv->board, SIM_WIRING_DIRECT);
        simport_fail_control_after(1, k);
        EXPECT_EQ(write_words(0x600, 4, words.data()), 1) << k;
        ASSERT_TRUE(cs_pulse());
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(chip().mem[0x600 + i], i < k - 3 ? words[i] : 0) << "call " << k << " word " << i;
    }
}

TEST_F(TransferTest, DumpLinesForEveryCountForm)
{
    capture_trace();
    const uint16_t three[3] = {0x0001, 0x0000, 0x00FF};
    trace_transfer(0x0100, 'w', 3, three);
    trace_transfer(0x0100, 'w', 0, nullptr);
    trace_transfer(0xABCD, 'r', 1, three);
    trace_transfer(0xFFFF, 'r', 2, three);
    const std::vector<uint16_t> many = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    trace_transfer(0x0010, 'r', 8, many.data());
    trace_transfer(0x0010, 'r', 9, many.data());
    trace_transfer(0xFFF0, 'w', 65535, many.data()); // only 8 words are read from the buffer
    EXPECT_EQ(traced(), (std::vector<std::string>{
                            "0100-0102w 0001 0000 00FF\n",
                            "0100     w ????\n",
                            "ABCD     r 0001\n",
                            "FFFF-10000r 0001 0000\n",
                            "0010-0017r 0001 0002 0003 0004 0005 0006 0007 0008\n",
                            "0010-0018r 0001 0002 0003 0004 0005 0006 0007 0008 ...\n",
                            "FFF0-1FFEEw 0001 0002 0003 0004 0005 0006 0007 0008 ...\n",
                        }));
}

TEST_F(TransferTest, WriteIsDumpedBeforeItIsAttempted)
{
    capture_trace();
    close_port();
    const uint16_t word = 0xBEEF;
    EXPECT_EQ(write_words(0x0042, 1, &word), 1);
    EXPECT_EQ(traced(), (std::vector<std::string>{"0042     w BEEF\n"}));
    EXPECT_EQ(last_error(), ERR_NO_PORT);
}

TEST_F(TransferTest, ProbeReportsRunningAndStoppedProcessors)
{
    capture_trace();
    chip().stopped = 0;
    EXPECT_EQ(spifns_halvane_xap_stopped(), 0);
    EXPECT_TRUE(traced().empty()); // no confirming read
    EXPECT_EQ(link_state.line_byte & LINE_CLK, 0);

    chip().stopped = 1;
    chip().mem[0xFF9A] = 0x5A5A;
    EXPECT_EQ(spifns_halvane_xap_stopped(), 1);
    EXPECT_EQ(traced(), (std::vector<std::string>{"FF9A     r 5A5A\n"}));
}

TEST_F(TransferTest, ProbeFailures)
{
    capture_trace();
    chip().stopped = 1;
    chip().faults = SIM_FAULT_BAD_ECHO;
    link_state.shift_period = 6;
    EXPECT_EQ(spifns_halvane_xap_stopped(), -1);
    EXPECT_EQ(link_state.shift_period, 1u);
    uint16_t address = 0;
    EXPECT_EQ(last_error(&address), ERR_READ);
    EXPECT_EQ(address, 0xFF9A);
    EXPECT_EQ(traced(), (std::vector<std::string>{"FF9A     r ????\n"}));

    // A failure before the confirming read keeps the period.
    link_state.shift_period = 6;
    simport_fail_control_after(1, 2);
    EXPECT_EQ(spifns_halvane_xap_stopped(), -1);
    EXPECT_EQ(link_state.shift_period, 6u);
    EXPECT_EQ(last_error(), ERR_IOCTL);

    close_port();
    EXPECT_EQ(spifns_halvane_xap_stopped(), -1);
    EXPECT_EQ(last_error(), ERR_NO_PORT);
}

} // namespace
