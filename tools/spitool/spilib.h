// SPDX-License-Identifier: MIT
// The spifns library as spitool sees it: loaded at run time from a file and
// reached only through its exported functions, the way host tools use it.
#pragma once

#include <string>

#include "spifns.h"
#include "simport.h"

namespace spitool {

// Entry points of one loaded library. Every pointer is filled by load();
// the simport_ ones only where the library has them (native builds).
struct SpiLib {
    decltype(&spifns_init) init = nullptr;
    decltype(&spifns_close) close = nullptr;
    decltype(&spifns_get_version) get_version = nullptr;
    decltype(&spifns_get_last_error) get_last_error = nullptr;
    decltype(&spifns_set_debug_callback) set_debug_callback = nullptr;
    decltype(&spifns_getvarlist) getvarlist = nullptr;
    decltype(&spifns_getvar) getvar = nullptr;
    decltype(&spifns_command) command = nullptr;
    decltype(&spifns_chip_select) chip_select = nullptr;
    decltype(&spifns_enumerate_ports) enumerate_ports = nullptr;
    decltype(&spifns_sequence) sequence = nullptr;
    decltype(&spifns_halvane_xap_stopped) xap_stopped = nullptr;

    decltype(&simport_attach) sim_attach = nullptr;
    decltype(&simport_detach) sim_detach = nullptr;
    decltype(&simport_fail_control_after) sim_fail_control_after = nullptr;

    std::string path; // the file that was loaded
    void *module = nullptr;
};

// The library file spitool loads when no --library is given: the one beside
// the spitool executable.
std::string default_library_path();
// The USB edition's file (spitool --usb): usb\spifns.dll beside spitool.exe,
// or libspifns_usb.so.1 where default_library_path looks for the library.
std::string usb_library_path();

// Loads the library at path and resolves its exports. On failure returns
// false with a one-line reason in *why; nothing stays loaded.
bool load_library(const std::string &path, SpiLib *lib, std::string *why);

// Unloads a library loaded by load_library.
void unload_library(SpiLib *lib);

} // namespace spitool
