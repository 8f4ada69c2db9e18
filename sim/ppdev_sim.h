// SPDX-License-Identifier: MIT
// libppdev_sim.so: loaded with LD_PRELOAD, it presents /dev/parport0 and up
// as the kernel's ppdev serves them, each a model of a PC parallel port
// (pc_port.h) handled the way parport_pc handles it, with a simulated board
// at its pins, so that the unchanged library and spitool run against it.
// It answers open, open64, openat, openat64, ioctl and close on those paths
// and their descriptors (a descriptor of /dev/null stands in) and passes
// every other call on.
//
// ppdev as the kernel serves it: open succeeds without registering anything;
// PPEXCL only marks the device, before its first claim; the first PPCLAIM
// registers it with the port, which fails with ENXIO when an exclusive device
// is registered or when this one wants exclusive access and any other device
// is registered; PPCLAIM sleeps while another device holds the claim; every
// request but PPCLAIM, PPEXCL, PPSETMODE, PPGETMODE, PPGETMODES, PPSETPHASE,
// PPGETPHASE, PPSETFLAGS and PPGETFLAGS needs the claim (EINVAL without);
// PPWCONTROL and PPRCONTROL reach only the four control lines, bit 5 of a
// PPWCONTROL turns the data lines around; on a claim parport_pc restores the
// device's saved control register and ECR (at first 0x0C and 0x34: mode
// 001, interrupts off), on a release it saves them; close releases a claim
// still held.
//
// Configuration: the text of PPDEV_SIM (read at load) or ppdev_sim_setup,
// words separated by spaces or commas:
//   ports=N        /dev/parport0 to /dev/parport<N-1> exist (default 1, at most 16)
//   FAULT=K        device K has the fault; any number of them:
//     eacces       open fails with EACCES (the node's permissions)
//     nodriver     open fails with ENXIO (the node exists, ppdev is not loaded)
//     lp           another driver (lp) has the port registered: no exclusive registration
//     owned        another program has it registered exclusively: no registration at all
//     excl_ebusy   PPEXCL fails with EBUSY
//     held         another program holds the claim and never releases it
//     late         another program holds the claim until 1.5 s after the first wait for it
//     eintr        every fifth request on the port fails with EINTR, doing nothing
//     noreadback   PPRDATA reads 0xFF whatever the lines carry
//     loopback     a plug from D6 (pin 8) to ACK (pin 10) instead of the board
//     stopped      the board's processors are stopped
// With PPDEV_SIM_STATS set to a file name, every close of a device writes the
// counts of every port to it, one line per port: "parport<K> name=value ...".
#pragma once

#include <stdint.h>

struct ppdev_sim_counts {
    uint32_t opens;       // successful opens
    uint32_t open_flags_wrong; // opens without O_RDWR or without O_CLOEXEC
    uint32_t closes;
    uint32_t requests;    // requests that took effect
    uint32_t interrupted; // requests answered with EINTR
    uint32_t refused;     // requests answered with another error
    uint32_t unclaimed;   // of those: made without the claim they need
    uint32_t data_writes;
    uint32_t status_reads;
    uint32_t pairs;       // status reads made right after a data write on the same device
    uint32_t claims;
    uint32_t exclusive_claims;
    uint32_t releases;
    uint32_t unreleased;  // closes with the claim still held
    uint32_t others_max;  // most requests of one claim, from PPCLAIM to PPRELEASE, outside pairs
    int32_t mode;         // the last PPSETMODE
    uint8_t reversed;     // the data lines are turned around (inputs)
    uint8_t lines;        // the data pins now
    uint8_t lines_at_release; // the data pins at the last release
};

extern "C" {
// Replaces the configuration and clears all counts and boards. Devices still
// open (say a claim's helper that waits) keep their descriptors; their
// requests fail with ENODEV from then on and are not counted. Returns 0, or
// -1 for a configuration it does not understand (nothing changes then).
int ppdev_sim_setup(const char *config);
// Counts of /dev/parport<index>; -1 for an index out of range.
int ppdev_sim_stats(int index, ppdev_sim_counts *counts);
}
