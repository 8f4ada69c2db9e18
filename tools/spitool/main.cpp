// SPDX-License-Identifier: MIT
// spitool: command-line host for the spifns library. It loads the library at
// run time and uses nothing but its exports, so every run goes through the
// same interface as any other host tool.
//
// Exit status: 0 success, 1 an operation failed (the library's last error is
// printed), 2 a bad command line, script or input file.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fileio.h"
#include "options.h"
#include "platform.h"
#include "session.h"
#include "spilib.h"

#ifdef _WIN32
#include <windows.h>
#endif
#if SPITOOL_HAVE_SIM
#include "simhost.h"
#endif

namespace spitool {
namespace {

// A library file beside the executable (Windows, and the build tree);
// installed on Linux, in the library directory, relative to the tool's own
// or absolute where the install named it so.
std::string library_path(const std::string &file)
{
#ifdef _WIN32
    char buf[MAX_PATH];
    const std::string exe(buf, GetModuleFileNameA(nullptr, buf, sizeof(buf)));
    return exe.substr(0, exe.find_last_of("\\/") + 1) + file;
#else
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    if (fs::exists(dir / file, ec))
        return (dir / file).string();
    return (dir / SPITOOL_INSTALLED_LIBDIR / file).string(); // an absolute LIBDIR replaces dir
#endif
}

#ifdef _WIN32
const char LIBRARY[] = "spifns.dll", USB_LIBRARY[] = "usb\\spifns.dll";
#else
const char LIBRARY[] = SPITOOL_LIBRARY_FILE;
#ifdef SPITOOL_USB_LIBRARY_FILE
const char USB_LIBRARY[] = SPITOOL_USB_LIBRARY_FILE;
#else
const char USB_LIBRARY[] = ""; // this build made none: --usb finds it not installed
#endif
#endif

// The library to load: --library's, the USB edition (--usb), or the default
// one.
std::string library_file(const Options &o)
{
    if (o.usb && !o.library.empty())
        throw UsageError("--usb and --library both name the library to load");
    return o.usb ? library_path(USB_LIBRARY) : o.library.empty() ? library_path(LIBRARY) : o.library;
}

int run_tool(int argc, char **argv)
{
    const Options o = parse_command_line(argc, argv);
    const Command *cmd = find_named(COMMANDS, o.command);
    if (!o.command.empty() && !cmd)
        throw UsageError("unknown command '" + o.command + "' (try spitool --help)");
    if (o.help) {
        cmd ? print_command_help(*cmd) : print_general_help();
        return 0;
    }
    if (o.version) // its own first line, for scripts
        std::printf("spitool %s\n", SPITOOL_VERSION);
    std::optional<SpiLib> loaded;
    try {
        loaded.emplace(library_file(o));
    } catch (const Failure &e) {
        if (!o.usb)
            throw;
        throw Failure(std::string("the USB edition of the library is not installed (") + e.what() + ")");
    }
    SpiLib &lib = *loaded;
    if (o.version) {
        std::printf("library %s (interface 0x%X)\n", lib.path.c_str(), unsigned(lib.get_version()));
        return 0;
    }
    if (!cmd)
        throw UsageError("no command given (try spitool --help)");
    if (o.args.size() < cmd->min_args || o.args.size() > cmd->max_args)
        throw UsageError(std::string(o.args.size() < cmd->min_args ? "missing" : "too many") +
                         " arguments (usage: " + usage_of(*cmd) + ")");
    // Every file a run writes is a file of its own; FILE is always the last argument.
    if (is_stdio(o.sim.vcd_file))
        throw UsageError("--vcd needs a file (standard output carries the command's output)");
    if (std::string(cmd->usage).ends_with("FILE") && o.args.back().empty())
        throw UsageError(std::string(cmd->name) + " needs a FILE, not an empty name");
    check_distinct_outputs({{"dump", cmd->run == cmd_dump ? o.args[2] : ""},
                            {"--sim-memory", o.sim.memory_file},
                            {"--vcd", o.sim.vcd_file}});

    Session session(o, lib, cmd->port);
#if SPITOOL_HAVE_SIM
    SimHost sim;
    if (o.sim.enabled) {
        if (o.port && *o.port != SimHost::PORT)
            throw UsageError("--sim attaches the board to port 1; --port " + std::to_string(*o.port) +
                             " would miss it");
        sim.start(lib, o.sim);
        session.sim = &sim;
    }
#endif
    std::string failure; // the command's
    bool usage = false;
    try {
        cmd->run(session);
    } catch (const UsageError &e) {
        failure = e.what();
        usage = true;
    } catch (const Failure &e) {
        failure = e.what();
    } catch (const Stopped &) {
        // A signal, said here, or standard output, said by main().
    }
    flush_stdout(); // its output before the messages
    session.close();
    const int signal = caught_signal();
    if (signal)
        report("stopped by " + signal_text(signal) + " after the statement in progress");
    if (!failure.empty())
        report(failure);
    bool saved = true; // each file that could not be written on its own line, after the command's
#if SPITOOL_HAVE_SIM
    for (const std::string &e : sim.finish(signal != 0)) {
        report(e);
        saved = false;
    }
#endif
    return signal ? 128 + signal : usage ? 2 : failure.empty() && saved ? 0 : 1;
}

} // namespace
} // namespace spitool

int main(int argc, char **argv)
{
    using namespace spitool;
    catch_signals();
    int status = 1;
    try {
        status = run_tool(argc, argv);
    } catch (const std::exception &e) {
        // A usage error exits with 2, every other failure with 1.
        flush_stdout();
        report(e.what());
        status = dynamic_cast<const UsageError *>(&e) != nullptr ? 2 : 1;
    }
    // Output that did not arrive is a failure, whatever the command did
    // (after a signal, SIGPIPE most likely, the signal says it).
    if (const int e = flush_stdout(); e && !caught_signal()) {
        report(std::string("cannot write to standard output: ") + std::strerror(e));
        status = status ? status : 1;
    }
    return status == 0 && std::ferror(stderr) ? 1 : status;
}
