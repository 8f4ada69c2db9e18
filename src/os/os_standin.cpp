// SPDX-License-Identifier: MIT
// The in-process stand-in for the Windows calls of the platform layer.
// Devices "\\.\TORVEXn" are simulated port drivers that the host program
// attaches with simport_attach; everything else mirrors the Win32 contract
// the library relies on: exclusive open, the one-byte write, the control
// call that plays n bytes and returns n status bytes.
#include <sched.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

#include "os/os.h"
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
    int port;
    uint32_t generation;
};

constinit sim_port ports[SIMPORT_MAX_PORT + 1] = {};
constinit uint32_t platform_id = PLATFORM_NT;
constinit int alloc_fail_after = -1;
constinit uint32_t alloc_count = 0;
constinit uint64_t alloc_last_bytes = 0;
constinit uint64_t alloc_live_bytes = 0;
constinit uint64_t alloc_peak_bytes = 0;

// Sizes of the live waveform buffers, so that os_free can account for them.
// The engine holds two at a time; blocks beyond the table go unaccounted.
struct live_block {
    void *block;
    size_t size;
};
constinit live_block live_blocks[8] = {};
constinit bool virtual_clock = false;
constinit int64_t virtual_frequency = 0;
constinit int64_t virtual_step = 0;
constinit int64_t virtual_now = 0;
constinit uint32_t yields = 0;

bool valid_port(int port)
{
    return port >= 1 && port <= SIMPORT_MAX_PORT;
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

// Port number of a device path "\\.\TORVEXn" (n in decimal, no leading
// zeros), or -1.
int parse_device_path(const char *path)
{
    static const char prefix[] = "\\\\.\\TORVEX";
    if (strncmp(path, prefix, sizeof prefix - 1) != 0)
        return -1;
    const char *p = path + sizeof prefix - 1;
    if (*p < '1' || *p > '9')
        return -1;
    int n = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (*p - '0');
        if (n > SIMPORT_MAX_PORT)
            return -1;
    }
    return *p == '\0' ? n : -1;
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

uint32_t os_platform_id()
{
    return platform_id;
}

os_handle os_open_device(const char *path)
{
    const int n = parse_device_path(path);
    if (n < 0 || !ports[n].attached)
        return nullptr;
    sim_port &p = ports[n];
    if ((p.faults & SIMPORT_REFUSE_OPEN) || p.open) {
        p.stats.open_failures++;
        return nullptr;
    }
    sim_handle *h = static_cast<sim_handle *>(malloc(sizeof(sim_handle)));
    if (h == nullptr)
        return nullptr;
    h->port = n;
    h->generation = p.generation;
    p.open = true;
    p.stats.opens++;
    p.stats.open_handles++;
    return h;
}

bool os_write_byte(os_handle device, uint8_t byte)
{
    sim_port *p = port_of(device);
    if (p == nullptr)
        return false;
    if ((p->faults & SIMPORT_REFUSE_WRITE) || byte != OPEN_PROBE_BYTE) {
        p->stats.write_failures++;
        return false;
    }
    p->stats.writes++;
    p->stats.last_write = byte;
    return true;
}

bool os_port_control(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n)
{
    sim_port *p = port_of(device);
    if (p == nullptr)
        return false;
    if (p->faults & SIMPORT_FAIL_CONTROL)
        return false;
    if (p->control_fail_after == 0) {
        p->control_fail_after = -1;
        return false;
    }
    if (p->control_fail_after > 0)
        p->control_fail_after--;
    p->stats.controls++;
    p->stats.control_bytes += n;
    if (p->play == nullptr) {
        memset(status, 0, n);
        return true;
    }
    return p->play(p->context, out, status, n) != 0;
}

void os_close_device(os_handle device)
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

void *os_alloc(size_t size)
{
    alloc_count++;
    if (alloc_fail_after == 0) {
        alloc_fail_after = -1;
        return nullptr;
    }
    if (alloc_fail_after > 0)
        alloc_fail_after--;
    alloc_last_bytes = size;
    void *block = malloc(size);
    if (block == nullptr)
        return nullptr;
    for (live_block &b : live_blocks) {
        if (b.block == nullptr) {
            b = {block, size};
            alloc_live_bytes += size;
            if (alloc_live_bytes > alloc_peak_bytes)
                alloc_peak_bytes = alloc_live_bytes;
            break;
        }
    }
    return block;
}

void os_free(void *block)
{
    if (block == nullptr)
        return;
    for (live_block &b : live_blocks) {
        if (b.block == block) {
            alloc_live_bytes -= b.size;
            b = {};
            break;
        }
    }
    free(block);
}

int64_t os_counter_frequency()
{
    return virtual_clock ? virtual_frequency : 1000000000;
}

int64_t os_counter_now()
{
    if (virtual_clock)
        return virtual_now;
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void os_yield()
{
    yields++;
    if (virtual_clock)
        virtual_now += virtual_step;
    else
        sched_yield();
}

void os_sleep_ms(uint32_t ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

extern "C" {

SIMPORT_API void simport_reset(void)
{
    for (sim_port &p : ports)
        clear_port(p);
    platform_id = PLATFORM_NT;
    alloc_fail_after = -1;
    alloc_count = 0;
    alloc_last_bytes = 0;
    alloc_peak_bytes = alloc_live_bytes;
    simport_use_real_clock();
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

SIMPORT_API void simport_fail_alloc_after(int after)
{
    alloc_fail_after = after < 0 ? -1 : after;
}

SIMPORT_API uint32_t simport_alloc_count(void)
{
    return alloc_count;
}

SIMPORT_API uint64_t simport_alloc_last_bytes(void)
{
    return alloc_last_bytes;
}

SIMPORT_API uint64_t simport_alloc_live_bytes(void)
{
    return alloc_live_bytes;
}

SIMPORT_API uint64_t simport_alloc_peak_bytes(void)
{
    return alloc_peak_bytes;
}

SIMPORT_API void simport_clear_alloc_peak(void)
{
    alloc_peak_bytes = alloc_live_bytes;
}

SIMPORT_API void simport_get_stats(int port, simport_stats *stats)
{
    if (stats == nullptr)
        return;
    *stats = valid_port(port) ? ports[port].stats : simport_stats{};
}

SIMPORT_API void simport_set_platform_id(uint32_t id)
{
    platform_id = id;
}

SIMPORT_API void simport_use_virtual_clock(int64_t frequency, int64_t step)
{
    virtual_clock = true;
    virtual_frequency = frequency;
    virtual_step = step;
    virtual_now = 0;
    yields = 0;
}

SIMPORT_API void simport_use_real_clock(void)
{
    virtual_clock = false;
    yields = 0;
}

SIMPORT_API uint32_t simport_yield_count(void)
{
    return yields;
}

} // extern "C"
