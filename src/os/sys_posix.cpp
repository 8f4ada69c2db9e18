// SPDX-License-Identifier: MIT
// System services on POSIX systems, with the hooks the library's own tests
// use (sim_hooks.h): a failing allocation on request, waveform-buffer
// accounting, a virtual counter and a platform identifier to report.
#include <sched.h>
#include <time.h>

#include <cstdlib>

#include "os/os.h"
#include "os/sim_hooks.h"
#include "spifns_wire.h"

namespace {

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

} // namespace

uint32_t os_platform_id()
{
    return platform_id;
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

void sim_hooks_reset()
{
    platform_id = PLATFORM_NT;
    alloc_fail_after = -1;
    alloc_count = 0;
    alloc_last_bytes = 0;
    alloc_peak_bytes = alloc_live_bytes;
    simport_use_real_clock();
}

void simport_fail_alloc_after(int after)
{
    alloc_fail_after = after < 0 ? -1 : after;
}

uint32_t simport_alloc_count()
{
    return alloc_count;
}

uint64_t simport_alloc_last_bytes()
{
    return alloc_last_bytes;
}

uint64_t simport_alloc_live_bytes()
{
    return alloc_live_bytes;
}

uint64_t simport_alloc_peak_bytes()
{
    return alloc_peak_bytes;
}

void simport_clear_alloc_peak()
{
    alloc_peak_bytes = alloc_live_bytes;
}

void simport_set_platform_id(uint32_t id)
{
    platform_id = id;
}

void simport_use_virtual_clock(int64_t frequency, int64_t step)
{
    virtual_clock = true;
    virtual_frequency = frequency;
    virtual_step = step;
    virtual_now = 0;
    yields = 0;
}

void simport_use_real_clock()
{
    virtual_clock = false;
    yields = 0;
}

uint32_t simport_yield_count()
{
    return yields;
}
