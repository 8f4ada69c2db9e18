// SPDX-License-Identifier: MIT
#include "spilib.h"

#include "errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace spitool {

namespace {

// Why the last load failed.
std::string load_error()
{
#ifdef _WIN32
    const DWORD code = GetLastError();
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                             sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' '))
        text[--n] = '\0';
    return "Windows error " + std::to_string(code) + (n ? std::string(" (") + text + ")" : std::string());
#else
    const char *e = dlerror();
    return e ? e : "unknown error";
#endif
}

// Sets *slot to the module's function name, or to nullptr. On Windows the
// address goes through void (*)(void), the one function type every other
// one may be cast to and back without a warning.
template <typename Fn>
void resolve(void *module, const char *name, Fn *slot)
{
#ifdef _WIN32
    *slot = reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(GetProcAddress(HMODULE(module), name)));
#else
    *slot = reinterpret_cast<Fn>(dlsym(module, name));
#endif
}

void close_module(void *module)
{
#ifdef _WIN32
    FreeLibrary(HMODULE(module));
#else
    dlclose(module);
#endif
}

} // namespace

SpiLib::SpiLib(const std::string &file) : path(file)
{
#ifdef _WIN32
    module_ = reinterpret_cast<void *>(LoadLibraryA(path.c_str()));
#else
    // A name without a slash would make dlopen search the system paths; a
    // file named on the command line means that file.
    module_ = dlopen((path.find('/') == std::string::npos ? "./" + path : path).c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!module_)
        throw Failure("cannot load " + path + ": " + load_error());
    const char *missing = nullptr;
#define SPILIB_RESOLVE(name, member)                                                                      \
    resolve(module_, #name, &member);                                                                    \
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

SpiLib::~SpiLib() { close_module(module_); }

} // namespace spitool
