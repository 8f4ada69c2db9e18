// SPDX-License-Identifier: MIT
// Base of the classes that own a file, a board or a recording: they can be
// neither copied nor assigned, so that exactly one object releases it.
#pragma once

namespace spitool {

class NonCopyable {
public:
    NonCopyable(const NonCopyable &) = delete;
    NonCopyable &operator=(const NonCopyable &) = delete;

protected:
    NonCopyable() = default;
    ~NonCopyable() = default;
};

} // namespace spitool
