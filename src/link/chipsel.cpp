// SPDX-License-Identifier: MIT
// Chip selection: directly by chip number, or through an external
// multiplexer of 17 channels driven from the MUX_CHANNEL lines.
#include <cstdint>

#include "frame/frame.h"
#include "link/link.h"

constexpr uint32_t MUX_LAST_CHANNEL = 16;
constexpr int64_t MUX_SETTLE_MS = 5;

extern "C" SPIFNS_API void SPIFNS_CALL spifns_chip_select(int chip_number)
{
    // Direct selection: the channel lines other than SEL2 low, AUX high.
    link_state.line_byte = static_cast<uint8_t>((link_state.line_byte & ~(MUX_CHANNEL & ~LINE_SEL2)) | LINE_AUX);
    link_state.mux_mode = 0;
    link_state.chip_config = chip_number;
    link_state.spimul_value = chip_number;
    trace("ChipSelect: %04x mul:%d confog:%d chip_num:%d\n", static_cast<unsigned>(link_state.line_byte), 0,
          chip_number, chip_number);
}

// Waits at least MUX_SETTLE_MS from now, yielding the processor between
// counter reads. Without a usable counter frequency it falls back to a timed
// sleep of the same length, after one yield.
static void settle_wait()
{
    const int64_t frequency = os_counter_frequency();
    int64_t start = os_counter_now();
    if (frequency <= 0) {
        os_yield();
        os_sleep_ms(MUX_SETTLE_MS);
        return;
    }
    for (;;) {
        os_yield();
        const int64_t now = os_counter_now();
        // A counter that went backwards restarts the wait from its new value.
        if (now < start) {
            start = now;
            continue;
        }
        const int64_t elapsed = now - start;
        // An elapsed count too large to multiply by 1000 is far beyond 5 ms.
        if (elapsed > INT64_MAX / 1000 || (elapsed * 1000) / frequency >= MUX_SETTLE_MS)
            break;
    }
}

void mux_select(int32_t value)
{
    link_state.spimul_value = value;
    const uint32_t channel = static_cast<uint32_t>(value);
    if (channel > MUX_LAST_CHANNEL) {
        if (link_state.chip_config != 0 || link_state.mux_mode != 0)
            link_state.shift_period = 1;
        link_state.mux_mode = 0;
        link_state.chip_config = 0;
        link_state.line_byte &= LINE_MOSI | LINE_CS;
    } else {
        if (link_state.chip_config != value || link_state.mux_mode != 1)
            link_state.shift_period = 1;
        link_state.chip_config = value;
        link_state.mux_mode = 1;
        link_state.line_byte = static_cast<uint8_t>((link_state.line_byte & (LINE_MOSI | LINE_CS)) | (channel << 1));
    }

    shift_bits(0, 2, nullptr, false);
    settle_wait();

    trace("MulitplexSelect: %04x mul:%d config:%d chip_num:%d\n", static_cast<unsigned>(link_state.line_byte),
          link_state.mux_mode, link_state.chip_config, link_state.spimul_value);
}
