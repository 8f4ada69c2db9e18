// SPDX-License-Identifier: MIT
// What a host reads from the library right after loading it: the variable
// table, and what spifns_getvar answers, names spelt as hosts may spell them
// (case does not matter). Shared by the unit tests, the load test of the
// shared library and the Win32 check of the DLL.
#pragma once

#include "spifns.h"

// spifns_getvarlist's table: name, default text, flags, in this order.
inline constexpr var_entry VARIABLE_TABLE[] = {
    {"SPIPORT", "1", 1},         {"SPIMUL", "0", 0},         {"SPISHIFTPERIOD", "0", 0},  {"SPICLOCK", "0", 0},
    {"SPICMDBITS", "0", 0},      {"SPICMDREADBITS", "0", 0}, {"SPICMDWRITEBITS", "0", 0}, {"SPIMAXCLOCK", "1000", 0},
};

struct load_reply {
    const char *name;
    const char *reply;
};

inline constexpr load_reply LOAD_REPLIES[] = {
    {"SPIPORT", "1"}, {"spimul", "-1"}, {"SpiShiftPeriod", "1"}, {"SPICLOCK", "172.410000"}, {"spimaxclock", "1000"},
};
