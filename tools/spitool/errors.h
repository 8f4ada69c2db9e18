// SPDX-License-Identifier: MIT
// spitool's two kinds of failure, told apart by the exit status.
#pragma once

#include <stdexcept>

namespace spitool {

// A bad command line, script or input file: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An operation that failed at run time (library, chip, file system): exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The run stops before its next statement: a signal came, or standard
// output failed. main() says why and cleans up.
struct Stopped {};

} // namespace spitool
