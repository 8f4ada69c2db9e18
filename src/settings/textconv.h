// SPDX-License-Identifier: MIT
// Text conversions that behave the same in every locale and on every target.
#pragma once

#include <cstdint>

// Integer text as strtol reads it with base 0, clamped to the int32 range.
int32_t text_to_int32(const char *text);
// Decimal floating-point text as strtod reads it ('.' as decimal point).
double text_to_double(const char *text);
// printf "%f" of value into buf, always with '.' as decimal point.
void format_fixed6(char *buf, uint32_t size, double value);
