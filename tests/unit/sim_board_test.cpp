// SPDX-License-Identifier: MIT
// The simulated board driven by byte streams laid out as the library's
// waveform engine lays them out: an idle segment of the line byte, a low and a
// high half per bit, the end-of-transfer trailer, the chip-select pulse.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "sim_board.h"

namespace {

// A minimal host: the line byte, the shift period and the selection, and
// transfers built from shifts exactly as the library frames them.
struct Host {
    explicit Host(sim_board *b) : board(b) {}

    sim_board *board;
    uint32_t period = 1;
    uint8_t line = 0x10; // load state
    bool mux = false;
    int chip = 0;         // chip number (direct) or channel (mux)
    bool stepped = false; // byte by byte through sim_board_step

    uint32_t shift(uint32_t value, uint32_t n, bool end_transfer)
    {
        const uint32_t L = period;
        std::vector<uint8_t> out;
        uint8_t b = line;
        out.insert(out.end(), L, b);
        for (uint32_t k = n; k-- > 0;) {
            b = (uint8_t)(((value >> k) & 1) ? (b | 0x40) : (b & ~0x40));
            b &= 0x7F;
            out.insert(out.end(), L, b);
            b |= 0x80;
            out.insert(out.end(), L, b);
        }
        if (n > 0)
            line = b;
        if (end_transfer) {
            uint8_t c = b & 0x7F;
            for (uint32_t i = 0; i < L; i++)
                out[out.size() - L + i] = c;
            uint8_t d = c | 0x01;
            line = d;
            for (uint8_t seg : {d, (uint8_t)(d | 0x80), d, (uint8_t)(d | 0x80)})
                out.insert(out.end(), L, seg);
        }
        EXPECT_EQ(out.size(), L * (2 * n + (end_transfer ? 5 : 1)));
        // Played in place, as a buffered control call hands the driver one
        // buffer for both directions.
        std::vector<uint8_t> io = out;
        if (stepped)
            for (uint8_t &o : io)
                o = sim_board_step(board, o);
        else
            EXPECT_EQ(sim_board_play(board, io.data(), io.data(), (uint32_t)io.size()), 1);
        uint32_t r = 0;
        for (uint32_t j = 0; j <= n; j++)
            r = (r << 1) | ((io[j * 2 * L] >> 6) & 1);
        return r;
    }

    void cs_pulse()
    {
        line = mux ? (line | 0x01) : ((line & 0xFD) | 0x01);
        shift(0, 2, false);
        if (mux)
            line &= 0xFE;
        else if (chip != 0)
            line |= 0x03;
        else
            line &= 0xFC;
    }

    void select_direct(int n)
    {
        line = (uint8_t)((line & 0xD3) | 0x10);
        mux = false;
        chip = n;
    }

    uint32_t select_channel(int c)
    {
        line = (uint8_t)((line & 0x41) | (c * 2));
        mux = true;
        chip = c;
        return shift(0, 2, false);
    }

    void write(uint16_t addr, const std::vector<uint16_t> &words, uint8_t command = 0x02)
    {
        cs_pulse();
        shift(command, 8, false);
        shift(addr, 16, false);
        for (uint16_t w : words)
            shift(w, 16, false);
    }

    // Returns false on an echo mismatch, like the library's read.
    bool read(uint16_t addr, uint16_t count, std::vector<uint16_t> *words, uint16_t *echo = nullptr,
              uint8_t command = 0x03)
    {
        cs_pulse();
        shift(command, 8, false);
        shift(addr, 16, false);
        uint16_t e = (uint16_t)shift(0, 16, false);
        if (echo)
            *echo = e;
        if (e != (uint16_t)((command << 8) | (addr >> 8)))
            return false;
        words->clear();
        for (uint16_t i = 0; i < count; i++)
            words->push_back((uint16_t)shift(0, 16, i + 1 == count));
        return true;
    }

