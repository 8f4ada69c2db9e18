// SPDX-License-Identifier: MIT
// The play loop of the port driver, shared by both back ends.
//
// A back end offers two operations on one parallel port: put a byte on the
// data lines, then take the status byte. The loop plays a buffer of output
// bytes in order and stores, for each, the status byte taken right after it
// at the same index. It reads out[i] before it writes status[i], so the two
// buffers may be the same storage (METHOD_BUFFERED hands the driver one
// system buffer for both directions).
#pragma once

#include <stddef.h>
#include <stdint.h>

// How often a play asks whether to stop: every 64 KiB of output bytes.
constexpr uint32_t PORT_PLAY_STOP_CHECK = 64u * 1024u;

struct port_ops {
    void (*put)(void *context, uint8_t data);
    uint8_t (*take)(void *context);
    void *context;
    // Asked before the first byte and then every PORT_PLAY_STOP_CHECK bytes
    // whether to stop there; null: never stop.
    bool (*stop)(void *stop_context);
    void *stop_context;
};

// Returns the number of bytes played: n, or fewer when stop said so.
inline uint32_t port_play(const port_ops *ops, const uint8_t *out, uint8_t *status, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (ops->stop != nullptr && i % PORT_PLAY_STOP_CHECK == 0 && ops->stop(ops->stop_context))
            return i;
        const uint8_t data = out[i];
        ops->put(ops->context, data);
        status[i] = ops->take(ops->context);
    }
    return n;
}
