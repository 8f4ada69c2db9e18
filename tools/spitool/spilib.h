// SPDX-License-Identifier: MIT
// The spifns library as spitool sees it: loaded at run time from a file and
// reached only through its exported functions, the way host tools use it.
#pragma once

#include <string>

#include "simport.h"
#include "spifns.h"
#include "spifns_exports.h"

namespace spitool {

// One loaded library: every export of spifns_exports.h as a member named
// after it, and the simulated drivers' attach API where the library has it
// (native builds).
struct SpiLib {
    // Loads the library at path and resolves its exports. Throws Failure
    // with a one-line reason; nothing stays loaded then.
    explicit SpiLib(const std::string &path);
    ~SpiLib();
    SpiLib(const SpiLib &) = delete;
    SpiLib &operator=(const SpiLib &) = delete;

#define SPILIB_ENTRY(name, member) decltype(&name) member = nullptr;
    SPIFNS_EXPORTS(SPILIB_ENTRY)
#undef SPILIB_ENTRY
    decltype(&simport_attach) sim_attach = nullptr;
    decltype(&simport_detach) sim_detach = nullptr;
    decltype(&simport_fail_control_after) sim_fail_control_after = nullptr;

    const std::string path; // the file that was loaded

private:
    void *module_ = nullptr;
};

} // namespace spitool
