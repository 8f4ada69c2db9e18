// SPDX-License-Identifier: MIT
/*
 * The link on the wire: what the library, the port driver, the in-process
 * stand-in, the simulated board and the tools agree on.
 *
 * Freestanding (only <stdint.h>), valid C and C++, so that user-mode code,
 * the kernel-mode driver and the allocation-free board model all include it.
 * In C++ every constant is a typed constexpr; in C an enumeration constant.
 */
#ifndef SPIFNS_WIRE_H
#define SPIFNS_WIRE_H

#include <stdint.h>

#ifdef __cplusplus
#define SPIFNS_WIRE_CONST(type, name, value) constexpr type name = (value);
#else
#define SPIFNS_WIRE_CONST(type, name, value) enum { name = (value) };
#endif

/* Data lines of an output byte: one byte per output step, bit n = data line Dn. */
SPIFNS_WIRE_CONST(uint8_t, LINE_CS, 0x01)     /* chip select, active low */
SPIFNS_WIRE_CONST(uint8_t, LINE_SEL2, 0x02)   /* second select line (direct wiring) */
SPIFNS_WIRE_CONST(uint8_t, MUX_CHANNEL, 0x3E) /* multiplexer channel << 1 (bits 1 to 5) */
SPIFNS_WIRE_CONST(uint8_t, LINE_AUX, 0x10)    /* auxiliary line, high at load */
SPIFNS_WIRE_CONST(uint8_t, LINE_MOSI, 0x40)   /* data to the chip */
SPIFNS_WIRE_CONST(uint8_t, LINE_CLK, 0x80)    /* SPI clock */

/* Status byte: one per output byte; only this bit (the chip's data-out line) is used. */
SPIFNS_WIRE_CONST(uint8_t, STATUS_MISO, 0x40)

/* The one-byte write a port device accepts right after its open. */
SPIFNS_WIRE_CONST(uint8_t, OPEN_PROBE_BYTE, 0xCB)

/* Platform identifier of the Windows NT family (GetVersionExA). */
SPIFNS_WIRE_CONST(uint32_t, PLATFORM_NT, 2)

/* Control code of the play request on a port device: CTL_CODE(0, 0, 0, 0).
 * Input: the output bytes; output: as many status bytes. */
SPIFNS_WIRE_CONST(uint32_t, PLAY_CONTROL_CODE, 0)

/* The simulated board: chips per board, 16-bit words per chip. */
SPIFNS_WIRE_CONST(uint32_t, SIM_MAX_CHIPS, 17)
SPIFNS_WIRE_CONST(uint32_t, SIM_MEM_WORDS, 65536)

#undef SPIFNS_WIRE_CONST

#endif /* SPIFNS_WIRE_H */
