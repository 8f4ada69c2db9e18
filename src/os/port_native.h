// SPDX-License-Identifier: MIT
// The native build's port back ends behind os.h: a port with a simulated
// driver attached through simport.h is that driver's (port_sim.cpp); any
// other port n is the parallel port /dev/parport<n-1> through ppdev
// (port_ppdev.cpp). port_native.cpp dispatches by the tag that begins every
// handle either back end hands out.
#pragma once

#include "os/os.h"

enum native_backend : uint8_t { NATIVE_SIM = 0x53, NATIVE_PPDEV = 0x50 };

bool sim_port_attached(int32_t port);
os_handle sim_port_open(int32_t port);
bool sim_port_write_byte(os_handle device, uint8_t byte);
bool sim_port_play(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n);
void sim_port_close(os_handle device);
