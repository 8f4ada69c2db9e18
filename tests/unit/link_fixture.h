// SPDX-License-Identifier: MIT
// Shared fixture of the library tests: every test starts from the load state
// (restored from the very constant the library is initialised from) with no
// simulated driver attached, and can capture trace lines and control calls.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "load_state.h"
#include "records.h"
#include "sim_board.h"

// Trace lines received by the host's callback.
inline std::vector<std::string> &traced()
{
    static std::vector<std::string> lines;
    return lines;
}
inline void SPIFNS_CALL collect_trace(const char *line)
{
    traced().emplace_back(line);
}

// A simulated driver that records every control call's bytes and answers
// with a chosen data-out level for chosen output-byte positions.
struct recording_driver {
    std::vector<std::vector<uint8_t>> calls;
    std::vector<uint32_t> miso_high_at; // positions whose status has bit 6 set
    bool miso_always = false;

    static int play(void *context, const uint8_t *out, uint8_t *status, uint32_t n)
    {
        auto *self = static_cast<recording_driver *>(context);
        self->calls.emplace_back(out, out + n);
        for (uint32_t i = 0; i < n; i++)
            status[i] = self->miso_always ? 0xFF : 0xBF; // every other bit set: only bit 6 counts
        for (uint32_t pos : self->miso_high_at)
            if (pos < n)
                status[pos] |= 0x40;
        return 1;
    }
};

// A board chained behind a recorder: the chips answer, the calls are kept.
struct board_driver {
    sim_board board;
    std::vector<uint32_t> call_sizes;

    static int play(void *context, const uint8_t *out, uint8_t *status, uint32_t n)
    {
        auto *self = static_cast<board_driver *>(context);
        self->call_sizes.push_back(n);
        return sim_board_play(&self->board, out, status, n);
    }
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }

    static void reset()
    {
        return_to_load_state();
        traced().clear();
    }

    // Attaches a driver to port 1 and selects it.
    static void open_port(simport_play_fn play, void *context, int port = 1)
    {
        ASSERT_EQ(simport_attach(port, play, context), 0);
        ASSERT_TRUE(select_port(port));
    }

    static void capture_trace() { spifns_set_debug_callback(collect_trace); }

    static int last_error(uint16_t *address = nullptr) { return spifns_get_last_error(address, nullptr); }
    // The last error as (code, message), for one expectation on both.
    using error_record = std::pair<int, std::string>;
    static error_record recorded_error(uint16_t *address = nullptr)
    {
        const char *message = nullptr;
        const int code = spifns_get_last_error(address, &message);
        return {code, message};
    }
    // The stand-in's counters of one port.
    static simport_stats port_stats(int port)
    {
        simport_stats stats;
        simport_get_stats(port, &stats);
        return stats;
    }

    static int set(const char *name, const char *value) { return run_setvar(name, value); }
};

// A board driver with a heap-allocated board (2 MiB does not belong on the stack).
struct BoardTest : LinkTest {
    std::unique_ptr<board_driver> drv = std::make_unique<board_driver>();

    void SetUp() override
    {
        LinkTest::SetUp();
        sim_board_init(&drv->board, SIM_WIRING_DIRECT);
        open_port(board_driver::play, drv.get());
    }
    sim_chip &chip(int n = 0) { return drv->board.chips[n]; }
};

// A recording driver on port 1, selected.
struct RecordingTest : LinkTest {
    using bytes = std::vector<uint8_t>;
    recording_driver drv;

    void SetUp() override
    {
        LinkTest::SetUp();
        open_port(recording_driver::play, &drv);
    }
};
