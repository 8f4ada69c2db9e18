// SPDX-License-Identifier: MIT
/*
 * simport: the simulated port drivers of the native (non-Windows) build.
 *
 * On Windows the library talks to a kernel-mode port driver through device
 * paths "\\.\TORVEXn". Elsewhere the library's platform layer serves those
 * paths in-process: a host program (a test, a tool) attaches a simulated
 * driver to port number n, and from then on the device for port n exists,
 * opens exclusively, takes the one-byte write and plays every control call
 * into the attached play function.
 *
 * These functions are exported from the native shared library beside the
 * spifns_ family; they do not exist in the Windows DLL.
 */
#ifndef SIMPORT_H
#define SIMPORT_H

#include "spifns.h"

/* Exported from the library like its own functions. */
#define SIMPORT_API SPIFNS_API

#ifdef __cplusplus
extern "C" {
#endif

/* Plays n output bytes and stores one status byte per output byte.
 * Returns nonzero on success; zero makes the control call fail. */
typedef int (*simport_play_fn)(void *context, const uint8_t *out, uint8_t *status, uint32_t n);

/* Highest port number a simulated driver can be attached to. */
#define SIMPORT_MAX_PORT 64

/* Faults of one simulated driver (simport_set_faults). */
#define SIMPORT_REFUSE_OPEN 0x1  /* the device exists but every open fails */
#define SIMPORT_REFUSE_WRITE 0x2 /* the one-byte write at open fails */
#define SIMPORT_FAIL_CONTROL 0x4 /* every control call fails */

typedef struct simport_stats {
    uint32_t opens;          /* successful opens */
    uint32_t open_failures;  /* refused opens (fault, already open, no driver) */
    uint32_t writes;         /* one-byte writes accepted */
    uint32_t write_failures; /* one-byte writes refused */
    uint32_t last_write;     /* value of the last byte written, or 0x100 for none */
    uint32_t controls;       /* control calls that reached the driver */
    uint32_t control_bytes;  /* output bytes over all control calls */
    uint32_t closes;
    int32_t open_handles; /* handles open now (0 or 1: the open is exclusive) */
} simport_stats;

/* Detaches every driver and clears all faults, counters and clock settings. */
SIMPORT_API void simport_reset(void);

/* Attaches a simulated driver to port n (1 to SIMPORT_MAX_PORT). play may be
 * null: the control call then succeeds and returns status bytes of 0.
 * Returns 0 on success, -1 for a bad port number. */
SIMPORT_API int simport_attach(int port, simport_play_fn play, void *context);
/* Removes port n's driver; an open handle to it fails every later call. */
SIMPORT_API void simport_detach(int port);

SIMPORT_API void simport_set_faults(int port, unsigned faults);
/* The next `after` control calls on port n succeed, the one after fails
 * (once). A negative value disarms it. */
SIMPORT_API void simport_fail_control_after(int port, int after);
/* The next `after` waveform allocations succeed, the one after fails (once).
 * A negative value disarms it. */
SIMPORT_API void simport_fail_alloc_after(int after);
/* Counts every waveform allocation made so far. */
SIMPORT_API uint32_t simport_alloc_count(void);
/* Waveform-buffer bytes: of the most recent allocation request, live now
 * (allocated and not yet released), and the most live at once since the last
 * reset or simport_clear_alloc_peak. */
SIMPORT_API uint64_t simport_alloc_last_bytes(void);
SIMPORT_API uint64_t simport_alloc_live_bytes(void);
SIMPORT_API uint64_t simport_alloc_peak_bytes(void);
/* Restarts the peak from the bytes live now. */
SIMPORT_API void simport_clear_alloc_peak(void);

SIMPORT_API void simport_get_stats(int port, simport_stats *stats);

/* Platform identifier reported to the library (2, the NT family, by default). */
SIMPORT_API void simport_set_platform_id(uint32_t id);

/* Counter. By default the real monotonic clock (frequency 1e9). With a
 * virtual clock the counter reports `frequency` and advances by `step` on
 * every yield, so waits complete without sleeping. frequency may be 0. */
SIMPORT_API void simport_use_virtual_clock(int64_t frequency, int64_t step);
SIMPORT_API void simport_use_real_clock(void);
/* Yields made by the library since the last reset. */
SIMPORT_API uint32_t simport_yield_count(void);

#ifdef __cplusplus
}
#endif

#endif /* SIMPORT_H */
