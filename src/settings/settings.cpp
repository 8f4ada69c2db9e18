// SPDX-License-Identifier: MIT
// Settings: eight named text variables over the link state, and the one
// named command "SPISLOWER".
#include "settings/settings.h"

#include <cstdio>
#include <cstring>

#include "frame/frame.h"
#include "link/link.h"
#include "settings/textconv.h"

enum var_index { VAR_PORT, VAR_MUL, VAR_SHIFTPERIOD, VAR_CLOCK, VAR_CMDBITS, VAR_CMDREADBITS, VAR_CMDWRITEBITS,
                 VAR_MAXCLOCK, VAR_COUNT };

static const var_entry var_table[VAR_COUNT] = {
    {"SPIPORT", "1", 1},        {"SPIMUL", "0", 0},         {"SPISHIFTPERIOD", "0", 0},
    {"SPICLOCK", "0", 0},       {"SPICMDBITS", "0", 0},     {"SPICMDREADBITS", "0", 0},
    {"SPICMDWRITEBITS", "0", 0}, {"SPIMAXCLOCK", "1000", 0},
};

// Replies of spifns_getvar: one buffer per readable variable, so a reply
// stays valid until the same variable is read again.
static char reply_port[20];
static char reply_mul[20];
static char reply_shiftperiod[20];
static char reply_clock[64];
static char reply_maxclock[24];
static const char reply_empty[] = "";

// Formats an integer reply into its variable's buffer.
template <size_t N>
static const char *integer_reply(char (&buffer)[N], int32_t value)
{
    snprintf(buffer, N, "%d", static_cast<int>(value));
    return buffer;
}

// The largest single-precision value that does not round to infinity is
// below this bound: 2^128 - 2^103, the midpoint between FLT_MAX and 2^128.
constexpr double FLOAT_OVERFLOW_BOUND = 340282356779733661637539395458142568448.0;

bool same_name(const char *a, const char *b)
{
    for (;; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

static int find_variable(const char *name)
{
    for (int i = 0; i < VAR_COUNT; i++)
        if (same_name(name, var_table[i].name))
            return i;
    return -1;
}

static void set_shift_period(uint32_t period)
{
    link_state.shift_period = period;
    trace("Delays set to %d\n", static_cast<int>(period));
}

// SPISHIFTPERIOD: 0 asks for the fastest clock and gets period 1; negative
// values and periods whose waveform buffers would not fit in 32 bits are
// refused and change nothing.
static int set_shift_period_text(const char *value)
{
    const int32_t v = text_to_int32(value);
    if (v < 0 || static_cast<uint32_t>(v) > SHIFT_PERIOD_MAX)
        return 1;
    set_shift_period(v == 0 ? 1 : static_cast<uint32_t>(v));
    return 0;
}

// SPICLOCK: period = CLOCK_FACTOR / clock rounded, at least 1. A clock so
// slow that its period exceeds what the waveform engine can serve is
// refused; the quotient is range-checked before it becomes an integer.
static int set_clock_text(const char *value)
{
    const double d = text_to_double(value);
    if (d == 0.0)
        return 1;
    const double q = CLOCK_FACTOR / d + 0.5;
    uint32_t period = 1;
    if (q >= static_cast<double>(SHIFT_PERIOD_MAX) + 1.0)
        return 1;
    if (q >= 1.0)
        period = static_cast<uint32_t>(q);
    set_shift_period(period);
    return 0;
}

// SPIMAXCLOCK: narrowed to single precision, at least 1.0, stored as the
// first ten characters of its "%f" text. Values beyond single precision
// store "inf".
static void set_max_clock_text(const char *value)
{
    const double d = text_to_double(value);
    char text[64];
    if (d >= FLOAT_OVERFLOW_BOUND) {
        snprintf(text, sizeof text, "inf");
    } else {
        float f = d < 1.0 ? 1.0f : static_cast<float>(d);
        format_fixed6(text, sizeof text, static_cast<double>(f));
    }
    text[10] = '\0';
    memcpy(link_state.max_clock_text, text, strlen(text) + 1);
}

int set_variable(const char *name, const char *value)
{
    if (name == nullptr || value == nullptr)
        return 1;
    switch (find_variable(name)) {
    case VAR_PORT:
        if (!select_port(text_to_int32(value))) {
            record_message("Couldn't find LPT port");
            return 1;
        }
        return 0;
    case VAR_MUL:
        mux_select(text_to_int32(value));
        return 0;
    case VAR_SHIFTPERIOD:
        return set_shift_period_text(value);
    case VAR_CLOCK:
        return set_clock_text(value);
    case VAR_CMDBITS:
        link_state.write_cmd_bits = text_to_int32(value);
        link_state.read_cmd_bits = link_state.write_cmd_bits;
        return 0;
    case VAR_CMDREADBITS:
        link_state.read_cmd_bits = text_to_int32(value);
        return 0;
    case VAR_CMDWRITEBITS:
        link_state.write_cmd_bits = text_to_int32(value);
        return 0;
    case VAR_MAXCLOCK:
        set_max_clock_text(value);
        return 0;
    default:
        return 0;
    }
}

extern "C" {

SPIFNS_API void SPIFNS_CALL spifns_getvarlist(const var_entry **list, int *count)
{
    if (list != nullptr)
        *list = var_table;
    if (count != nullptr)
        *count = VAR_COUNT;
}

SPIFNS_API const char *SPIFNS_CALL spifns_getvar(const char *name)
{
    if (name == nullptr)
        return reply_empty;
    switch (find_variable(name)) {
    case VAR_PORT:
        return integer_reply(reply_port, link_state.port_number);
    case VAR_MUL:
        return integer_reply(reply_mul, link_state.spimul_value);
    case VAR_SHIFTPERIOD:
        return integer_reply(reply_shiftperiod, static_cast<int32_t>(link_state.shift_period));
    case VAR_CLOCK:
        format_fixed6(reply_clock, sizeof reply_clock, CLOCK_FACTOR / static_cast<double>(link_state.shift_period));
        return reply_clock;
    case VAR_MAXCLOCK:
        snprintf(reply_maxclock, sizeof reply_maxclock, "%s", link_state.max_clock_text);
        return reply_maxclock;
    default:
        return reply_empty;
    }
}

SPIFNS_API int SPIFNS_CALL spifns_command(const char *command)
{
    if (command == nullptr || !same_name(command, "SPISLOWER"))
        return 0;
    const uint32_t p = link_state.shift_period;
    if (p < 40) {
        link_state.shift_period = p + p / 4 + 1;
        trace("Delays now %d\n", static_cast<int>(link_state.shift_period));
    }
    return 0;
}

} // extern "C"
