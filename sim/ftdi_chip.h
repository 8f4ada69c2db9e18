// SPDX-License-Identifier: MIT
// A model of one channel of an FTDI USB chip in synchronous bit-bang mode,
// with the simulated board at its eight pins, and the adapters a test
// pretends are plugged in. Two front ends put it behind the interfaces the
// USB back end calls: libftdi1's functions (ftdi_model_libftdi.cpp, an
// LD_PRELOAD interposer) and FTDI's D2XX functions (ftdi_model_d2xx.cpp, a
// stand-in ftd2xx.dll for the Wine tests).
//
// What the model keeps of the chip:
// - direction mask: bit k set makes pin Dk an output; inputs read the board's
//   data-out on the data-out pin and the weak pull-up (1) elsewhere;
// - each byte written is output on the pins, and the sample that goes back to
//   the host is taken just before that byte is output, so samples run one
//   byte behind the bytes written;
// - two buffers: bytes from the host waiting to be output, and samples
//   waiting to be read. While the sample buffer is full the chip stalls (the
//   pins hold and bytes wait); once the byte buffer is full too, a write
//   cannot complete and fails, as a real write times out;
// - the byte rate, 16 times the chip's baud-rate setting.
#pragma once

#include <stdint.h>

#include "sim_board.h"

enum ftdi_chip_kind : uint8_t { FTDI_232R, FTDI_232H, FTDI_2232H, FTDI_4232H };

struct ftdi_chip_info {
    const char *name;       // "232R": the chip type as written in a model configuration
    const char *description; // the USB product string
    uint16_t product_id;    // USB product id (vendor 0x0403)
    uint32_t byte_buffer;   // bytes from the host not yet output
    uint32_t sample_buffer; // samples not yet read by the host
    uint32_t channels;
    uint32_t packet;        // USB bulk packet size: 64 full speed, 512 high speed
    uint32_t max_baud;      // highest baud-rate setting
};

const ftdi_chip_info *ftdi_chip_info_of(ftdi_chip_kind kind);

enum : uint8_t { FTDI_MODE_RESET = 0x00, FTDI_MODE_SYNC_BITBANG = 0x04 };
enum : uint32_t { FTDI_MAX_BUFFER = 1024, FTDI_MIN_BAUD = 183 };

struct ftdi_chip_stats {
    uint64_t bytes_out;    // bytes output on the pins
    uint32_t writes;       // host writes (USB OUT transfers)
    uint32_t reads;        // host reads that returned samples (USB IN transfers)
    uint32_t short_reads;  // of them, reads whose samples end in a partly filled USB
                           // packet: on a chip those wait for the latency timer
    uint32_t stalls;       // times bytes were left waiting for the host to read samples
    uint32_t failed_writes; // writes that could not complete
    uint32_t max_unread;   // most samples waiting unread at once
    uint32_t serial_bytes; // bytes written outside bit-bang mode (sent as serial data)
};

struct ftdi_chip {
    const ftdi_chip_info *info;
    sim_board *board;       // at the pins; nullptr: nothing attached
    uint8_t data_out_pin;   // pin wired to the board's data-out
    uint8_t mode;
    uint8_t direction;      // 1 bits are outputs
    uint8_t latch;          // the last byte output
    uint8_t board_data_out; // the board's data-out after the last byte
    uint8_t latency_ms;
    uint32_t baud;
    uint8_t bytes[FTDI_MAX_BUFFER];
    uint32_t byte_count;
    uint8_t samples[FTDI_MAX_BUFFER];
    uint32_t sample_first, sample_count;
    ftdi_chip_stats stats;
    // Called with the driven pins of every byte output (tests record the waveform).
    void (*pin_log)(void *context, uint8_t pins);
    void *pin_log_context;
};

// Power-up: mode reset, all pins inputs, 9600 baud, latency 16 ms, buffers empty.
void ftdi_chip_init(ftdi_chip *chip, ftdi_chip_kind kind, sim_board *board, uint8_t data_out_pin);
void ftdi_chip_set_mode(ftdi_chip *chip, uint8_t direction, uint8_t mode);
// Empties both buffers (a purge, or the reset request).
void ftdi_chip_purge(ftdi_chip *chip);
// Takes n bytes from the host; how many fitted, fewer than n when the write
// would time out (the bytes that fitted stay taken).
uint32_t ftdi_chip_write(ftdi_chip *chip, const uint8_t *bytes, uint32_t n);
// Hands up to max waiting samples to the host; how many.
uint32_t ftdi_chip_read(ftdi_chip *chip, uint8_t *dst, uint32_t max);
// Output bytes per second at the current baud-rate setting.
double ftdi_chip_byte_rate(const ftdi_chip *chip);
