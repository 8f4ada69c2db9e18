// SPDX-License-Identifier: MIT
// Settings: the variable table, variable assignment, commands.
#pragma once

#include <cstdint>

#include "spifns_wire.h" // CLOCK_FACTOR ties SPICLOCK to the shift period

int set_variable(const char *name, const char *value);

// Compares whole texts, ASCII letters without regard to case. The C
// library's case folding follows the locale, which must not change names.
bool same_name(const char *a, const char *b);
