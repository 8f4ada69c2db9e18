// SPDX-License-Identifier: MIT
// The USB edition against the FTDI chip model linked into this program (its
// libftdi1 functions stand in front of the real ones), and the model itself.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libftdi1/ftdi.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ftdi_model.h"
#include "loaded_library.h"
#include "records.h"
#include "simport.h"
#include "spifns_wire.h"

namespace {

std::vector<std::string> g_trace;
void SPIFNS_CALL keep_trace(const char *line)
{
    g_trace.emplace_back(line);
}

// A host session touching every kind of link step: port selection, clock,
// multiplexer channels, writes, reads with their echo check (one failing on a
// missing chip), the processor probe, and the close. What the host sees.
std::vector<std::string> host_session(loaded_library &lib)
{
    std::vector<std::string> seen;
    auto note = [&](const std::string &what, int result) {
        uint16_t address = 0;
        const char *message = nullptr;
        const int code = lib.get_last_error(&address, &message);
        seen.push_back(what + " -> " + std::to_string(result) + " error " + std::to_string(code) + " " + message);
    };
    g_trace.clear();
    lib.init();
    lib.set_debug_callback(keep_trace);
    uint16_t words[4] = {0x1234, 0xBEEF, 0x0007, 0x8001};
    uint16_t back[4] = {};
    // Shift periods of 1 (every sample right beside the next), 2, and 9
    // (plays of several chunks).
    const char *const steps[][2] = {{"0", "1"}, {"15", "9"}, {"9", "2"}};
    for (const auto &[channel, period] : steps) {
        note(std::string("SPIMUL ") + channel, run_setvar("SPIPORT", "1", lib.sequence) |
                                                  run_setvar("SPIMUL", channel, lib.sequence));
        const seq_record records[] = {setvar("SPISHIFTPERIOD", period), transfer(SEQ_WRITE, 0x1000, 4, words),
                                      transfer(SEQ_READ, 0x1000, 4, back)};
        note("sequence", lib.sequence(records, 3));
        seen.push_back(std::to_string(back[0]) + " " + std::to_string(back[3]));
        note("probe", lib.xap_stopped());
        words[0]++;
    }
    lib.set_debug_callback(nullptr);
    lib.close();
    for (const std::string &line : g_trace)
        if (line.compare(0, 5, "usb: ") != 0)
            seen.push_back(line);
    return seen;
}

// The parallel-port path: a simulated driver playing into a board.
struct Recorder {
    sim_board board;
    std::vector<std::vector<uint8_t>> plays;
};
int record_play(void *context, const uint8_t *out, uint8_t *status, uint32_t n)
{
    Recorder *r = static_cast<Recorder *>(context);
    r->plays.emplace_back(out, out + n);
    return sim_board_play(&r->board, out, status, n);
}

void record_pins(void *context, uint8_t pins)
{
    static_cast<std::vector<uint8_t> *>(context)->push_back(pins);
}

ftdi_chip &model_chip(uint32_t adapter, uint32_t channel = 0)
{
    return ftdi_model_adapter_at(adapter)->channels[channel].chip;
}

class UsbEdition : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No settings file of the machine's: only what a test sets.
        setenv("SPIFNS_USB_CONFIG", "/dev/null", 1);
        unsetenv("SPIFNS_USB_PORT1");
    }
};

