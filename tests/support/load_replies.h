// SPDX-License-Identifier: MIT
// What spifns_getvar answers right after loading, names spelt as hosts may
// spell them (case does not matter). Shared by the unit tests, the load test
// of the shared library and the Win32 check of the DLL.
#pragma once

struct load_reply {
    const char *name;
    const char *reply;
};

inline constexpr load_reply LOAD_REPLIES[] = {
    {"SPIPORT", "1"}, {"spimul", "-1"}, {"SpiShiftPeriod", "1"}, {"SPICLOCK", "172.410000"}, {"spimaxclock", "1000"},
};
