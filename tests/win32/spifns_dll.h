// SPDX-License-Identifier: MIT
// The shipped spifns.dll as the Win32 test programs use it: loaded with
// LoadLibraryA and driven only through its twelve exports, resolved by name.
// Also the pieces both hosts build requests and read traces with.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <source_location>
#include <string>
#include <vector>

#include "check.h"
#include "spifns.h"
#include "spifns_exports.h"
#include "records.h"

// One loaded copy of the library; unloaded when it goes out of scope.
struct spifns_dll {
    HMODULE module = nullptr;
#define SPIFNS_DLL_MEMBER(name, member) decltype(&name) member = nullptr;
    SPIFNS_EXPORTS(SPIFNS_DLL_MEMBER)
#undef SPIFNS_DLL_MEMBER

    spifns_dll() = default;
    spifns_dll(const spifns_dll &) = delete;
    spifns_dll &operator=(const spifns_dll &) = delete;
    ~spifns_dll() { unload(); }

    // LoadLibraryA(path): the module, or null (GetLastError() says why).
    HMODULE load(const char *path)
    {
        unload();
        module = LoadLibraryA(path);
        return module;
    }

    // Resolves all twelve exports by name, naming each one that is missing.
    bool resolve()
    {
        bool all = true;
#define SPIFNS_DLL_RESOLVE(name, member) all &= get(#name, &member);
        SPIFNS_EXPORTS(SPIFNS_DLL_RESOLVE)
#undef SPIFNS_DLL_RESOLVE
        return all;
    }

    bool ok() const { return module != nullptr; }

    // A sequence of the one record that sets name to value; its result.
    int set(const char *name, const char *value) const { return run_setvar(name, value, sequence); }

    void unload()
    {
        if (module != nullptr)
            FreeLibrary(module);
        module = nullptr;
    }

private:
    template <typename F>
    bool get(const char *name, F *out)
    {
        *out = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
        if (*out == nullptr)
            std::printf("  missing export %s\n", name);
        return *out != nullptr;
    }
};

// Checks the last error of a loaded copy: its code and its message. The
// address goes to *address unless that is null.
#define CHECK_LAST_ERROR(dll, address, code, text)                                                 \
    do {                                                                                           \
        const char *check_message_ = nullptr;                                                      \
        CHECK_EQ((dll).get_last_error(address, &check_message_), code);                            \
        CHECK_STR(check_message_, text);                                                           \
    } while (0)

// Trace lines the library handed to on_trace, oldest first.
inline std::vector<std::string> g_trace;
inline void __cdecl on_trace(const char *line)
{
    g_trace.emplace_back(line);
}

// Begins a case that gathers its trace lines afresh.
inline void begin_traced_case(const char *name)
{
    check::begin_case(name);
    g_trace.clear();
}

// Checks the trace lines gathered since g_trace was emptied: their number,
// and each line present that has an expected text (null: any text). A
// failure also names the caller's line.
inline void check_trace(std::initializer_list<const char *> expected,
                        std::source_location where = std::source_location::current())
{
    const int failures_before = check::current().case_failures;
    CHECK_EQ(g_trace.size(), expected.size());
    size_t i = 0;
    for (const char *line : expected) {
        if (i >= g_trace.size())
            break;
        if (line != nullptr)
            CHECK_STR(g_trace[i].c_str(), line);
        ++i;
    }
    if (check::current().case_failures != failures_before)
        std::printf("  (trace checked at %s:%u)\n", where.file_name(), (unsigned)where.line());
}
