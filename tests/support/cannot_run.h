// SPDX-License-Identifier: MIT
// A test that cannot run on this machine (a locale or a program missing) is
// skipped on a developer's machine and fails where CI is set, so that a CI
// run never passes with a test that did not run. tests/support/cannot_run.sh
// is the same for shell tests and stand-ins.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

// CI set to anything but "", "0" or "false" (in any case).
inline bool ci_is_set()
{
    const char *ci = std::getenv("CI");
    std::string value = ci != nullptr ? ci : "";
    for (char &c : value)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return !value.empty() && value != "0" && value != "false";
}

// Ends the test: skipped, or failed where CI is set.
#define CANNOT_RUN(why)                                                                                                \
    do {                                                                                                               \
        if (ci_is_set())                                                                                               \
            FAIL() << (why) << " (CI is set: every test must run)";                                                   \
        GTEST_SKIP() << (why);                                                                                         \
    } while (0)