TEST_F(UsbEdition, HostSessionGivesTheParallelPortsResultsAndWaveform)
{
    static Recorder parallel;
    sim_board_init(&parallel.board, SIM_WIRING_MUX);
    parallel.board.chips[9].faults = SIM_FAULT_ABSENT;
    std::vector<std::string> want;
    {
        loaded_library lib(SPIFNS_SO_PATH);
        ASSERT_NE(lib.attach, nullptr) << dlerror();
        lib.attach(1, record_play, &parallel);
        want = host_session(lib);
    }

    ASSERT_TRUE(ftdi_model_configure("A1:232R:mux"));
    ftdi_chip &chip = model_chip(0);
    ftdi_model_adapter_at(0)->channels[0].board.chips[9].faults = SIM_FAULT_ABSENT;
    std::vector<uint8_t> pins;
    chip.pin_log = record_pins;
    chip.pin_log_context = &pins;
    std::vector<std::string> got;
    {
        loaded_library lib(SPIFNS_USB_SO_PATH);
        ASSERT_NE(lib.handle, nullptr) << dlerror();
        got = host_session(lib);
    }
    EXPECT_EQ(got, want);
    EXPECT_NE(std::find(got.begin(), got.end(), "4660 32769"), got.end()); // written, read back
    EXPECT_NE(std::find(got.begin(), got.end(), "sequence -> 1 error 259 Unable to read"), got.end());

    // On the pins: the probe's neutral byte, each play followed by its last
    // byte once more (the sample that closes it), the neutral byte at close.
    // Every port selection opens the adapter afresh.
    std::vector<uint8_t> expected;
    size_t play = 0;
    for (int open = 0; open < 3; open++) {
        expected.push_back(LINE_NEUTRAL);
        for (size_t k = 0; k < parallel.plays.size() / 3; k++, play++) {
            for (uint8_t b : parallel.plays[play])
                expected.push_back(b & 0xDF); // D5 is the data-out input
            expected.push_back(parallel.plays[play].back() & 0xDF);
        }
        expected.push_back(LINE_NEUTRAL);
    }
    EXPECT_EQ(play, parallel.plays.size());
    EXPECT_EQ(pins, expected);

    // Read back in time: never more samples unread than the FT232R's 128.
    EXPECT_EQ(chip.stats.stalls, 0u);
    EXPECT_EQ(chip.stats.failed_writes, 0u);
    EXPECT_LE(chip.stats.max_unread, 128u);
    EXPECT_EQ(chip.mode, FTDI_MODE_RESET); // handed back at close
    EXPECT_EQ(ftdi_chip_byte_rate(&chip), 1e6);
    EXPECT_LE(chip.latency_ms, 2);
}

TEST_F(UsbEdition, PortsAreAdaptersBySerialThenChannelUnlessNamed)
{
    ASSERT_TRUE(ftdi_model_configure("B2:232H,A1:2232H"));
    loaded_library lib(SPIFNS_USB_SO_PATH);
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    std::vector<int> listed;
    lib.enumerate_ports([](int port, const char *, void *ctx) { static_cast<std::vector<int> *>(ctx)->push_back(port); },
                        &listed);
    EXPECT_EQ(listed, (std::vector<int>{1, 2, 3}));

    auto opened = [&](const char *port) {
        EXPECT_EQ(run_setvar("SPIPORT", port, lib.sequence), 0) << port;
        std::string which;
        for (uint32_t a = 0; a < 2; a++)
            for (uint32_t c = 0; c < ftdi_chip_info_of(ftdi_model_adapter_at(a)->kind)->channels; c++)
                if (ftdi_model_adapter_at(a)->channels[c].open)
                    which += std::string(ftdi_model_adapter_at(a)->serial) + char('A' + c);
        return which;
    };
    EXPECT_EQ(opened("1"), "A1A");
    EXPECT_EQ(opened("2"), "A1B");
    EXPECT_EQ(opened("3"), "B2A");
    // Channel 16 needs D5 high, and D5 is the data-out input.
    g_trace.clear();
    lib.set_debug_callback(keep_trace);
    run_setvar("SPIMUL", "16", lib.sequence);
    EXPECT_EQ(lib.get_last_error(nullptr, nullptr), ERR_IOCTL);
    EXPECT_NE(std::find(g_trace.begin(), g_trace.end(),
                        "usb: D5 is the data-out input and cannot be driven high (multiplexer channel 16)\n"),
              g_trace.end());
    run_setvar("SPIMUL", "-1", lib.sequence);
    EXPECT_EQ(run_setvar("SPIPORT", "4", lib.sequence), 1);
    setenv("SPIFNS_USB_PORT1", "A1:b", 1);
    EXPECT_EQ(opened("1"), "A1B");
    setenv("SPIFNS_USB_DATA_OUT_PIN", "7", 1);
    EXPECT_EQ(run_setvar("SPIPORT", "1", lib.sequence), 1);
    unsetenv("SPIFNS_USB_DATA_OUT_PIN");
    ASSERT_FALSE(g_trace.empty());
    EXPECT_EQ(g_trace.back(), "usb: SPIFNS_USB_DATA_OUT_PIN: data_out_pin '7' is not a pin from 1 to 5\n");
    lib.set_debug_callback(nullptr);
}

