// SPDX-License-Identifier: MIT
// spitool loopback: plays the check's pattern straight through the port
// device, not through the library, whose exports never return the raw
// status bytes. On Windows that is port n's device, opened as the library
// opens it; natively, the simulated driver of --sim, reached through the
// library. Also why a port's device cannot be used, for the session.
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
// Opens port n's device as the library does, the probe byte included.
// Throws Failure, led by prefix, saying why it cannot be used.
HANDLE open_device(int n, const std::string &prefix)
{
    const std::string port = "port " + std::to_string(n), path = SPIFNS_DEVICE_PREFIX + std::to_string(n);
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        const std::string why = e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION
                                    ? "the device is there but refused the open: is another program using the port?"
                                    : "is the port driver installed and started? (sc query torvex)";
        throw Failure(prefix + "cannot open " + port + " (" + path + ", error " + std::to_string(e) + "); " + why);
    }
    const uint8_t probe = OPEN_PROBE_BYTE;
    DWORD written = 0;
    if (WriteFile(h, &probe, 1, &written, nullptr))
        return h;
    const DWORD e = GetLastError();
    CloseHandle(h);
    // The driver refuses the probe byte as a bad request while another
    // handle has armed the port, as "not ready" when it cannot arm it.
    if (e == ERROR_INVALID_PARAMETER)
        throw Failure(prefix + port + " is held by another program (the open probe byte was refused, error 87)");
    throw Failure(prefix + port + " refused the open probe byte (error " + std::to_string(e) +
                  "): the port is not armed (the system's parallel-port driver keeps it, or its data lines do "
                  "not read back; the driver's debug output says which)");
}

// The device opens exclusively: the session has not selected this port.
std::vector<uint8_t> play(Session &s, const std::vector<uint8_t> &out)
{
    const std::string port = "port " + std::to_string(s.opt.port.value_or(1));
    const HANDLE h = open_device(s.opt.port.value_or(1), "loopback: ");
    const std::unique_ptr<void, BOOL(WINAPI *)(HANDLE)> device(h, CloseHandle);
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
// The simulated driver is inside the library, which plays only what it
// builds: the library opens port 1 and makes the control calls of a write
// of no words, and the board plays the pattern in the first of them, so
// the driver's exclusive open and its faults apply as to a port device.
std::vector<uint8_t> play(Session &s, const std::vector<uint8_t> &out)
{
    if (!s.sim)
        throw UsageError("loopback needs a port driver's device, which this build has not: "
                         "--sim plays on the simulated board");
    s.open();
    s.set_variable("SPIPORT", "1", "loopback: cannot open port 1");
    std::vector<uint8_t> status(out.size());
    std::string error;
    seq_record r{};
    r.command = SEQ_WRITE;
    if (!s.sim->carry(out, &status, [&] { error = s.run_record(r); }))
        throw Failure("loopback: the play request on port 1 failed: " + error);
    return status;
}
#endif

} // namespace

#ifdef _WIN32
std::string port_hint(int n)
{
    try {
        CloseHandle(open_device(n, ""));
        return "";
    } catch (const Failure &e) {
        return std::string("; ") + e.what();
    }
}
#else
std::string port_hint(int)
{
    return "";
}
#endif

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
