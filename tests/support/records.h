// SPDX-License-Identifier: MIT
// Records for spifns_sequence as the tests, the Win32 hosts, the fuzz targets
// and the benchmark build them. Only the public interface: the hosts that load
// the shipped DLL include it too.
#pragma once

#include "spifns.h"

// The record that sets the variable name to value.
inline seq_record setvar(const char *name, const char *value)
{
    seq_record r{};
    r.command = SEQ_SETVAR;
    r.name = name;
    r.value = value;
    return r;
}

// A read or write record of count words at address.
inline seq_record transfer(int32_t command, uint16_t address, uint16_t count, uint16_t *words)
{
    return seq_record{command, {{address, count, words}}};
}

// Runs the one record that sets name to value through a spifns_sequence (the
// one linked in unless a loaded copy's is given); its result.
inline int run_setvar(const char *name, const char *value, decltype(&spifns_sequence) sequence = spifns_sequence)
{
    const seq_record r = setvar(name, value);
    return sequence(&r, 1);
}
