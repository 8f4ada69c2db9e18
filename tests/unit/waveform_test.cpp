// SPDX-License-Identifier: MIT
// The waveform engine's bytes on the port, its samples, its buffers and its failures.
#include "link_fixture.h"

namespace {

struct WaveformTest : RecordingTest {
    // A shift that fails, handing back 0 for the sampled bits.
    static ::testing::AssertionResult shift_fails(uint32_t value, uint32_t bits, bool end_transfer = true)
    {
        uint32_t sampled = 7;
        if (shift_bits(value, bits, &sampled, end_transfer))
            return ::testing::AssertionFailure() << "the shift succeeded";
        if (sampled != 0)
            return ::testing::AssertionFailure() << "sampled bits " << sampled << " handed back";
        return ::testing::AssertionSuccess();
    }
};

TEST_F(WaveformTest, TwoBitShiftWithoutTrailerMatchesWorkedExample)
{
    uint32_t sampled = 0xDEAD;
    ASSERT_TRUE(shift_bits(2, 2, &sampled, false));
    ASSERT_EQ(drv.calls.size(), 1u);
    EXPECT_EQ(drv.calls[0], (bytes{0x10, 0x50, 0xD0, 0x10, 0x90}));
    EXPECT_EQ(link_state.line_byte, 0x90);
    EXPECT_EQ(sampled, 0u);
}

TEST_F(WaveformTest, TwoBitShiftWithTrailerMatchesWorkedExample)
{
    ASSERT_TRUE(shift_bits(2, 2, nullptr, true));
    EXPECT_EQ(drv.calls[0], (bytes{0x10, 0x50, 0xD0, 0x10, 0x10, 0x11, 0x91, 0x11, 0x91}));
    EXPECT_EQ(link_state.line_byte, 0x11);
}

TEST_F(WaveformTest, PeriodTwoDoublesEveryByteAndMovesSamples)
{
    link_state.shift_period = 2;
    drv.miso_high_at = {0, 8}; // samples at 0, 4, 8 read 1, 0, 1
    uint32_t sampled = 0;
    ASSERT_TRUE(shift_bits(2, 2, &sampled, false));
    EXPECT_EQ(drv.calls[0], (bytes{0x10, 0x10, 0x50, 0x50, 0xD0, 0xD0, 0x10, 0x10, 0x90, 0x90}));
    EXPECT_EQ(sampled, 0b101u);
}

TEST_F(WaveformTest, SamplesComeFromTheFirstByteOfEachHighHalf)
{
    // Marking a byte just off a sample position must not show up.
    drv.miso_high_at = {2, 5, 31};
    uint32_t sampled = 0;
    ASSERT_TRUE(shift_bits(0, 16, &sampled, false));
    ASSERT_EQ(drv.calls[0].size(), 33u);
    EXPECT_EQ(sampled, 1u << 15); // only position 2: bit 1 of 16, first after the idle sample
    drv.miso_high_at = {0};
    ASSERT_TRUE(shift_bits(0, 16, &sampled, true));
    EXPECT_EQ(drv.calls[1].size(), 37u);
    EXPECT_EQ(sampled, 1u << 16); // the top bit is the level before the first clock
}

TEST_F(WaveformTest, TrailerSampleFallsOnTheRewrittenClockLowSegment)
{
    drv.miso_high_at = {32};
    uint32_t sampled = 0;
    ASSERT_TRUE(shift_bits(0xFFFF, 16, &sampled, true));
    const bytes &out = drv.calls[0];
    EXPECT_EQ(out[32], 0x50); // last bit's high half rewritten: MOSI 1, clock low
    EXPECT_EQ((bytes{out.begin() + 33, out.end()}), (bytes{0x51, 0xD1, 0x51, 0xD1}));
    EXPECT_EQ(sampled, 1u);
    EXPECT_EQ(link_state.line_byte, 0x51);
}

TEST_F(WaveformTest, ZeroBitShiftsPlayOnlyTheIdleSegment)
{
    link_state.shift_period = 3;
    link_state.line_byte = 0xC4;
    drv.miso_always = true;
    uint32_t sampled = 0;
    ASSERT_TRUE(shift_bits(0, 0, &sampled, false));
    EXPECT_EQ(drv.calls[0], (bytes{0xC4, 0xC4, 0xC4}));
    EXPECT_EQ(sampled, 1u);
    EXPECT_EQ(link_state.line_byte, 0xC4);

    ASSERT_TRUE(shift_bits(0, 0, &sampled, true));
    EXPECT_EQ(drv.calls[1], (bytes{0x44, 0x44, 0x44, 0x45, 0x45, 0x45, 0xC5, 0xC5, 0xC5, 0x45, 0x45, 0x45, 0xC5,
                                   0xC5, 0xC5}));
    EXPECT_EQ(link_state.line_byte, 0x45);
}

TEST_F(WaveformTest, OnlyClockDataAndTrailerChipSelectChange)
{
    link_state.line_byte = 0x3E; // every select, channel and aux line high, CS low
    ASSERT_TRUE(shift_bits(0xA5, 8, nullptr, true));
    for (size_t i = 0; i < drv.calls[0].size(); i++)
        EXPECT_EQ(drv.calls[0][i] & 0x3E, 0x3E) << "byte " << i;
    EXPECT_EQ(drv.calls[0].back() & LINE_CS, LINE_CS);
    // Bits at and above bit_count are never sent.
    link_state.line_byte = 0x3E;
    ASSERT_TRUE(shift_bits(0xFFFFFF00u, 8, nullptr, false));
    for (uint8_t b : drv.calls[1])
        EXPECT_EQ(b & LINE_MOSI, 0);
}

TEST_F(WaveformTest, ChipSelectPulseMatchesWorkedExampleAndArmsEachMode)
{
    ASSERT_TRUE(cs_pulse());
    EXPECT_EQ(drv.calls[0], (bytes{0x11, 0x11, 0x91, 0x11, 0x91}));
    EXPECT_EQ(link_state.line_byte, 0x90);

    link_state.chip_config = 7; // another chip: CS and SEL2 armed high
    ASSERT_TRUE(cs_pulse());
    EXPECT_EQ(drv.calls[1][0], 0x91); // SEL2 low during the pulse
    EXPECT_EQ(link_state.line_byte, 0x93);

    link_state.mux_mode = 1; // multiplexed: CS only, channel lines untouched
    link_state.line_byte = 0x0C;
    ASSERT_TRUE(cs_pulse());
    EXPECT_EQ(drv.calls[2][0], 0x0D);
    EXPECT_EQ(link_state.line_byte, 0x8C);
}

TEST_F(WaveformTest, NoPortFailsBeforeAllocating)
{
    close_port();
    link_state.line_byte = 0x55;
    const uint32_t allocs = simport_alloc_count();
    EXPECT_TRUE(shift_fails(1, 8));
    EXPECT_EQ(link_state.line_byte, 0x55);
    EXPECT_EQ(simport_alloc_count(), allocs);
    EXPECT_EQ(recorded_error(), (error_record{ERR_NO_PORT, "No LPT port selected"}));
}

TEST_F(WaveformTest, EitherAllocationFailingLeavesLinesAndDriverUntouched)
{
    for (int which = 0; which < 2; which++) {
        simport_fail_alloc_after(which);
        EXPECT_TRUE(shift_fails(3, 8));
        EXPECT_EQ(link_state.line_byte, 0x10);
        EXPECT_TRUE(drv.calls.empty());
        EXPECT_EQ(recorded_error(), (error_record{ERR_MALLOC, "Malloc failed"}));
    }
}

TEST_F(WaveformTest, FailedControlCallLeavesLineByteAsIfPlayed)
{
    simport_fail_control_after(1, 0);
    EXPECT_TRUE(shift_fails(2, 2));
    EXPECT_EQ(link_state.line_byte, 0x11);
    EXPECT_EQ(recorded_error(), (error_record{ERR_IOCTL, "IOCTL failed"}));
    // cs_pulse arms the selection even after its shift failed.
    simport_fail_control_after(1, 0);
    EXPECT_FALSE(cs_pulse());
    EXPECT_EQ(link_state.line_byte, 0x90);
}

TEST_F(WaveformTest, UnservablePeriodsAreRefusedLikeFailedAllocations)
{
    for (uint32_t period : {0u, SHIFT_PERIOD_MAX + 1, 0xFFFFFFFFu}) {
        link_state.shift_period = period;
        const uint32_t allocs = simport_alloc_count();
        EXPECT_TRUE(shift_fails(0, 31, false)) << period;
        EXPECT_EQ(simport_alloc_count(), allocs) << "nothing allocated for period " << period;
        EXPECT_EQ(last_error(), ERR_MALLOC);
    }
    EXPECT_TRUE(drv.calls.empty());
}

// The waveform layout at every short period and the size of the buffer pair
// of one shift, both of which the engine's segment writer must keep whatever
// store widths it uses.
// Reference waveform at period L: the period-1 bytes, each repeated L times.
std::vector<uint8_t> stretched(const std::vector<uint8_t> &unit, uint32_t period)
{
    std::vector<uint8_t> out;
    for (uint8_t b : unit)
        out.insert(out.end(), period, b);
    return out;
}

using ShiftBufferTest = LinkTest;

TEST_F(ShiftBufferTest, EveryShortPeriodStretchesThePeriodOneWaveform)
{
    recording_driver rec;
    open_port(recording_driver::play, &rec);
    for (bool trailer : {false, true}) {
        for (uint32_t bits : {0u, 2u, 16u, 31u}) {
            link_state.shift_period = 1;
            link_state.line_byte = 0x12;
            ASSERT_TRUE(shift_bits(0x5A5A5A5Bu, bits, nullptr, trailer));
            const std::vector<uint8_t> unit = rec.calls.back();
            const uint8_t after = link_state.line_byte;
            for (uint32_t period = 2; period <= 70; period++) {
                link_state.shift_period = period;
                link_state.line_byte = 0x12;
                ASSERT_TRUE(shift_bits(0x5A5A5A5Bu, bits, nullptr, trailer));
                ASSERT_EQ(rec.calls.back(), stretched(unit, period))
                    << "bits " << bits << " period " << period << " trailer " << trailer;
                ASSERT_EQ(link_state.line_byte, after);
            }
        }
    }
}

TEST_F(ShiftBufferTest, OneBufferPairPerShiftSizedByBitsAndPeriod)
{
    open_port(nullptr, nullptr);
    for (uint32_t period : {1u, 2u, 5u, 49u, 1000u}) {
        for (uint32_t bits : {0u, 2u, 8u, 16u, 31u}) {
            link_state.shift_period = period;
            const uint32_t allocs = simport_alloc_count();
            simport_clear_alloc_peak();
            ASSERT_TRUE(shift_bits(1, bits, nullptr, bits % 2 == 0));
            const uint64_t per_buffer = (uint64_t{bits} + 4) * 2 * period;
            EXPECT_EQ(simport_alloc_count() - allocs, 2u);
            EXPECT_EQ(simport_alloc_last_bytes(), per_buffer);
            EXPECT_EQ(simport_alloc_peak_bytes(), 2 * per_buffer);
            EXPECT_EQ(simport_alloc_live_bytes(), 0u);
        }
    }
}

} // namespace
