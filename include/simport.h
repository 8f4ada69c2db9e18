// SPDX-License-Identifier: MIT
/*
 * simport: the simulated port drivers of the native (non-Windows) build.
 *
 * On Windows the library talks to a kernel-mode port driver's devices, one
 * per port number. In the native build a host program (a test, a tool) can
 * attach a simulated driver to port number n instead, in-process: from then
 * on the device for port n exists,
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

/* Faults of one simulated driver (simport_set_faults). */
#define SIMPORT_REFUSE_OPEN 0x1  /* the device exists but every open fails */
#define SIMPORT_REFUSE_WRITE 0x2 /* the one-byte write at open fails */

typedef struct simport_stats {
    uint32_t opens;          /* successful opens */
    uint32_t open_failures;  /* refused opens (fault, already open, no driver) */
    uint32_t writes;         /* one-byte writes accepted */
    uint32_t last_write;     /* value of the last byte written, or 0x100 for none */
    uint32_t controls;       /* control calls that reached the driver */
    uint32_t closes;
    int32_t open_handles; /* handles open now (0 or 1: the open is exclusive) */
} simport_stats;

/* Detaches every driver and clears all faults and counters. */
SIMPORT_API void simport_reset(void);

/* Attaches a simulated driver to port n (1 to 31). play may be
 * null: the control call then succeeds and returns status bytes of 0.
 * Returns 0 on success, -1 for a bad port number. */
SIMPORT_API int simport_attach(int port, simport_play_fn play, void *context);
/* Removes port n's driver; an open handle to it fails every later call. */
SIMPORT_API void simport_detach(int port);

SIMPORT_API void simport_set_faults(int port, unsigned faults);
/* The next `after` control calls on port n succeed, the one after fails
 * (once). A negative value disarms it. */
SIMPORT_API void simport_fail_control_after(int port, int after);
SIMPORT_API void simport_get_stats(int port, simport_stats *stats);

#ifdef __cplusplus
}
#endif

#endif /* SIMPORT_H */
