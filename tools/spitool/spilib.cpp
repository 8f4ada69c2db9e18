// SPDX-License-Identifier: MIT
#include "spilib.h"

#include <cstring>

#include "errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace spitool {

namespace {

// Symbols are resolved through void (*)(void), the one function type every
// other function pointer type may be cast to and back without a warning.
using plain_fn = void (*)(void);

#ifdef _WIN32
void *open_module(const std::string &path)
{
    return reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
}

std::string load_error()
{
    const DWORD code = GetLastError();
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' '))
        text[--n] = '\0';
    return "Windows error " + std::to_string(code) + (n ? std::string(" (") + text + ")" : std::string());
}

plain_fn find_symbol(void *module, const char *name)
{
    return reinterpret_cast<plain_fn>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void close_module(void *module)
{
    FreeLibrary(static_cast<HMODULE>(module));
}
#else
void *open_module(const std::string &path)
{
    // A name without a slash would make dlopen search the system paths;
    // a file named on the command line means that file.
    return dlopen((path.find('/') == std::string::npos ? "./" + path : path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string load_error()
{
    const char *e = dlerror();
    return e ? e : "unknown error";
}

plain_fn find_symbol(void *module, const char *name)
{
    void *p = dlsym(module, name);
    plain_fn f;
    static_assert(sizeof(f) == sizeof(p), "function and object pointers differ in size");
    std::memcpy(&f, &p, sizeof(f));
    return f;
}

void close_module(void *module)
{
    dlclose(module);
}
#endif

template <typename Fn>
void resolve(void *module, const char *name, Fn *slot)
{
    *slot = reinterpret_cast<Fn>(find_symbol(module, name));
}

} // namespace

SpiLib::SpiLib(const std::string &file) : path(file), module_(open_module(file))
{
    if (!module_)
        throw Failure("cannot load " + path + ": " + load_error());
    const char *missing = nullptr;
#define SPILIB_RESOLVE(name, member)                                                                              \
    resolve(module_, #name, &member);                                                                            \
    missing = missing ? missing : member ? nullptr : #name;
    SPIFNS_EXPORTS(SPILIB_RESOLVE)
#undef SPILIB_RESOLVE
    if (missing) {
        close_module(module_);
        throw Failure(path + " is not a spifns library: it has no export " + missing);
    }
    // The simulated drivers' API exists only in native builds; its absence is
    // not an error until --sim asks for it.
    resolve(module_, "simport_attach", &sim_attach);
    resolve(module_, "simport_detach", &sim_detach);
    resolve(module_, "simport_fail_control_after", &sim_fail_control_after);
}

SpiLib::~SpiLib()
{
    close_module(module_);
}

} // namespace spitool
