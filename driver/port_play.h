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

struct port_ops {
    void (*put)(void *context, uint8_t data);
    uint8_t (*take)(void *context);
    void *context;
};

inline void port_play(const port_ops *ops, const uint8_t *out, uint8_t *status, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t data = out[i];
        ops->put(ops->context, data);
        status[i] = ops->take(ops->context);
    }
}
