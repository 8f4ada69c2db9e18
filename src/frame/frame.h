// SPDX-License-Identifier: MIT
// Library frame: the one static link state, error recording and tracing.
// The bottom layer: it depends on nothing else of the library.
#pragma once

#include <cstdint>

#include "os/os.h"
#include "spifns.h"

struct link_context {
    uint8_t line_byte;
    uint32_t shift_period;
    int32_t port_number;
    os_handle port_handle;
    int32_t open_count;
    int32_t spimul_value;
    int32_t mux_mode;
    int32_t chip_config;
    int32_t read_cmd_bits;
    int32_t write_cmd_bits;
    char max_clock_text[16];
    int32_t error_code;
    char error_message[256];
    uint16_t error_address;
    debug_callback_fn debug_callback;
    char trace_buffer[256];
};

// The state at load. link_state starts as a constant-initialised copy of it.
extern const link_context link_state_initial;
extern link_context link_state;

// Records a link failure: the code and a copy of the message.
void record_error(int32_t code, const char *message);
// Copies a message into error_message without touching error_code.
void record_message(const char *message);

// Formats one line into the trace buffer and hands it to the host's
// callback; does nothing at all while none is registered.
void trace(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Restores the load state (tests only; the shipped library never calls it).
void frame_reset_state();