// Direct use of the model through libftdi1's functions, as a back end would.
struct ModelChannel {
    ftdi_context *ftdi = ftdi_new();
    explicit ModelChannel(const char *config)
    {
        EXPECT_TRUE(ftdi_model_configure(config));
        ftdi_device_list *list = nullptr;
        EXPECT_EQ(ftdi_usb_find_all(ftdi, &list, 0, 0), 1);
        EXPECT_EQ(ftdi_usb_open_dev(ftdi, list->dev), 0);
        ftdi_list_free(&list);
        EXPECT_EQ(ftdi_set_bitmode(ftdi, 0xDF, BITMODE_SYNCBB), 0);
    }
    ~ModelChannel() { ftdi_free(ftdi); }
};

TEST(FtdiModel, SamplesRunOneByteBehindTheBytesWritten)
{
    ModelChannel m("L1:232R:loopback"); // a plug from D6 to the data-out pin D5
    const uint8_t out[] = {0x40, 0x00, 0x00, 0x40, 0x40, 0x00};
    uint8_t samples[6] = {};
    ASSERT_EQ(ftdi_write_data(m.ftdi, out, 6), 6);
    ASSERT_EQ(ftdi_read_data(m.ftdi, samples, 6), 6);
    for (int k = 1; k < 6; k++)
        EXPECT_EQ((samples[k] >> 5) & 1, (out[k - 1] >> 6) & 1) << "sample " << k;
    EXPECT_EQ(samples[3] & 0xDF, out[2]); // outputs read back as driven
}

TEST(FtdiModel, StallsWhileSamplesWaitUnreadAndRefusesWhatCannotWait)
{
    ModelChannel m("S1:232R");
    ftdi_chip &chip = model_chip(0);
    std::vector<uint8_t> bytes(256 + 128 + 1, 0x11);
    EXPECT_EQ(ftdi_write_data(m.ftdi, bytes.data(), 256), 256);
    EXPECT_EQ(chip.stats.stalls, 0u);
    EXPECT_EQ(ftdi_write_data(m.ftdi, bytes.data(), 128), 128); // waits in the chip
    EXPECT_EQ(chip.stats.stalls, 1u);
    EXPECT_EQ(chip.stats.bytes_out, 256u);
    EXPECT_LT(ftdi_write_data(m.ftdi, bytes.data(), 1), 0); // nowhere to wait: the write times out
    std::vector<uint8_t> samples(512);
    EXPECT_EQ(ftdi_read_data(m.ftdi, samples.data(), 512), 256);
    EXPECT_EQ(chip.stats.bytes_out, 384u); // the waiting bytes went out
}

TEST(FtdiModel, BitBangByteRateIsSixteenTimesTheBaudRateLibftdiSetsFourTimesOver)
{
    ModelChannel m("R1:232R");
    ASSERT_EQ(ftdi_set_baudrate(m.ftdi, 15625), 0);
    EXPECT_EQ(ftdi_chip_byte_rate(&model_chip(0)), 1e6);
    EXPECT_LT(ftdi_set_baudrate(m.ftdi, 1000000), 0); // 4 MBd: beyond the FT232R
}

} // namespace
