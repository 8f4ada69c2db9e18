// SPDX-License-Identifier: MIT
// Port back end of the native build: the simulated driver attached to a port,
// else ppdev. A ppdev port is opened, claimed and armed by os_port_open; the
// one-byte probe write that follows only confirms it, as the kernel driver's
// arming probe does: no byte reaches the data lines.
#include "os/port_native.h"
#include "os/port_ppdev.h"
#include "spifns_wire.h"

namespace {

bool is_sim(os_handle device)
{
    return *static_cast<const native_backend *>(device) == NATIVE_SIM;
}

} // namespace

os_handle os_port_open(int32_t port)
{
    if (sim_port_attached(port))
        return sim_port_open(port);
    return ppdev_open(port, nullptr);
}

bool os_port_write_byte(os_handle device, uint8_t byte)
{
    if (is_sim(device))
        return sim_port_write_byte(device, byte);
    return byte == OPEN_PROBE_BYTE;
}

bool os_port_play(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n)
{
    if (is_sim(device))
        return sim_port_play(device, out, status, n);
    return ppdev_play(static_cast<ppdev_port *>(device), out, status, n);
}

void os_port_close(os_handle device)
{
    if (device == nullptr)
        return;
    if (is_sim(device))
        sim_port_close(device);
    else
        ppdev_close(static_cast<ppdev_port *>(device));
}
