// SPDX-License-Identifier: MIT
#include "spilib.h"

#include <cstring>

#include "platform.h"
#include "spifns_exports.h"

namespace spitool {

namespace {

#if defined(_WIN32)
const char LIBRARY_FILE[] = "spifns.dll";

std::string executable_dir()
{
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof(buf));
    if (n == 0 || n >= sizeof(buf))
        return ".";
    std::string p(buf, n);
    size_t cut = p.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".") : p.substr(0, cut);
}

void *open_module(const std::string &path, std::string *why)
{
    HMODULE m = LoadLibraryA(path.c_str());
    if (!m) {
        DWORD code = GetLastError();
        char text[256] = "";
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 code, 0, text, sizeof(text), nullptr);
        while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' '))
            text[--n] = '\0';
        *why = "cannot load " + path + ": Windows error " + std::to_string(code) +
               (n ? std::string(" (") + text + ")" : std::string());
    }
    return reinterpret_cast<void *>(m);
}

// Resolved through void (*)(void), the one function type every other
// function pointer type may be cast to and back without a warning.
using plain_fn = void (*)(void);

plain_fn find_symbol(void *module, const char *name)
{
    return reinterpret_cast<plain_fn>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void close_module(void *module)
{
    FreeLibrary(static_cast<HMODULE>(module));
}
#else
// The library under its SONAME, the name a runtime-only install provides.
const char LIBRARY_FILE[] = SPITOOL_LIBRARY_FILE;

std::string executable_dir()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return ".";
    std::string p(buf, static_cast<size_t>(n));
    size_t cut = p.find_last_of('/');
    return cut == std::string::npos ? std::string(".") : p.substr(0, cut);
}

void *open_module(const std::string &path, std::string *why)
{
    // A name without a slash would make dlopen search the system paths;
    // a file named on the command line means that file.
    std::string p = path.find('/') == std::string::npos ? "./" + path : path;
    void *m = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m) {
        const char *e = dlerror();
        *why = std::string("cannot load ") + path + ": " + (e ? e : "unknown error");
    }
    return m;
}

using plain_fn = void (*)(void);

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

// A library file beside the tool (Windows, and the build tree); installed on
// Linux, the tool is in bin/ and the library in the library directory:
// relative to the tool's, or absolute where the install named it so.
std::string library_path(const std::string &file)
{
#if defined(_WIN32)
    return executable_dir() + "\\" + file;
#else
    std::string beside = executable_dir() + "/" + file;
    if (access(beside.c_str(), F_OK) == 0)
        return beside;
    const std::string libdir = SPITOOL_INSTALLED_LIBDIR;
    if (!libdir.empty() && libdir[0] == '/')
        return libdir + "/" + file;
    return executable_dir() + "/" + libdir + "/" + file;
#endif
}

template <typename Fn>
bool resolve(void *module, const char *name, Fn *slot, std::string *missing)
{
    plain_fn f = find_symbol(module, name);
    if (!f) {
        if (missing->empty())
            *missing = name;
        return false;
    }
    *slot = reinterpret_cast<Fn>(f);
    return true;
}

} // namespace

std::string default_library_path()
{
    return library_path(LIBRARY_FILE);
}

std::string usb_library_path()
{
#if defined(_WIN32)
    return library_path("usb\\spifns.dll");
#else
    return library_path(SPITOOL_USB_LIBRARY_FILE);
#endif
}

bool load_library(const std::string &path, SpiLib *lib, std::string *why)
{
    *lib = SpiLib{};
    void *m = open_module(path, why);
    if (!m)
        return false;

    std::string missing;
    bool ok = true;
#define RESOLVE_EXPORT(name, member) ok &= resolve(m, #name, &lib->member, &missing);
    SPIFNS_EXPORTS(RESOLVE_EXPORT)
#undef RESOLVE_EXPORT
    if (!ok) {
        *why = path + " is not a spifns library: it has no export " + missing;
        close_module(m);
        *lib = SpiLib{};
        return false;
    }
    // The simulated-driver API exists only in native builds; its absence is
    // not an error until --sim asks for it.
    std::string ignored;
    resolve(m, "simport_attach", &lib->sim_attach, &ignored);
    resolve(m, "simport_detach", &lib->sim_detach, &ignored);
    resolve(m, "simport_fail_control_after", &lib->sim_fail_control_after, &ignored);

    lib->path = path;
    lib->module = m;
    return true;
}

void unload_library(SpiLib *lib)
{
    if (lib->module)
        close_module(lib->module);
    *lib = SpiLib{};
}

} // namespace spitool
