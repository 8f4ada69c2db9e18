// SPDX-License-Identifier: MIT
// Text conversions of the settings interface. They read and write the same
// texts whatever locale the host process has set, and behave the same on
// 32-bit and 64-bit targets.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/textconv.h"

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static int digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

static const char *skip_space(const char *p)
{
    while (is_space(*p))
        p++;
    return p;
}

// Reads like strtol with base 0: white space, a sign, then "0x" for hex, a
// leading 0 for octal, decimal otherwise; stops at the first character that
// does not fit; no digits gives 0; out of range gives the nearer limit.
int32_t text_to_int32(const char *text)
{
    const char *p = skip_space(text);
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';

    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }

    // Saturates one past the largest magnitude any int32 result can take.
    constexpr uint64_t SATURATED = 0x80000001ull;
    uint64_t magnitude = 0;
    for (int d; (d = digit_value(*p)) < base; p++) {
        magnitude = magnitude * base + d;
        if (magnitude > SATURATED)
            magnitude = SATURATED;
    }
    if (negative)
        return magnitude >= 0x80000000ull ? INT32_MIN : -static_cast<int32_t>(magnitude);
    return magnitude > 0x7FFFFFFFull ? INT32_MAX : static_cast<int32_t>(magnitude);
}

// The locale's decimal point, which the C library's conversions use.
static const char *locale_point()
{
    const lconv *conv = localeconv();
    return conv != nullptr && conv->decimal_point != nullptr && conv->decimal_point[0] != '\0'
               ? conv->decimal_point
               : ".";
}

// Reads a decimal number as strtod does in the "C" locale: white space, a
// sign, digits with an optional '.', an optional exponent. The number's span
// is found here and handed to strtod with '.' spelt as the process locale
// spells it, so the C library rounds it and no locale changes its meaning.
double text_to_double(const char *text)
{
    const char *p = skip_space(text);
    const char *start = p;
    if (*p == '+' || *p == '-')
        p++;
    size_t digits = 0;
    while (*p >= '0' && *p <= '9')
        p++, digits++;
    const char *point = nullptr;
    if (*p == '.') {
        point = p++;
        while (*p >= '0' && *p <= '9')
            p++, digits++;
    }
    if (digits == 0)
        return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char *e = p + 1;
        if (*e == '+' || *e == '-')
            e++;
        if (*e >= '0' && *e <= '9') {
            while (*e >= '0' && *e <= '9')
                e++;
            p = e;
        }
    }

    const char *lp = locale_point();
    const size_t lp_len = strlen(lp);
    const size_t span = static_cast<size_t>(p - start);
    const size_t needed = span + lp_len + 1;
    char local[128];
    char *buf = needed <= sizeof local ? local : static_cast<char *>(malloc(needed));
    if (buf == nullptr)
        return 0.0;
    char *out = buf;
    for (const char *q = start; q < p; q++) {
        if (q == point) {
            memcpy(out, lp, lp_len);
            out += lp_len;
        } else {
            *out++ = *q;
        }
    }
    *out = '\0';
    const double value = strtod(buf, nullptr);
    if (buf != local)
        free(buf);
    return value;
}

// printf "%f" with '.' as the decimal point; infinities read "inf".
void format_fixed6(char *buf, uint32_t size, double value)
{
    if (size == 0)
        return;
    if (value > 1.7976931348623157e308 || value < -1.7976931348623157e308) {
        snprintf(buf, size, "%s", value > 0 ? "inf" : "-inf");
        return;
    }
    char tmp[400]; // the largest double printed with "%f" takes 316 characters
    snprintf(tmp, sizeof tmp, "%f", value);
    const char *lp = locale_point();
    const size_t lp_len = strlen(lp);
    char *at = strstr(tmp, lp);
    if (at != nullptr && !(lp_len == 1 && lp[0] == '.')) {
        *at = '.';
        memmove(at + 1, at + lp_len, strlen(at + lp_len) + 1);
    }
    snprintf(buf, size, "%s", tmp);
}
