// SPDX-License-Identifier: MIT
// Library frame: the exported frame functions, the link state, the last
// error and the trace sink.
#include "frame/frame.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "spifns_wire.h"

constexpr link_context link_state_initial = {
    .line_byte = LINE_BYTE_AT_LOAD,
    .shift_period = 1,
    .port_number = 1,
    .port_handle = nullptr,
    .open_count = 0,
    .spimul_value = -1,
    .mux_mode = 0,
    .chip_config = 0,
    .read_cmd_bits = 0,
    .write_cmd_bits = 0,
    .max_clock_text = "1000",
    .error_code = ERR_NONE,
    .error_message = "No error",
    .error_address = 0,
    .debug_callback = nullptr,
    .trace_buffer = "",
};

// Constant-initialised from the load state: loading runs no code.
constinit link_context link_state = link_state_initial;

// Copies a terminated text into a fixed buffer, always terminating it.
static void copy_text(char *dst, size_t size, const char *src)
{
    size_t n = strlen(src);
    if (n >= size)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
}

void record_error(int32_t code, const char *message)
{
    link_state.error_code = code;
    record_message(message);
}

void record_message(const char *message)
{
    copy_text(link_state.error_message, sizeof link_state.error_message, message);
}

void trace(const char *format, ...)
{
    if (link_state.debug_callback == nullptr)
        return;
    va_list args;
    va_start(args, format);
    // vsnprintf never writes past the buffer and always terminates it.
    vsnprintf(link_state.trace_buffer, sizeof link_state.trace_buffer, format, args);
    va_end(args);
    link_state.debug_callback(link_state.trace_buffer);
}

void frame_reset_state()
{
    link_state = link_state_initial;
}

extern "C" {

SPIFNS_API int SPIFNS_CALL spifns_get_version(void)
{
    return SPIFNS_VERSION;
}

SPIFNS_API int SPIFNS_CALL spifns_get_last_error(uint16_t *address, const char **message)
{
    if (address != nullptr)
        *address = link_state.error_address;
    if (message != nullptr)
        *message = link_state.error_message;
    return link_state.error_code;
}

SPIFNS_API void SPIFNS_CALL spifns_set_debug_callback(debug_callback_fn callback)
{
    link_state.debug_callback = callback;
}

} // extern "C"
