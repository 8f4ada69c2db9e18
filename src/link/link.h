// SPDX-License-Identifier: MIT
// Port and line driving: port devices, the waveform engine, chip selection.
#pragma once

#include <cstdint>

#include "os/os.h"
#include "spifns_wire.h"

// Largest shift period whose waveform buffers, (bit count + 4) x 2 x period
// bytes for shifts of up to 31 bits, still fit in 32 bits.
constexpr uint32_t SHIFT_PERIOD_MAX = 0xFFFFFFFFu / ((31 + 4) * 2);

os_handle open_port_device(int32_t port);
void close_port();
bool select_port(int32_t port);

// Shifts the low bit_count bits of value out, most significant first, and
// samples bit_count + 1 bits back. See waveform.cpp for the byte layout.
bool shift_bits(uint32_t value, uint32_t bit_count, uint32_t *sampled, bool end_transfer);
// Deselects, clocks two zero bits, and arms the configured selection.
bool cs_pulse();

// Selects a multiplexer channel (0 to 16) or, for any other value, none.
void mux_select(int32_t value);
