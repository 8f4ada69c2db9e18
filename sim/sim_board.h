// SPDX-License-Identifier: MIT
// Simulated board: chips that answer the library's SPI protocol on the
// parallel-port data lines. Self-contained and allocation-free: the caller
// owns the sim_board storage (about 2.2 MiB: 17 chips of 64 Ki words). No
// exceptions, no standard library beyond <stdint.h>/<stddef.h>, so the same
// source compiles into user-mode programs and into the kernel-mode driver.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "spifns_wire.h"

enum sim_wiring : uint8_t {
    SIM_WIRING_DIRECT = 0, // chip 0 while CS low; chip 1 while CS and SEL2 high
    SIM_WIRING_MUX = 1,    // chip c on channel c (0..16) while CS low
    SIM_WIRING_LOOPBACK = 2, // no chips: a plug from D6 to data-out (status bit 6 = D6)
};

// Faults of one chip (sim_chip::faults).
enum : uint32_t {
    SIM_FAULT_ABSENT = 0x1,   // no chip: data-out reads the board's idle level
    SIM_FAULT_BAD_ECHO = 0x2, // the echo of a read has its low bit inverted
    SIM_FAULT_STUCK0 = 0x4,   // data-out always 0 while selected
    SIM_FAULT_STUCK1 = 0x8,   // data-out always 1 while selected
};

enum { SIM_LOG_SIZE = 64 };

// What a chip saw in one transaction (the period while it stays selected),
// for tests and tools. The entry of the transaction in progress is kept up
// to date while it runs.
struct sim_transaction_log {
    uint8_t chip;
    uint8_t command;    // command byte (valid when bits >= 8)
    uint16_t address;   // valid when bits >= 24
    uint32_t bits;      // rising clock edges (bits sampled) in the transaction
    uint32_t words;     // data words read or written in the transaction
};

struct sim_stats {
    uint32_t transactions;       // transactions started (chip became selected)
    uint32_t read_transactions;  // transactions whose command was a read
    uint32_t write_transactions; // transactions whose command was a write
    uint32_t words_read;         // data words sent in full by chips (echo not counted)
    uint32_t words_written;      // data words stored by chips
    uint64_t bytes;              // output bytes stepped
};

struct sim_chip {
    uint16_t mem[SIM_MEM_WORDS];
    uint8_t stopped; // processor state: 1 stopped, 0 running
    uint32_t faults;
    // Transaction decoder state (private to sim_board.cpp).
    uint8_t selected;
    uint8_t miso;
    uint32_t bit_index;
    uint32_t shift_in;
    uint32_t shift_out;
    uint8_t command;
    uint16_t address;
    uint16_t cursor;
    uint8_t mode;      // header, read, write or ignore
    uint8_t word_bits; // bits of the current data word already moved
    uint8_t echo_done; // read: the echo word has been sent
};

struct sim_board {
    uint8_t wiring;     // sim_wiring
    uint8_t idle_level; // data-out level while no chip drives it: 1, the port's pull-up
                        // (0 models a board that pulls the line down)
    uint8_t last_out;   // previous output byte, for edge detection
    sim_chip chips[SIM_MAX_CHIPS];
    sim_stats stats;
    sim_transaction_log log[SIM_LOG_SIZE]; // ring of the most recent transactions
    uint32_t log_count;              // transactions logged in total
    // Decoder state (private to sim_board.cpp).
    uint8_t sel;        // chip selected by last_out, SIM_NO_CHIP for none
    uint8_t transaction_open; // log[open_slot] belongs to the transaction in progress
    uint32_t open_slot;
};

enum : uint8_t { SIM_NO_CHIP = 0xFF };

// Resets the board to: given wiring, idle level 1, every chip present,
// running, memory zeroed, no faults; direct wiring has chips 0 and 1.
// The previous line state is taken as 0x10 (the library's load state). A chip
// that this state selects (chip 0 in direct wiring, channel 8 when
// multiplexed) counts as selected since power-up: it is in a transaction with no
// clock edge yet, but that transaction is neither counted nor logged.
// wiring, idle_level and each chip's stopped and faults may be changed
// directly between calls; they take effect at the next output byte.
void sim_board_init(sim_board *board, uint8_t wiring);

// One output step: takes the output byte, returns the status byte whose
// bit 6 is the data-out line after this byte's edges.
uint8_t sim_board_step(sim_board *board, uint8_t out);

// Plays n output bytes and stores n status bytes; out and status may be the
// same buffer (a buffered control call hands the driver one buffer for
// both). Returns 1; 0 only for a null board, or null buffers with n > 0.
// The signature matches simport_play_fn so a board can be attached directly.
int sim_board_play(void *board, const uint8_t *out, uint8_t *status, uint32_t n);

// The most recent transaction logs, newest last: copies up to max entries and
// returns how many were copied (at most SIM_LOG_SIZE).
uint32_t sim_board_recent_transactions(const sim_board *board, sim_transaction_log *dst, uint32_t max);

// Clears the statistics and the transaction log; chips, memory and line state stay.
// A transaction in progress goes on unlogged.
void sim_board_reset_stats(sim_board *board);

// The chip that the current line state selects, or -1 for none.
int sim_board_selected_chip(const sim_board *board);
