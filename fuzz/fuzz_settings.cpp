// SPDX-License-Identifier: MIT
// Fuzz target: the settings interface. Arbitrary names and value texts go
// through set-variable records, spifns_getvar and spifns_command.
//
// Input: lines, each one operation (the first character says which):
//   S<name>=<value>   set-variable record (no '=': the value is null)
//   N<value>          set-variable record with a null name
//   G<name>           spifns_getvar
//   g                 spifns_getvar(null)
//   C<text>           spifns_command
// Ports 1 (a driver that only fills status), 2 (refuses the one-byte write)
// and 3 (refuses every open) exist; SPIPORT may name any of them or none.
//
// After every operation: no sanitizer report; the shift period is one the
// waveform engine can serve; every reply is terminated inside its buffer and
// agrees with the state; the last error is a defined code and message; no
// device handle other than the library's one is open; trace lines fit.
//
// Bound: a shift at a huge period allocates gigabytes. Multiplexer selection
// shifts at the current period, so an input stops (as done) once the period
// exceeds PERIOD_CAP while a port is open; periods up to the engine's limit
// are still set and read back before that.
#include <cinttypes>
#include <string>

#include "fuzz_common.h"

namespace {

constexpr uint32_t PERIOD_CAP = 1u << 16;
constexpr int LAST_PORT = 3;

struct reply_rule {
    const char *name;
    size_t size; // bytes of the variable's reply buffer
};
constexpr reply_rule readable[] = {
    {"SPIPORT", 20}, {"SPIMUL", 20}, {"SPISHIFTPERIOD", 20}, {"SPICLOCK", 64}, {"SPIMAXCLOCK", 24},
};

// Reply pointers seen so far, per readable variable: each has its own
// buffer, the same on every read.
const char *seen_reply[5];
const char *empty_reply;

void check_getvar(const char *name)
{
    const char *reply = spifns_getvar(name);
    FUZZ_CHECK(reply != nullptr);
    if (name == nullptr) {
        FUZZ_CHECK(reply[0] == '\0');
        return;
    }
    for (size_t i = 0; i < sizeof readable / sizeof readable[0]; i++) {
        if (!same_name(name, readable[i].name))
            continue;
        FUZZ_CHECK(memchr(reply, '\0', readable[i].size) != nullptr, "reply overruns its buffer");
        FUZZ_CHECK(seen_reply[i] == nullptr || seen_reply[i] == reply, "reply buffer moved");
        seen_reply[i] = reply;
        for (size_t j = 0; j < sizeof readable / sizeof readable[0]; j++)
            FUZZ_CHECK(j == i || seen_reply[j] != reply, "two variables share a reply buffer");
        char expected[24];
        if (i == 0) {
            snprintf(expected, sizeof expected, "%d", static_cast<int>(link_state.port_number));
            FUZZ_CHECK(strcmp(reply, expected) == 0, reply);
        } else if (i == 1) {
            snprintf(expected, sizeof expected, "%d", static_cast<int>(link_state.spimul_value));
            FUZZ_CHECK(strcmp(reply, expected) == 0, reply);
        } else if (i == 2) {
            snprintf(expected, sizeof expected, "%" PRIu32, link_state.shift_period);
            FUZZ_CHECK(strcmp(reply, expected) == 0, reply);
        } else if (i == 4) {
            FUZZ_CHECK(strcmp(reply, link_state.max_clock_text) == 0, reply);
        }
        return;
    }
    // Every other name, the command-bit variables included, reads empty.
    FUZZ_CHECK(reply[0] == '\0', name);
    FUZZ_CHECK(empty_reply == nullptr || reply == empty_reply);
    empty_reply = reply;
}

int set_record(const char *name, const char *value)
{
    seq_record r = setvar(name, value);
    const seq_record copy = r;
    const int result = spifns_sequence(&r, 1);
    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(memcmp(&copy, &r, sizeof r) == 0, "record changed");
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_reset_library();
    simport_attach(1, nullptr, nullptr);
    simport_attach(2, nullptr, nullptr);
    simport_set_faults(2, SIMPORT_REFUSE_WRITE);
    simport_attach(3, nullptr, nullptr);
    simport_set_faults(3, SIMPORT_REFUSE_OPEN);
    spifns_set_debug_callback(fuzz_check_trace_line);

    const std::string input(reinterpret_cast<const char *>(data), size);
    size_t at = 0;
    while (at < input.size()) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos)
            end = input.size();
        const std::string line = input.substr(at, end - at);
        at = end + 1;
        if (line.empty())
            continue;
        const std::string arg = line.substr(1);
        switch (line[0]) {
        case 'S': {
            const size_t eq = arg.find('=');
            if (eq == std::string::npos)
                set_record(arg.c_str(), nullptr);
            else
                set_record(arg.substr(0, eq).c_str(), arg.substr(eq + 1).c_str());
            break;
        }
        case 'N':
            set_record(nullptr, arg.c_str());
            break;
        case 'G':
            check_getvar(arg.c_str());
            break;
        case 'g':
            check_getvar(nullptr);
            break;
        case 'C':
            FUZZ_CHECK(spifns_command(arg.c_str()) == 0);
            break;
        default:
            break;
        }
        fuzz_check_link_state();
        fuzz_check_handles(1, LAST_PORT);
        if (link_state.shift_period > PERIOD_CAP && link_state.port_handle != nullptr)
            break;
    }
    spifns_set_debug_callback(nullptr);
    fuzz_reset_library();
    return 0;
}
