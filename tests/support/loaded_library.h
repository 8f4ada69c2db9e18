// SPDX-License-Identifier: MIT
// One shared library of spifns loaded afresh (RTLD_LOCAL) and reached through
// its exports only, as hosts reach it: the native library, the USB edition.
// For the load, ppdev and USB tests and the benchmarks of the last two.
#pragma once

#include <dlfcn.h>

#include "simport.h"
#include "spifns.h"
#include "spifns_exports.h"

struct loaded_library {
    void *handle;
#define SPIFNS_MEMBER(name, member) decltype(&name) member = nullptr;
    SPIFNS_EXPORTS(SPIFNS_MEMBER)
#undef SPIFNS_MEMBER
    decltype(&simport_attach) attach = nullptr; // the native library's simulated drivers

    // Every pointer is null when the library does not load (dlerror() says why).
    explicit loaded_library(const char *path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        if (handle == nullptr)
            return;
#define SPIFNS_RESOLVE(name, member) member = reinterpret_cast<decltype(&name)>(dlsym(handle, #name));
        SPIFNS_EXPORTS(SPIFNS_RESOLVE)
#undef SPIFNS_RESOLVE
        attach = reinterpret_cast<decltype(&simport_attach)>(dlsym(handle, "simport_attach"));
    }
    ~loaded_library()
    {
        if (handle != nullptr)
            dlclose(handle);
    }
    loaded_library(const loaded_library &) = delete;
    loaded_library &operator=(const loaded_library &) = delete;
};