    // The processor probe's sampling: pulse, two idle-only shifts, pulse.
    uint32_t probe_level()
    {
        cs_pulse();
        shift(0, 0, false);
        uint32_t level = shift(0, 0, false);
        cs_pulse();
        line &= 0x7F;
        return level;
    }
};

class SimBoardTest : public ::testing::Test {
protected:
    std::unique_ptr<sim_board> board_ = std::make_unique<sim_board>();
    Host host_{board_.get()};

    void init(uint8_t wiring) { sim_board_init(board_.get(), wiring); }
    void SetUp() override { init(SIM_WIRING_DIRECT); }

    std::vector<sim_transaction_log> transactions()
    {
        std::vector<sim_transaction_log> v(SIM_LOG_SIZE);
        v.resize(sim_board_recent_transactions(board_.get(), v.data(), SIM_LOG_SIZE));
        return v;
    }
};

const std::vector<uint16_t> kWords = {0x1234, 0xFFFF, 0x0000, 0x8001, 0xA55A};

TEST_F(SimBoardTest, WriteThenReadRoundTripsAtEachPeriod)
{
    for (bool stepped : {false, true}) {
        for (uint32_t period : {1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << "period " << period << " stepped " << stepped);
            host_.stepped = stepped;
            host_.period = period;
            uint16_t addr = (uint16_t)(0x1000 * period + stepped);
            host_.write(addr, kWords);
            for (size_t i = 0; i < kWords.size(); i++)
                EXPECT_EQ(board_->chips[0].mem[addr + i], kWords[i]);
            std::vector<uint16_t> got;
            uint16_t echo = 0;
            ASSERT_TRUE(host_.read(addr, (uint16_t)kWords.size(), &got, &echo));
            EXPECT_EQ(echo, 0x0300 | (addr >> 8));
            EXPECT_EQ(got, kWords);
            // A one-word read: the only word carries the trailer.
            ASSERT_TRUE(host_.read((uint16_t)(addr + 4), 1, &got));
            EXPECT_EQ(got, std::vector<uint16_t>{0xA55A});
        }
    }
    // Both directions wrap at the top of memory.
    host_.write(0xFFFF, {0x1111, 0x2222});
    EXPECT_EQ(board_->chips[0].mem[0x0000], 0x2222);
    std::vector<uint16_t> got;
    ASSERT_TRUE(host_.read(0xFFFF, 2, &got));
    EXPECT_EQ(got, (std::vector<uint16_t>{0x1111, 0x2222}));
}

TEST_F(SimBoardTest, StatsAndLogDescribeEachTransaction)
{
    host_.write(0x1234, {1, 2, 3});
    std::vector<uint16_t> got;
    ASSERT_TRUE(host_.read(0x1234, 2, &got));
    auto log = transactions(); // each cs_pulse deselects: two transactions
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].chip, 0);
    EXPECT_EQ(log[0].command, 0x02);
    EXPECT_EQ(log[0].address, 0x1234);
    EXPECT_EQ(log[0].bits, 24u + 3 * 16);
    EXPECT_EQ(log[0].words, 3u);
    EXPECT_EQ(log[1].command, 0x03);
    // Echo and two words, less the last bit, whose high half the trailer
    // rewrites with the clock low.
    EXPECT_EQ(log[1].bits, 24u + 16 + 32 - 1);
    EXPECT_EQ(log[1].words, 2u);
    const sim_stats &st = board_->stats;
    EXPECT_EQ(st.transactions, 2u);
    EXPECT_EQ(st.write_transactions, 1u);
    EXPECT_EQ(st.read_transactions, 1u);
    EXPECT_EQ(st.words_written, 3u);
    EXPECT_EQ(st.words_read, 2u);

    sim_board_reset_stats(board_.get());
    EXPECT_TRUE(transactions().empty());
    EXPECT_EQ(st.bytes, 0u);
    // The ring keeps the newest transactions, oldest first.
    for (int i = 0; i < SIM_LOG_SIZE + 3; i++)
        host_.write((uint16_t)i, {});
    log = transactions();
    ASSERT_EQ(log.size(), (size_t)SIM_LOG_SIZE);
    EXPECT_EQ(log.front().address, 3);
    EXPECT_EQ(log.back().address, SIM_LOG_SIZE + 2);
    sim_transaction_log two[2];
    ASSERT_EQ(sim_board_recent_transactions(board_.get(), two, 2), 2u);
    EXPECT_EQ(two[1].address, SIM_LOG_SIZE + 2);
}

