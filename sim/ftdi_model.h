// SPDX-License-Identifier: MIT
// The adapters a test pretends are plugged in: each an FTDI chip of one kind
// with a serial number, one simulated board per channel. Shared by the two
// front ends (libftdi1 and D2XX) and the tests that drive them in-process.
//
// From the environment, read once on first use:
//   SPIFNS_FTDI_MODEL         the adapters, "SERIAL[:KIND[:WIRING]]" separated by
//                             commas; KIND 232R (default), 232H, 2232H, 4232H;
//                             WIRING direct (default), mux or loopback
//   SPIFNS_FTDI_MODEL_MEMORY  a file of 65536 little-endian words: chip 0's memory
//                             on the first adapter's first channel, loaded at
//                             start when present and saved whenever that
//                             channel is closed
//   SPIFNS_FTDI_MODEL_STOPPED "1": every board's processors are stopped
#pragma once

#include <stdint.h>

#include "ftdi_chip.h"

enum : uint32_t { FTDI_MODEL_MAX_ADAPTERS = 8, FTDI_MODEL_SERIAL_MAX = 16 };

struct ftdi_model_channel {
    ftdi_chip chip;
    sim_board board;
    bool open;
};

struct ftdi_model_adapter {
    char serial[FTDI_MODEL_SERIAL_MAX];
    ftdi_chip_kind kind;
    ftdi_model_channel *channels; // ftdi_chip_info_of(kind)->channels of them
};

// Replaces the adapters with those of config (the format above); false for a
// malformed config, which leaves no adapter. The data-out pin of every board is D5.
bool ftdi_model_configure(const char *config);
// Configures from the environment unless configured already.
void ftdi_model_from_environment();
uint32_t ftdi_model_count();
ftdi_model_adapter *ftdi_model_adapter_at(uint32_t index);
// Saves chip 0's memory to SPIFNS_FTDI_MODEL_MEMORY when channel is the first
// adapter's first channel; a front end calls it when a channel is closed.
void ftdi_model_channel_closed(ftdi_model_channel *channel);
