// SPDX-License-Identifier: MIT
// Shared parts of the fuzz targets: resetting the library between inputs and
// the invariants that must hold after any input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "load_state.h"
#include "records.h"
#include "settings/settings.h"

// Reports a broken invariant and aborts, so libFuzzer keeps the input.
[[noreturn]] inline void fuzz_fail(const char *what, const char *detail = "")
{
    fprintf(stderr, "invariant broken: %s %s\n", what, detail);
    abort();
}

#define FUZZ_CHECK(cond, ...)                                                                                    \
    do {                                                                                                         \
        if (!(cond))                                                                                             \
            fuzz_fail(#cond __VA_OPT__(, ) __VA_ARGS__);                                                         \
    } while (0)

// The load state, no drivers, no faults; the multiplexer settle wait runs on
// a virtual clock (1 ms per yield) so that it costs no real time.
inline void fuzz_reset_library()
{
    return_to_load_state();
    simport_use_virtual_clock(1000, 1);
}

// The last error is always one of the defined codes with its own message,
// or any of them with the message of a failed port selection; the message
// is terminated inside its buffer.
inline void fuzz_check_last_error()
{
    static const struct {
        int code;
        const char *message;
    } known[] = {
        {ERR_NONE, "No error"},       {ERR_MALLOC, "Malloc failed"}, {ERR_NO_PORT, "No LPT port selected"},
        {ERR_READ, "Unable to read"}, {ERR_IOCTL, "IOCTL failed"},
    };
    const char *message = nullptr;
    uint16_t address = 0;
    const int code = spifns_get_last_error(&address, &message);
    FUZZ_CHECK(message == link_state.error_message);
    FUZZ_CHECK(memchr(message, '\0', sizeof link_state.error_message) != nullptr, "error message unterminated");
    bool code_known = false, pair_known = false;
    for (const auto &k : known) {
        code_known = code_known || k.code == code;
        pair_known = pair_known || (k.code == code && strcmp(k.message, message) == 0);
    }
    FUZZ_CHECK(code_known, message);
    FUZZ_CHECK(pair_known || strcmp(message, "Couldn't find LPT port") == 0, message);
}

// State that every operation must leave sound.
inline void fuzz_check_link_state()
{
    FUZZ_CHECK(link_state.shift_period >= 1 && link_state.shift_period <= SHIFT_PERIOD_MAX, "period");
    FUZZ_CHECK(memchr(link_state.max_clock_text, '\0', 11) != nullptr, "max clock text over ten characters");
    FUZZ_CHECK(link_state.mux_mode == 0 || link_state.mux_mode == 1);
    FUZZ_CHECK(link_state.mux_mode == 0 || (link_state.chip_config >= 0 && link_state.chip_config <= 16));
    // No waveform buffer outlives its shift.
    FUZZ_CHECK(simport_alloc_live_bytes() == 0, "waveform buffer still allocated");
    fuzz_check_last_error();
}

// Handles open on the simulated ports: exactly the library's one, if any.
inline void fuzz_check_handles(int first_port, int last_port)
{
    int32_t open = 0;
    for (int port = first_port; port <= last_port; port++) {
        simport_stats stats;
        simport_get_stats(port, &stats);
        FUZZ_CHECK(stats.open_handles == 0 || stats.open_handles == 1);
        open += stats.open_handles;
        if (stats.open_handles == 1)
            FUZZ_CHECK(link_state.port_handle != nullptr && link_state.port_number == port, "stray handle");
    }
    FUZZ_CHECK(open == (link_state.port_handle != nullptr ? 1 : 0), "handle count");
}

// Trace lines: terminated inside the 256-byte trace buffer and ending in "\n".
inline void SPIFNS_CALL fuzz_check_trace_line(const char *line)
{
    FUZZ_CHECK(line == link_state.trace_buffer);
    const void *end = memchr(line, '\0', sizeof link_state.trace_buffer);
    FUZZ_CHECK(end != nullptr, "trace line unterminated");
    const size_t n = static_cast<const char *>(end) - line;
    FUZZ_CHECK(n > 0 && line[n - 1] == '\n', line);
}