TEST_F(SimBoardTest, ProbeLevelShowsProcessorState)
{
    EXPECT_EQ(host_.probe_level(), 0u);
    board_->chips[0].stopped = 1;
    EXPECT_EQ(host_.probe_level(), 1u);
    std::vector<uint16_t> got; // the confirming read that follows
    EXPECT_TRUE(host_.read(0xFF9A, 1, &got));
}

TEST_F(SimBoardTest, CommandDecodingUsesTheLowTwoBits)
{
    host_.write(0x7F00, {0x0F0F}, 0xA2);
    std::vector<uint16_t> got;
    uint16_t echo = 0;
    ASSERT_TRUE(host_.read(0x7F00, 1, &got, &echo, 0xC7));
    EXPECT_EQ(echo, 0xC77F);
    EXPECT_EQ(got[0], 0x0F0F);
    // Write command bits with bit 0 set make the command a read.
    host_.write(0x7F00, {0x1111}, 0x03);
    // Low bits 01 (or 00): the rest of the transaction is ignored.
    host_.write(0x7F00, {0x2222}, 0x01);
    EXPECT_EQ(host_.shift(0, 16, false) & 0xFFFF, 0u);
    EXPECT_EQ(board_->chips[0].mem[0x7F00], 0x0F0F);
    EXPECT_EQ(board_->stats.read_transactions + board_->stats.write_transactions, 3u);
}

TEST_F(SimBoardTest, DirectChipOneNeedsCsAndSel2High)
{
    host_.select_direct(1);
    host_.write(0x0040, {0xBEEF});
    EXPECT_EQ(board_->chips[1].mem[0x0040], 0xBEEF);
    EXPECT_EQ(board_->chips[0].mem[0x0040], 0);
    // Chip 1 stays selected through the trailer's clocks; the next transaction
    // still decodes.
    std::vector<uint16_t> got;
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(host_.read(0x0040, 1, &got));
        EXPECT_EQ(got[0], 0xBEEF);
    }
    EXPECT_EQ(board_->stats.words_read, 2u);
    host_.select_direct(0);
    ASSERT_TRUE(host_.read(0x0040, 1, &got));
    EXPECT_EQ(got[0], 0);
    // Neither chip while CS is high and SEL2 low: the pull-up reads high.
    EXPECT_EQ(sim_board_step(board_.get(), 0x11), STATUS_MISO);
    EXPECT_EQ(sim_board_selected_chip(board_.get()), -1);
}

TEST_F(SimBoardTest, MuxSelectsOnlyTheChannelsChip)
{
    init(SIM_WIRING_MUX);
    host_.select_channel(5);
    host_.write(0x2000, {0x0505});
    host_.select_channel(4);
    host_.write(0x2000, {0x0404});
    EXPECT_EQ(board_->chips[5].mem[0x2000], 0x0505);
    EXPECT_EQ(board_->chips[4].mem[0x2000], 0x0404);

    host_.select_channel(5);
    std::vector<uint16_t> got;
    ASSERT_TRUE(host_.read(0x2000, 1, &got));
    EXPECT_EQ(got[0], 0x0505);
    host_.write(0x2001, {0x5555});
    EXPECT_EQ(board_->chips[4].mem[0x2001], 0);
    EXPECT_EQ(transactions().back().chip, 5);

    // Switching channels with chip select held low moves the transaction to the
    // new chip without clocking either: the byte that selects chip 16 with
    // the clock falling still shows its stopped level, and the switch shift
    // gives it 2 bits.
    board_->chips[16].stopped = 1;
    EXPECT_EQ(host_.select_channel(16), 0x4u);
    EXPECT_EQ(transactions().back().chip, 16);
    EXPECT_EQ(transactions().back().bits, 2u);
    EXPECT_EQ(transactions()[transactions().size() - 2].bits, 24u + 16);

    // Channels above 16 select nobody: the idle level, no transaction.
    uint32_t before = board_->stats.transactions;
    host_.select_channel(17);
    host_.cs_pulse();
    EXPECT_EQ(host_.shift(0x03, 8, false), 0x1FFu);
    EXPECT_EQ(sim_board_selected_chip(board_.get()), -1);
    EXPECT_EQ(board_->stats.transactions, before);
}

