// SPDX-License-Identifier: MIT
// Settings: the variable table, variable assignment, commands.
#pragma once

#include <cstdint>

// Ties SPICLOCK to the shift period: clock = CLOCK_FACTOR / period.
constexpr double CLOCK_FACTOR = 172.41;

int set_variable(const char *name, const char *value);

// Compares whole texts, ASCII letters without regard to case. The C
// library's case folding follows the locale, which must not change names.
bool same_name(const char *a, const char *b);
