// SPDX-License-Identifier: MIT
// Platform layer: the only code of the library that calls the operating
// system. os_win32.cpp makes the real Win32 calls; os_standin.cpp serves the
// same contract in-process on other systems, with simulated port drivers that
// the host program attaches through simport.h.
#pragma once

#include <cstddef>
#include <cstdint>

// An open port-driver device; nullptr means none.
using os_handle = void *;

// Platform identifier of the running system (2 for the Windows NT family).
uint32_t os_platform_id();

// Opens a device path for reading and writing, exclusively, if it exists.
// Returns nullptr on failure.
os_handle os_open_device(const char *path);

// One synchronous one-byte write to the device; true on success.
bool os_write_byte(os_handle device, uint8_t byte);

// The sample-buffer control call: plays n output bytes and fills n status
// bytes. True when the driver reported success.
bool os_port_control(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n);

void os_close_device(os_handle device);

// Waveform buffers. The stand-in can be told to fail an allocation.
void *os_alloc(size_t size);
void os_free(void *block);

// High-resolution counter and yielding.
int64_t os_counter_frequency();
int64_t os_counter_now();
void os_yield();
// A timed sleep, used only where the counter reports no frequency.
void os_sleep_ms(uint32_t ms);
