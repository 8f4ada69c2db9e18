// Settings: the variable table, variable assignment, commands.
#pragma once

#include <cstdint>

// Ties SPICLOCK to the shift period: clock = CLOCK_FACTOR / period.
constexpr double CLOCK_FACTOR = 172.41;

int set_variable(const char *name, const char *value);

// Compares whole texts, ASCII letters without regard to case. The C
// library's case folding follows the locale, which must not change names.
bool same_name(const char *a, const char *b);
void set_shift_period(uint32_t period);

// Text conversions that behave the same in every locale and on every target.
// Integer text as strtol reads it with base 0, clamped to the int32 range.
int32_t text_to_int32(const char *text);
// Decimal floating-point text as strtod reads it ('.' as decimal point).
double text_to_double(const char *text);
// printf "%f" of value into buf, always with '.' as decimal point.
void format_fixed6(char *buf, uint32_t size, double value);
