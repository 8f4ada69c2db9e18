// SPDX-License-Identifier: MIT
/*
 * torvex: the parallel-port SPI driver's interface to user mode.
 *
 * Port devices ("\\.\TORVEXn"): opened exclusively, armed by the one-byte
 * write of OPEN_PROBE_BYTE, then served with PLAY_CONTROL_CODE (METHOD_BUFFERED):
 * the input buffer holds the output bytes for the port data lines, the output
 * buffer of the same length receives one status byte per output byte.
 *
 * Control device ("\\.\TORVEXCTL"), present only with the simulated back end:
 * the requests below inspect and steer the simulated boards behind the ports.
 * Every request is METHOD_BUFFERED; every structure is little-endian, packed
 * by natural alignment of 32-bit fields (no padding), identical for 32-bit
 * user mode and the 32-bit driver.
 *
 * Valid C and C++; needs only <stdint.h>.
 */
#ifndef TORVEX_CTL_H
#define TORVEX_CTL_H

#include <stdint.h>

#include "spifns_wire.h"

/* Largest play request, in bytes (input and output length each). */
#define TORVEX_MAX_PLAY (16u * 1024u * 1024u)

/* Port numbers a driver instance can serve (registry value Ports, bit n): the
 * range of spifns_wire.h. */
#define TORVEX_MIN_PORT ((uint32_t)PORT_MIN)
#define TORVEX_MAX_PORT ((uint32_t)PORT_MAX)

/* Back ends (registry value Backend). */
#define TORVEX_BACKEND_SIM 0
#define TORVEX_BACKEND_HARDWARE 1

/* CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS). */
#define TORVEX_CTL_CODE(function) ((0x22u << 16) | ((uint32_t)(function) << 2))

/* in: torvex_mem_request followed by count words.  out: nothing. */
#define TORVEX_IOCTL_MEM_WRITE TORVEX_CTL_CODE(0x801)
/* in: torvex_mem_request.  out: exactly count words. */
#define TORVEX_IOCTL_MEM_READ TORVEX_CTL_CODE(0x802)
/* in: torvex_chip_request.  out: nothing. */
#define TORVEX_IOCTL_SET_CHIP TORVEX_CTL_CODE(0x803)
/* in: torvex_port_request (value = number of play requests to fail). */
#define TORVEX_IOCTL_FAIL_PLAYS TORVEX_CTL_CODE(0x804)
/* in: torvex_port_request (value = 1 refuse the probe write, 0 accept it). */
#define TORVEX_IOCTL_REFUSE_PROBE TORVEX_CTL_CODE(0x805)
/* in: torvex_port_request (value = wiring: 0 direct, 1 multiplexed, 2 the
 * loopback plug; any other value is refused); the board is reset: memory cleared, chips running, no faults, stats zeroed. */
#define TORVEX_IOCTL_RESET_BOARD TORVEX_CTL_CODE(0x806)
/* in: torvex_port_request (value ignored).  out: torvex_port_stats. */
#define TORVEX_IOCTL_GET_STATS TORVEX_CTL_CODE(0x807)

typedef struct torvex_mem_request {
    uint32_t port;
    uint32_t chip;    /* 0 to SIM_MAX_CHIPS - 1 */
    uint32_t address; /* first word, 0 to 65535 */
    uint32_t count;   /* words; address + count must not pass 65536 */
} torvex_mem_request;

/* Fields set to TORVEX_KEEP are left as they are. */
#define TORVEX_KEEP 0xFFFFFFFFu
typedef struct torvex_chip_request {
    uint32_t port;
    uint32_t chip;
    uint32_t stopped; /* processor state: 1 stopped, 0 running */
    uint32_t faults;  /* board fault bits of the chip */
} torvex_chip_request;

typedef struct torvex_port_request {
    uint32_t port;
    uint32_t value;
} torvex_port_request;

typedef struct torvex_port_stats {
    uint32_t opens;            /* opens granted */
    uint32_t open_refusals;    /* opens refused because the device was open */
    uint32_t probes;           /* probe writes accepted */
    uint32_t probe_refusals;   /* writes refused */
    uint32_t plays;            /* play requests served */
    uint32_t play_bytes_low;   /* output bytes played, low and high halves */
    uint32_t play_bytes_high;
    uint32_t play_refusals;    /* malformed or unarmed play requests */
    uint32_t plays_failed;     /* play requests failed on purpose */
    uint32_t fail_pending;     /* play requests still to be failed */
    uint32_t open_now;         /* 1 while the device is open */
    uint32_t wiring;           /* simulated board: 0 direct, 1 multiplexed, 2 loopback plug */
    uint32_t transactions;           /* simulated board: transactions started */
    uint32_t read_transactions;
    uint32_t write_transactions;
    uint32_t words_read;
    uint32_t words_written;
} torvex_port_stats;

#endif /* TORVEX_CTL_H */
