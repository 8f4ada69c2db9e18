// SPDX-License-Identifier: MIT
// spitool loopback: plays the check's pattern straight through the port
// device, not through the library, whose exports never return the raw
// status bytes. On Windows that is port n's device, opened as the library
// opens it; natively, the simulated board of --sim.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "errors.h"
#include "loopback.h"
#include "session.h"
#include "spifns_wire.h"
#include "text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "simhost.h"
#endif

namespace spitool {

namespace {

#ifdef _WIN32
// The device opens exclusively: the session has not selected this port.
std::vector<uint8_t> play(const Session &s, const std::vector<uint8_t> &out)
{
    const std::string port = "port " + std::to_string(s.opt.port.value_or(1));
    const std::string path = SPIFNS_DEVICE_PREFIX + std::to_string(s.opt.port.value_or(1));
    const HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        const std::string why = e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION
                                    ? "is another program using the port?"
                                    : "is the port driver installed and started? (sc query torvex)";
        throw Failure("loopback: cannot open " + port + " (" + path + ", error " + std::to_string(e) + "); " +
                      why);
    }
    const std::unique_ptr<void, BOOL(WINAPI *)(HANDLE)> device(h, CloseHandle);
    const uint8_t probe = OPEN_PROBE_BYTE;
    DWORD written = 0;
    if (!WriteFile(h, &probe, 1, &written, nullptr)) {
        const DWORD e = GetLastError();
        // The driver refuses the probe byte as a bad request while another
        // handle has armed the port, as "not ready" when it cannot arm it.
        if (e == ERROR_INVALID_PARAMETER)
            throw Failure("loopback: " + port + " is held by another program (the open probe byte "
                          "was refused, error 87)");
        throw Failure("loopback: " + port + " refused the open probe byte (error " + std::to_string(e) +
                      "): the port is not armed (the system's parallel-port driver keeps it, or "
                      "its data lines do not read back; the driver's debug output says which)");
    }
    std::vector<uint8_t> status(out.size());
    DWORD returned = 0;
    if (!DeviceIoControl(h, PLAY_CONTROL_CODE, const_cast<uint8_t *>(out.data()), DWORD(out.size()),
                         status.data(), DWORD(status.size()), &returned, nullptr))
        throw Failure(strprintf("loopback: the play request on %s failed (error %lu)", port.c_str(),
                                static_cast<unsigned long>(GetLastError())));
    if (returned != out.size())
        throw Failure("loopback: the play request on " + port + " returned " + std::to_string(returned) +
                      " status bytes for " + std::to_string(out.size()));
    return status;
}
#else
std::vector<uint8_t> play(const Session &s, const std::vector<uint8_t> &out)
{
    if (!s.sim)
        throw UsageError("loopback needs a port driver's device, which this build has not: "
                         "--sim plays on the simulated board");
    std::vector<uint8_t> status(out.size());
    if (!s.sim->play_board(out.data(), status.data(), static_cast<uint32_t>(out.size())))
        throw Failure("loopback: the simulated board did not play");
    return status;
}
#endif

} // namespace

void cmd_loopback(Session &s)
{
    const std::vector<uint8_t> out = loopback_pattern();
    const std::vector<uint8_t> status = play(s, out);
    const LoopbackResult r = diagnose_loopback(out.data(), status.data(), out.size());
    const std::string line = describe_loopback(r);
    if (r.kind != LoopbackResult::Ok)
        throw Failure(line);
    std::printf("%s\n", line.c_str());
}

} // namespace spitool
