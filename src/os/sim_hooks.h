// SPDX-License-Identifier: MIT
// Hooks of the native system services for the library's own tests, fuzz
// targets and benchmark, which link the library's objects statically. They
// are not exported from the shared library: hosts never see them.
#pragma once

#include <cstdint>

// Clears the hooks below: no allocation failure armed, counters at zero, the
// real clock, the NT platform identifier. simport_reset calls it.
void sim_hooks_reset();

// The next `after` waveform allocations succeed, the one after fails (once).
// A negative value disarms it.
void simport_fail_alloc_after(int after);
// Counts every waveform allocation made so far.
uint32_t simport_alloc_count();
// Waveform-buffer bytes: of the most recent allocation request, live now
// (allocated and not yet released), and the most live at once since the last
// reset or simport_clear_alloc_peak.
uint64_t simport_alloc_last_bytes();
uint64_t simport_alloc_live_bytes();
uint64_t simport_alloc_peak_bytes();
// Restarts the peak from the bytes live now.
void simport_clear_alloc_peak();

// Platform identifier reported to the library (2, the NT family, by default).
void simport_set_platform_id(uint32_t id);

// Counter. By default the real monotonic clock (frequency 1e9). With a
// virtual clock the counter reports `frequency` and advances by `step` on
// every yield, so waits complete without sleeping. frequency may be 0.
void simport_use_virtual_clock(int64_t frequency, int64_t step);
void simport_use_real_clock();
// Yields made by the library since the last reset.
uint32_t simport_yield_count();
