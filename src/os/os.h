// SPDX-License-Identifier: MIT
// Platform layer: the only code of the library that calls the operating
// system. Two halves, each with one file per platform:
// - system services: the platform identifier, the waveform buffers, the
//   high-resolution counter and yielding (sys_win32.cpp, sys_posix.cpp);
// - the port back end, which stands where the port driver stands: port n is
//   one device, opened exclusively, that takes the one-byte probe write at
//   open and plays a buffer of output bytes, returning one status byte per
//   output byte (port_torvex.cpp: the kernel driver's devices on Windows;
//   natively, port_native.cpp: simulated drivers attached in-process through
//   simport.h, port_sim.cpp, and for every other port number the parallel
//   port /dev/parport<n-1> through ppdev, port_ppdev.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

// An open port device; nullptr means none.
using os_handle = void *;

// Platform identifier of the running system (2 for the Windows NT family).
uint32_t os_platform_id();

// Waveform buffers.
void *os_alloc(size_t size);
void os_free(void *block);

// High-resolution counter and yielding.
int64_t os_counter_frequency();
int64_t os_counter_now();
void os_yield();
// A timed sleep, used only where the counter reports no frequency.
void os_sleep_ms(uint32_t ms);

// Opens port n's device for reading and writing, exclusively, if it exists.
// Returns nullptr on failure.
os_handle os_port_open(int32_t port);

// One synchronous one-byte write to the device; true on success.
bool os_port_write_byte(os_handle device, uint8_t byte);

// Plays n output bytes and fills n status bytes, one per output byte at the
// same index. True on success, with all n status bytes filled.
bool os_port_play(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n);

void os_port_close(os_handle device);
