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

/* The lines as the library drives them from load: the auxiliary line high, all else low. */
SPIFNS_WIRE_CONST(uint8_t, LINE_BYTE_AT_LOAD, 0x10)
/* Lines that select no chip and clock nothing: chip select high, second select line low (no
 * chip in either wiring, no multiplexer channel enabled), clock and data low, the auxiliary line
 * as at load. Port back ends drive it whenever they take or hand back the data lines. */
SPIFNS_WIRE_CONST(uint8_t, LINE_NEUTRAL, 0x11)

/* Status byte: one per output byte; only this bit (the chip's data-out line) is used. */
SPIFNS_WIRE_CONST(uint8_t, STATUS_MISO, 0x40)

/* The chip's command bytes (before the configurable command bits are OR-ed in). A chip
 * answers the 16 clocks after a read command's address with the echo below. */
SPIFNS_WIRE_CONST(uint8_t, CHIP_CMD_WRITE, 0x02)
SPIFNS_WIRE_CONST(uint8_t, CHIP_CMD_READ, 0x03)
static inline uint16_t chip_read_echo(uint8_t command, uint16_t address)
{
    return (uint16_t)((command << 8) | (address >> 8));
}

/* SPICLOCK of a shift period of 1; clock = CLOCK_FACTOR / period both ways. */
#ifdef __cplusplus
constexpr double CLOCK_FACTOR = 172.41;
#else
#define CLOCK_FACTOR 172.41
#endif

/* Port n's device: SPIFNS_DEVICE_PREFIX followed by n in decimal, no leading zeros; the driver
 * names its symbolic links SPIFNS_DEVICE_NAME n, and its control device SPIFNS_DEVICE_NAME "CTL". */
#define SPIFNS_DEVICE_NAME "TORVEX"
#define SPIFNS_DEVICE_PREFIX "\\\\.\\" SPIFNS_DEVICE_NAME

/* Port numbers.
 * PORT_MAX: the highest port number any back end serves: the driver's Ports value is a 32-bit
 *   mask with bit n for port n, so ports run from 1 to 31; the simulated drivers, the Linux and
 *   USB back ends and spitool --port keep to the same range.
 * PORT_ENUM_FIRST to PORT_ENUM_LAST: what spifns_enumerate_ports probes after its unprobed first
 *   entry; hosts know this range, so ports above 16 can be selected but are never listed. */
SPIFNS_WIRE_CONST(int32_t, PORT_MIN, 1)
SPIFNS_WIRE_CONST(int32_t, PORT_MAX, 31)
SPIFNS_WIRE_CONST(int32_t, PORT_ENUM_FIRST, 2)
SPIFNS_WIRE_CONST(int32_t, PORT_ENUM_LAST, 16)

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
