// SPDX-License-Identifier: MIT
// Waveform engine: turns a run of bits into parallel-port output bytes,
// plays them through the driver in one control call and samples the chip's
// data-out line from the status bytes that come back.
//
// Layout of one shift of n bits at period L (b = line_byte at entry):
//   idle segment        L bytes of b, unchanged
//   bit i, low half     L bytes: previous byte, MOSI = bit i, CLK low
//   bit i, high half    L bytes: the same byte with CLK high
//   trailer (optional)  the last segment rewritten with CLK low, then
//                       CS raised and two clock pulses (4 segments)
// Sample j (0..n) is bit 6 of the status byte at j * 2L: the idle segment's
// first byte, then the first byte of each bit's high half.
#include <cstring>

#include "frame/frame.h"
#include "link/link.h"

// Stores the low `width` bytes of a replicated pattern at `at`.
template <size_t width>
static inline void store_pattern(uint8_t *at, uint64_t pattern)
{
    memcpy(at, &pattern, width); // one unaligned store; byte-replicated, so endianness does not matter
}

// Writes one segment of L identical bytes. Short segments, which the usual
// periods give, are written with one or two overlapping word stores instead
// of a library call; long ones with memset.
static inline uint8_t *put_segment(uint8_t *at, uint8_t value, uint32_t period)
{
    const uint64_t pattern = value * 0x0101010101010101ull;
    if (period == 1) {
        *at = value;
    } else if (period < 4) {
        store_pattern<2>(at, pattern);
        store_pattern<2>(at + period - 2, pattern);
    } else if (period < 8) {
        store_pattern<4>(at, pattern);
        store_pattern<4>(at + period - 4, pattern);
    } else if (period <= 16) {
        store_pattern<8>(at, pattern);
        store_pattern<8>(at + period - 8, pattern);
    } else if (period <= 32) {
        // Word stores, the last one overlapping the one before it.
        for (uint32_t i = 0; i + 8 < period; i += 8)
            store_pattern<8>(at + i, pattern);
        store_pattern<8>(at + period - 8, pattern);
    } else {
        memset(at, value, period);
    }
    return at + period;
}

bool shift_bits(uint32_t value, uint32_t bit_count, uint32_t *sampled, bool end_transfer)
{
    if (sampled != nullptr)
        *sampled = 0;

    if (link_state.port_handle == nullptr) {
        record_error(ERR_NO_PORT, "No LPT port selected");
        return false;
    }

    // A period of 0 would give a waveform with nothing to sample, and one
    // whose buffers exceed 32 bits cannot be described to the driver: both
    // are refused like an allocation that cannot be served.
    const uint32_t period = link_state.shift_period;
    const uint64_t size = (static_cast<uint64_t>(bit_count) + 4) * period * 2;
    if (period == 0 || bit_count > 31 || size > 0xFFFFFFFFu) {
        record_error(ERR_MALLOC, "Malloc failed");
        return false;
    }

    uint8_t *out = static_cast<uint8_t *>(os_alloc(size));
    uint8_t *samples = out != nullptr ? static_cast<uint8_t *>(os_alloc(size)) : nullptr;
    if (samples == nullptr) {
        os_free(out);
        record_error(ERR_MALLOC, "Malloc failed");
        return false;
    }

    uint8_t b = link_state.line_byte;
    uint8_t *at = put_segment(out, b, period);
    for (uint32_t bit = bit_count; bit-- > 0;) {
        b = static_cast<uint8_t>(b & ~(LINE_MOSI | LINE_CLK));
        if ((value >> bit) & 1u)
            b |= LINE_MOSI;
        at = put_segment(at, b, period);
        b |= LINE_CLK;
        at = put_segment(at, b, period);
    }
    if (bit_count > 0)
        link_state.line_byte = b;

    if (end_transfer) {
        // Clock low over the last segment, then chip select high and two
        // clock pulses. line_byte keeps the clock low although the wire was
        // last driven high; the next idle segment drives it low again.
        at -= period;
        const uint8_t c = static_cast<uint8_t>(b & ~LINE_CLK);
        at = put_segment(at, c, period);
        const uint8_t d = static_cast<uint8_t>(c | LINE_CS);
        link_state.line_byte = d;
        at = put_segment(at, d, period);
        at = put_segment(at, static_cast<uint8_t>(d | LINE_CLK), period);
        at = put_segment(at, d, period);
        at = put_segment(at, static_cast<uint8_t>(d | LINE_CLK), period);
    }

    const uint32_t used = static_cast<uint32_t>(at - out);
    if (!os_port_play(link_state.port_handle, out, samples, used)) {
        record_error(ERR_IOCTL, "IOCTL failed");
        os_free(samples);
        os_free(out);
        return false;
    }

    uint32_t r = 0;
    const uint8_t *sample = samples;
    const size_t stride = static_cast<size_t>(period) * 2;
    for (uint32_t j = 0; j <= bit_count; j++, sample += stride)
        r = (r << 1) | ((*sample & STATUS_MISO) ? 1u : 0u);

    os_free(samples);
    os_free(out);
    if (sampled != nullptr)
        *sampled = r;
    return true;
}

bool cs_pulse()
{
    if (link_state.mux_mode)
        link_state.line_byte |= LINE_CS;
    else
        link_state.line_byte = static_cast<uint8_t>((link_state.line_byte & ~LINE_SEL2) | LINE_CS);

    const bool ok = shift_bits(0, 2, nullptr, false);

    if (link_state.mux_mode)
        link_state.line_byte &= static_cast<uint8_t>(~LINE_CS);
    else if (link_state.chip_config != 0)
        link_state.line_byte |= LINE_CS | LINE_SEL2;
    else
        link_state.line_byte &= static_cast<uint8_t>(~(LINE_CS | LINE_SEL2));
    return ok;
}
