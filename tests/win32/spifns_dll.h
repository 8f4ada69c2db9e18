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

// Records for spifns_sequence.
inline seq_record setvar(const char *name, const char *value)
{
    seq_record r;
    std::memset(&r, 0, sizeof r);
    r.command = SEQ_SETVAR;
    r.name = name;
    r.value = value;
    return r;
}

inline seq_record transfer(int command, uint16_t address, uint16_t count, uint16_t *words)
{
    seq_record r;
    std::memset(&r, 0, sizeof r);
    r.command = command;
    r.address = address;
    r.word_count = count;
    r.words = words;
    return r;
}

// One loaded copy of the library; unloaded when it goes out of scope.
struct spifns_dll {
    HMODULE module = nullptr;
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
        all &= get("spifns_init", &init);
        all &= get("spifns_close", &close);
        all &= get("spifns_get_version", &get_version);
        all &= get("spifns_get_last_error", &get_last_error);
        all &= get("spifns_set_debug_callback", &set_debug_callback);
        all &= get("spifns_getvarlist", &getvarlist);
        all &= get("spifns_getvar", &getvar);
        all &= get("spifns_command", &command);
        all &= get("spifns_chip_select", &chip_select);
        all &= get("spifns_enumerate_ports", &enumerate_ports);
        all &= get("spifns_sequence", &sequence);
        all &= get("spifns_halvane_xap_stopped", &xap_stopped);
        return all;
    }

    bool ok() const { return module != nullptr; }

    // A sequence of the one record that sets name to value; its result.
    int set(const char *name, const char *value) const
    {
        seq_record r = setvar(name, value);
        return sequence(&r, 1);
    }

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

// Trace lines the library handed to on_trace, oldest first.
inline std::vector<std::string> g_trace;
inline void __cdecl on_trace(const char *line)
{
    g_trace.emplace_back(line);
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
