// SPDX-License-Identifier: MIT
// A model of a PC parallel port's registers, for testing the hardware back
// end without hardware, with a simulated board wired at the pins that
// driver/README.md names: D0 to D7 (pins 2 to 9) to the board's lines, the
// board's data-out to pin 10 (ACK, status bit 6).
//
// What it models: the data, status and control registers at base, base + 1,
// base + 2 and, when the port has one, the ECR with its mode field and its
// FIFO bits; standard (SPP) and PS/2 modes, where writes to the data register
// reach the pins; the FIFO and ECP modes, where they go to the FIFO (which
// only leaving those modes empties: nothing drains it), and EPP mode, where
// they do not reach the pins either; the direction bit, which in PS/2 mode
// switches the data-line drivers off (the pins then float high and the data
// register reads the pins); inputs that nothing drives reading high; status
// bit 7 the inverse of the BUSY pin; a pending EPP timeout, during which the
// port ignores data writes until it is cleared; and a delay of k register
// accesses before a change of data-out shows in the status register.
// Ports differ in ways the model can be set to: ports that decode only 10
// address bits (base + 0x402 reaches the control register), control
// registers that read some bits high whatever was written, status bit 0
// reading set outside EPP mode, the plug on pin 11 instead of pin 10.
// Every access is logged, with the levels of the data pins after it.
#pragma once

#include <stdint.h>

#include <vector>

#include "sim_board.h"

enum pc_port_mode : uint8_t { // the ECR's mode field
    PC_MODE_SPP = 0,
    PC_MODE_PS2 = 1,
    PC_MODE_FIFO = 2,
    PC_MODE_ECP = 3,
    PC_MODE_EPP = 4,
};

// How a chip clears a pending EPP timeout.
enum pc_timeout_clear : uint8_t { PC_CLEAR_ON_READ, PC_CLEAR_ON_WRITE_1, PC_CLEAR_ON_WRITE_0 };

struct pc_port_access {
    bool write;
    uint32_t address;
    uint8_t value;
    bool operator==(const pc_port_access &o) const
    {
        return write == o.write && address == o.address && value == o.value;
    }
};

struct pc_port_model {
    // Wiring and configuration.
    uint32_t base = 0x378;
    uint32_t ecr = 0x77A; // 0: no ECR
    uint8_t mode = PC_MODE_SPP; // with no ECR, fixed
    bool decode_10bit = false;  // only address bits 9..0 decoded (give such a port no ECR)
    sim_board *board = nullptr; // nothing connected when null
    bool miso_on_busy = false;  // the board's data-out on pin 11 (BUSY) instead; ACK floats high
    uint8_t input_pins = 0xB8;  // levels of BUSY (bit 7), PE, SELECT, ERROR (bits 5..3): pulled high
    uint8_t reserved_bits = 0;  // what status bits 2..0 read, the EPP timeout aside
    bool timeout_bit_outside_epp = false; // status bit 0 reads set whenever not in EPP mode
    uint8_t control_reads_high = 0xC0;    // control register bits that read 1 whatever was written
    pc_timeout_clear timeout_clear = PC_CLEAR_ON_READ;
    uint32_t delay = 0; // accesses before data-out shows in the status register

    // Register state.
    uint8_t data = 0;
    uint8_t control = 0x0C; // INIT high, others low
    uint8_t ecr_bits = 0x14; // ECR bits 4..2: interrupts and DMA off
    uint8_t fifo = 0;        // bytes in the FIFO (16 when full)
    bool epp_timeout = false;

    std::vector<pc_port_access> log;
    std::vector<int16_t> pin_log; // pins() after each access in log, -1 while not driven

    void out(uint32_t address, uint8_t value);
    uint8_t in(uint32_t address);

    // The levels on data pins 2 to 9 (what the board sees).
    uint8_t pins() const;
    bool drives_data() const;

private:
    std::vector<uint8_t> miso_; // data-out level after each access, oldest first
    bool at(uint32_t address, uint32_t reg) const;
    void tick();
};
