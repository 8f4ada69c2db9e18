// SPDX-License-Identifier: MIT
// Simulated port drivers that the host program attaches to port numbers
// through simport.h (port_native.h). A port with a driver attached behaves as
// the kernel driver's device does: it opens exclusively, takes the one-byte
// probe write, and plays every buffer into the attached play function, one
// status byte per output byte.
#include <cstdlib>
#include <cstring>

#include "os/port_native.h"
#include "os/sim_hooks.h"
#include "simport.h"
#include "spifns_wire.h"

namespace {

struct sim_port {
    simport_play_fn play;
    void *context;
    bool attached;
    bool open;
    uint32_t generation; // bumped on detach, so stale handles stop working
    unsigned faults;
    int control_fail_after;
    simport_stats stats;
};

struct sim_handle {
    native_backend backend; // NATIVE_SIM
    int port;
    uint32_t generation;
};

constinit sim_port ports[PORT_MAX + 1] = {};

bool valid_port(int port)
{
    return port >= PORT_MIN && port <= PORT_MAX;
}

// The live port behind a handle, or nullptr once its driver went away.
sim_port *port_of(os_handle device)
{
    const sim_handle *h = static_cast<const sim_handle *>(device);
    if (h == nullptr || !valid_port(h->port))
        return nullptr;
    sim_port &p = ports[h->port];
    return p.attached && p.generation == h->generation ? &p : nullptr;
}

void clear_port(sim_port &p)
{
    const uint32_t generation = p.generation + 1;
    p = sim_port{};
    p.generation = generation;
    p.control_fail_after = -1;
    p.stats.last_write = 0x100;
}

} // namespace

bool sim_port_attached(int32_t port)
{
    return valid_port(port) && ports[port].attached;
}

os_handle sim_port_open(int32_t port)
{
    if (!sim_port_attached(port))
        return nullptr;
    sim_port &p = ports[port];
    if ((p.faults & SIMPORT_REFUSE_OPEN) || p.open) {
        p.stats.open_failures++;
        return nullptr;
    }
    sim_handle *h = static_cast<sim_handle *>(malloc(sizeof(sim_handle)));
    if (h == nullptr)
        return nullptr;
    h->backend = NATIVE_SIM;
    h->port = port;
    h->generation = p.generation;
    p.open = true;
    p.stats.opens++;
    p.stats.open_handles++;
    return h;
}

bool sim_port_write_byte(os_handle device, uint8_t byte)
{
    sim_port *p = port_of(device);
    if (p == nullptr || (p->faults & SIMPORT_REFUSE_WRITE) || byte != OPEN_PROBE_BYTE)
        return false;
    p->stats.writes++;
    p->stats.last_write = byte;
    return true;
}

bool sim_port_play(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n)
{
    sim_port *p = port_of(device);
    if (p == nullptr)
        return false;
    if (p->control_fail_after == 0) {
        p->control_fail_after = -1;
        return false;
    }
    if (p->control_fail_after > 0)
        p->control_fail_after--;
    p->stats.controls++;
    if (p->play == nullptr) {
        memset(status, 0, n);
        return true;
    }
    return p->play(p->context, out, status, n) != 0;
}

void sim_port_close(os_handle device)
{
    sim_handle *h = static_cast<sim_handle *>(device);
    if (h == nullptr)
        return;
    if (sim_port *p = port_of(device)) {
        p->open = false;
        p->stats.closes++;
        p->stats.open_handles--;
    }
    free(h);
}

extern "C" {

SIMPORT_API void simport_reset(void)
{
    for (sim_port &p : ports)
        clear_port(p);
    sim_hooks_reset();
}

SIMPORT_API int simport_attach(int port, simport_play_fn play, void *context)
{
    if (!valid_port(port))
        return -1;
    clear_port(ports[port]);
    ports[port].attached = true;
    ports[port].play = play;
    ports[port].context = context;
    return 0;
}

SIMPORT_API void simport_detach(int port)
{
    if (valid_port(port))
        clear_port(ports[port]);
}

SIMPORT_API void simport_set_faults(int port, unsigned faults)
{
    if (valid_port(port))
        ports[port].faults = faults;
}

SIMPORT_API void simport_fail_control_after(int port, int after)
{
    if (valid_port(port))
        ports[port].control_fail_after = after < 0 ? -1 : after;
}

SIMPORT_API void simport_get_stats(int port, simport_stats *stats)
{
    if (stats == nullptr)
        return;
    *stats = valid_port(port) ? ports[port].stats : simport_stats{};
}

} // extern "C"
