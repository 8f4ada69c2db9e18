// SPDX-License-Identifier: MIT
// spitool: command-line host for the spifns library. It loads the library at
// run time and uses nothing but its exports, so every run goes through the
// same interface as any other host tool.
//
// Exit status: 0 success, 1 an operation failed (the library's last error is
// printed, or standard output could not be written), 2 a bad command line,
// script or input file, 128 + N when signal N stopped the run.
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
#include "simhost.h"
#include "spilib.h"
#include "text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace spitool {
namespace {

// The library to load: --library's, else the default one or the USB edition
// (--usb); on Windows beside the executable, on Linux beside it (the build
// tree) or, installed, in the library directory, relative to the tool's own
// or absolute where the install named it so.
std::string library_file(const Options &o)
{
    if (o.usb && !o.library.empty())
        throw UsageError("--usb and --library both name the library to load");
    if (!o.library.empty())
        return o.library;
#ifdef _WIN32
    char buf[MAX_PATH];
    const std::string exe(buf, GetModuleFileNameA(nullptr, buf, sizeof(buf)));
    return exe.substr(0, exe.find_last_of("\\/") + 1) + (o.usb ? "usb\\spifns.dll" : "spifns.dll");
#else
    namespace fs = std::filesystem;
    std::error_code ec;
    const char *file = o.usb ? SPITOOL_USB_LIBRARY_FILE : SPITOOL_LIBRARY_FILE; // "": no USB edition built
    const fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    return (fs::exists(dir / file, ec) ? dir / file : dir / SPITOOL_INSTALLED_LIBDIR / file).string();
#endif
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
    if (std::string(cmd->usage).ends_with("FILE") && o.args.back().empty())
        throw UsageError(std::string(cmd->name) + " needs a FILE, not an empty name");
    check_distinct_outputs({{"dump", cmd->run == cmd_dump ? o.args[2] : ""},
                            {"--sim-memory", o.sim.memory_file},
                            {"--vcd", o.sim.vcd_file}});

    Session session(o, lib);
    SimHost sim;
    if (o.sim.enabled) {
        if (o.port && *o.port != SimHost::PORT)
            throw UsageError("--sim attaches the board to port 1; --port " + std::to_string(*o.port) +
                             " would miss it");
        sim.start(lib, o.sim);
        session.sim = &sim;
    }
    std::string failure; // the command's
    bool usage = false;
    try {
        cmd->run(session);
    } catch (const std::runtime_error &e) { // a UsageError or a Failure
        failure = e.what();
        usage = dynamic_cast<const UsageError *>(&e) != nullptr;
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
    // Each file that could not be written on a line of its own, after the command's failure.
    const std::vector<std::string> unsaved = sim.finish(signal != 0);
    for (const std::string &e : unsaved)
        report(e);
    return signal ? 128 + signal : usage ? 2 : failure.empty() && unsaved.empty() ? 0 : 1;
}

} // namespace
} // namespace spitool

int main(int argc, char **argv)
{
    using namespace spitool;
    std::setvbuf(stderr, nullptr, _IONBF, 0); // unbuffered, as C has it, on every runtime
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
    // Output that did not arrive is a failure, whatever the command did;
    // after a signal (SIGPIPE most likely) the signal's status says it.
    const int e = flush_stdout(), signal = caught_signal();
    if (e && !signal) {
        report(std::string("cannot write to standard output: ") + std::strerror(e));
        status = status ? status : 1;
    }
    return signal && status < 128 ? 128 + signal : status == 0 && std::ferror(stderr) ? 1 : status;
}
