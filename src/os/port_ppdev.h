// SPDX-License-Identifier: MIT
// A PC parallel port on Linux through the kernel's ppdev: port n is
// /dev/parport<n-1>. The library's native back end serves every port without
// a simulated driver with it; spitool compiles the same source for its
// loopback check and to tell why a port did not open.
//
// Open: the device read-write and close-on-exec; PPEXCL, and when the kernel
// cannot register the port exclusively (another driver such as lp has it
// registered) the device again with a shared claim; PPCLAIM bounded to
// PPDEV_CLAIM_TIMEOUT_MS; compatibility mode, data lines forward; then the
// hardware back end's arm (hw_port.h) over ppdev requests: the control lines
// at their safe levels, the neutral byte on the data lines, the read-back
// check (skipped when SPIFNS_PPDEV_VERIFY is 0). The ECR stays the kernel's:
// parport_pc sets it up on every claim.
// Play: one PPWDATA and one PPRSTATUS per output byte, in order.
// Close: the neutral byte, the control lines as found, PPRELEASE, close.
// A request interrupted by a signal (EINTR) did not happen and is repeated.
#pragma once

#include <stddef.h>
#include <stdint.h>

// How long an open waits for the kernel to hand the port over.
constexpr int PPDEV_CLAIM_TIMEOUT_MS = 1000;

// The environment variable that skips the read-back check at open ("0").
#define PPDEV_VERIFY_VARIABLE "SPIFNS_PPDEV_VERIFY"
// The environment variable that keeps the library off every real port ("0"):
// each port without a simulated driver is then absent. The project's own test
// runs set it, so that they never drive a port of the machine they run on.
#define PPDEV_ENABLE_VARIABLE "SPIFNS_PPDEV"

enum ppdev_status : uint8_t {
    PPDEV_OK,
    PPDEV_NO_DEVICE,     // no /dev/parport<k>, or no driver behind it (ENOENT, ENXIO, ENODEV at open)
    PPDEV_DENIED,        // the open was refused (EACCES, EPERM)
    PPDEV_BUSY,          // the kernel would not register us: another holds the port exclusively
    PPDEV_CLAIM_TIMEOUT, // the claim did not come within PPDEV_CLAIM_TIMEOUT_MS
    PPDEV_NO_READBACK,   // the data lines did not read back what was written
    PPDEV_FAILED,        // any other failure; error holds the errno value
    PPDEV_DISABLED,      // SPIFNS_PPDEV is 0
};

struct ppdev_result {
    ppdev_status status;
    int error; // errno of the failing step (0 for a claim time-out and a failed read-back)
};

struct ppdev_port;

// Writes "/dev/parport<port - 1>" to path.
void ppdev_path(int32_t port, char *path, size_t size);

// Opens, claims and arms port n (PORT_MIN to PORT_MAX). On failure returns
// nullptr and says why in *why (when given).
ppdev_port *ppdev_open(int32_t port, ppdev_result *why);

// Plays n output bytes and stores the status byte read after each at the same
// index. False when a request failed; the data lines then carry the neutral
// byte.
bool ppdev_play(ppdev_port *port, const uint8_t *out, uint8_t *status, uint32_t n);

// The neutral byte, the control lines as found, PPRELEASE, close.
void ppdev_close(ppdev_port *port);
