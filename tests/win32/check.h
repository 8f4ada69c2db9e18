// SPDX-License-Identifier: MIT
// Minimal checking for the Win32 test programs: cases grouped by name, a
// PASS/FAIL line per case, and a nonzero exit status on any failure.
#pragma once

#include <cstdio>

namespace check {

struct state {
    const char *case_name = nullptr;
    int case_failures = 0;
    int cases = 0;
    int failed_cases = 0;
};

inline state &current()
{
    static state s;
    return s;
}

inline void end_case()
{
    state &s = current();
    if (s.case_name == nullptr)
        return;
    std::printf("%s: %s\n", s.case_failures == 0 ? "PASS" : "FAIL", s.case_name);
    if (s.case_failures != 0)
        ++s.failed_cases;
    s.case_name = nullptr;
    std::fflush(stdout);
}

inline void begin_case(const char *name)
{
    end_case();
    state &s = current();
    s.case_name = name;
    s.case_failures = 0;
    ++s.cases;
}

inline void fail(const char *file, int line, const char *what)
{
    std::printf("  %s:%d: check failed: %s\n", file, line, what);
    ++current().case_failures;
}

// Ends the last case, prints the summary and gives the exit status.
inline int finish(const char *program)
{
    end_case();
    const state &s = current();
    std::printf("%s: %d case(s), %d failed\n", program, s.cases, s.failed_cases);
    return s.failed_cases == 0 && s.cases > 0 ? 0 : 1;
}

} // namespace check

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            check::fail(__FILE__, __LINE__, #cond);                                                \
    } while (0)

// Compares two integers and shows both on failure.
#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        const long long check_a_ = (long long)(actual);                                            \
        const long long check_e_ = (long long)(expected);                                          \
        if (check_a_ != check_e_) {                                                                \
            char check_buf_[256];                                                                  \
            std::snprintf(check_buf_, sizeof check_buf_, "%s == %s (got %lld / 0x%llx, want %lld / 0x%llx)", \
                          #actual, #expected, check_a_, (unsigned long long)check_a_, check_e_,    \
                          (unsigned long long)check_e_);                                           \
            check::fail(__FILE__, __LINE__, check_buf_);                                           \
        }                                                                                          \
    } while (0)

// Compares two texts (either may be null) and shows both on failure.
#define CHECK_STR(actual, expected)                                                                \
    do {                                                                                           \
        const char *check_a_ = (actual);                                                           \
        const char *check_e_ = (expected);                                                         \
        if (check_a_ == nullptr || check_e_ == nullptr || std::strcmp(check_a_, check_e_) != 0) {  \
            char check_buf_[512];                                                                  \
            std::snprintf(check_buf_, sizeof check_buf_, "%s == \"%s\" (got \"%s\")", #actual,     \
                          check_e_ ? check_e_ : "(null)", check_a_ ? check_a_ : "(null)");         \
            check::fail(__FILE__, __LINE__, check_buf_);                                           \
        }                                                                                          \
    } while (0)