TEST_F(SimBoardTest, FaultsShowOnDataOut)
{
    sim_chip &chip = board_->chips[0];
    std::vector<uint16_t> got;
    uint16_t echo = 0;
    chip.faults = SIM_FAULT_BAD_ECHO; // only the echo is wrong
    EXPECT_FALSE(host_.read(0x1000, 1, &got, &echo));
    EXPECT_EQ(echo, 0x0311);
    host_.write(0x1000, {0x4321});
    EXPECT_EQ(chip.mem[0x1000], 0x4321);

    // A stuck data-out line hides the processor state and every bit read.
    const struct {
        uint32_t fault;
        uint8_t stopped;
        uint16_t echo;
        uint32_t level;
    } stuck[] = {{SIM_FAULT_STUCK0, 1, 0x0000, 0}, {SIM_FAULT_STUCK1, 0, 0xFFFF, 1}};
    for (const auto &c : stuck) {
        chip.faults = c.fault;
        chip.stopped = c.stopped;
        EXPECT_FALSE(host_.read(0x1000, 1, &got, &echo));
        EXPECT_EQ(echo, c.echo);
        EXPECT_EQ(host_.probe_level(), c.level);
    }

    // No chip: the idle level (pulled up unless a board pulls it down),
    // nothing stored, nothing logged.
    sim_board_reset_stats(board_.get());
    chip.faults = SIM_FAULT_ABSENT;
    host_.write(0x1000, {0x1234});
    EXPECT_EQ(chip.mem[0x1000], 0x4321);
    EXPECT_FALSE(host_.read(0x1000, 1, &got, &echo));
    EXPECT_EQ(echo, 0xFFFF);
    board_->idle_level = 0;
    EXPECT_FALSE(host_.read(0x1000, 1, &got, &echo));
    EXPECT_EQ(echo, 0x0000);
    EXPECT_EQ(board_->stats.transactions, 0u);
    EXPECT_TRUE(transactions().empty());
}

TEST_F(SimBoardTest, PlayTakesLevelsChangedBetweenCallsAndRefusesNullBuffers)
{
    uint8_t out = 0x11, st = 0;
    ASSERT_EQ(sim_board_play(board_.get(), &out, &st, 1), 1);
    EXPECT_EQ(st, STATUS_MISO);
    board_->idle_level = 0;
    ASSERT_EQ(sim_board_play(board_.get(), &out, &st, 1), 1);
    EXPECT_EQ(st, 0);
    out = 0x10; // chip 0 selected, running
    ASSERT_EQ(sim_board_play(board_.get(), &out, &st, 1), 1);
    EXPECT_EQ(st, 0);
    board_->chips[0].faults = SIM_FAULT_STUCK1;
    ASSERT_EQ(sim_board_play(board_.get(), &out, &st, 1), 1);
    EXPECT_EQ(st, STATUS_MISO);

    EXPECT_EQ(sim_board_play(nullptr, &out, &st, 1), 0);
    EXPECT_EQ(sim_board_play(board_.get(), nullptr, &st, 1), 0);
    EXPECT_EQ(sim_board_play(board_.get(), &out, nullptr, 1), 0);
    EXPECT_EQ(sim_board_play(board_.get(), nullptr, nullptr, 0), 1);
}

} // namespace
