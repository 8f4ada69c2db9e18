// SPDX-License-Identifier: MIT
// spitool: command-line host for the spifns library. It loads the library at
// run time and uses nothing but its exports, so every run goes through the
// same interface as any other host tool.
//
// Exit status: 0 success, 1 an operation failed (the library's last error is
// printed), 2 a bad command line, script or input file.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "fileio.h"
#include "options.h"
#include "session.h"
#include "spilib.h"
#include "text.h"

#if SPITOOL_HAVE_SIM
#include "simhost.h"
#endif

namespace spitool {
namespace {

const char TOOL_VERSION[] = SPITOOL_VERSION;

int run_tool(int argc, char **argv)
{
    Options o = parse_command_line(argc, argv);
    const Command *cmd = nullptr;
    if (!o.command.empty()) {
        cmd = find_command(o.command);
        if (!cmd)
            throw UsageError("unknown command '" + o.command + "' (try spitool --help)");
    }
    if (o.help) {
        if (cmd)
            print_command_help(*cmd);
        else
            print_general_help();
        return 0;
    }

    if (o.version) // its own first line, for help2man and scripts
        std::printf("spitool %s\n", TOOL_VERSION);
    SpiLib lib;
    if (o.usb && !o.library.empty())
        throw UsageError("--usb and --library both name the library to load");
    std::string path = o.usb ? usb_library_path() : o.library.empty() ? default_library_path() : o.library;
    std::string why;
    if (!load_library(path, &lib, &why))
        throw Failure(o.usb ? "the USB edition of the library is not installed (" + why + ")" : why);
    struct Unload {
        SpiLib &lib;
        ~Unload() { unload_library(&lib); }
    } unload{lib};

    if (o.version) {
        std::printf("library %s (interface 0x%X)\n", lib.path.c_str(),
                    static_cast<unsigned>(lib.get_version()));
        return 0;
    }
    if (!cmd)
        throw UsageError("no command given (try spitool --help)");
    if (o.args.size() < cmd->min_args || o.args.size() > cmd->max_args)
        throw UsageError(std::string(o.args.size() < cmd->min_args ? "missing" : "too many") +
                         " arguments (usage: " + usage_of(*cmd) + ")");

    // Every file a run writes is a file of its own.
    std::vector<std::pair<std::string, std::string>> outputs;
    if (std::string(cmd->name) == "dump")
        outputs.emplace_back("dump", o.args[2]);
#if SPITOOL_HAVE_SIM
    if (is_stdio(o.sim.vcd_file))
        throw UsageError("--vcd needs a file (standard output carries the command's output)");
    outputs.emplace_back("--sim-memory", o.sim.memory_file);
    outputs.emplace_back("--vcd", o.sim.vcd_file);
#endif
    check_distinct_outputs(outputs);

    Session session(o, lib);
#if SPITOOL_HAVE_SIM
    SimHost sim;
    if (o.sim.enabled) {
        if (o.port_given && o.port != SimHost::PORT)
            throw UsageError("--sim attaches the board to port 1; --port " + std::to_string(o.port) +
                             " would miss it");
        sim.start(lib, o.sim);
    }
#endif
    int status = 0;
    std::vector<std::string> failures; // the command's, then each file's that could not be saved
    bool usage = false;
    try {
        session.open(cmd->uses_link, cmd->owns_port);
        status = cmd->run(session, lib, o);
    } catch (const UsageError &e) {
        failures.push_back(e.what());
        usage = true;
    } catch (const Failure &e) {
        failures.push_back(e.what());
    }
    std::fflush(stdout);
    session.close();
#if SPITOOL_HAVE_SIM
    SimHost::Saved saved = sim.finish();
    if (o.sim.enabled && !o.sim.vcd_file.empty() && saved.vcd_error.empty())
        std::fprintf(stderr, "spitool: waveform written to %s\n", o.sim.vcd_file.c_str());
    for (const std::string &e : {saved.vcd_error, saved.memory_error})
        if (!e.empty())
            failures.push_back(e);
#endif
    if (!failures.empty()) {
        // Each on its own line; the last one goes out as the run's error.
        for (size_t i = 0; i + 1 < failures.size(); i++)
            std::fprintf(stderr, "spitool: %s\n", failures[i].c_str());
        if (usage)
            throw UsageError(failures.back());
        throw Failure(failures.back());
    }
    return status;
}

} // namespace
} // namespace spitool

int main(int argc, char **argv)
{
    try {
        return spitool::run_tool(argc, argv);
    } catch (const std::exception &e) {
        // A usage error exits with 2, every other failure with 1.
        std::fflush(stdout);
        std::fprintf(stderr, "spitool: %s\n", e.what());
        return dynamic_cast<const spitool::UsageError *>(&e) != nullptr ? 2 : 1;
    }
}
