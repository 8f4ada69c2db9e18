// SPDX-License-Identifier: MIT
// spitool loopback: plays the check's pattern straight through the port
// device, not through the library, whose exports never return the raw
// status bytes. On Windows that is port n's device, opened as the library
// opens it; on Linux /dev/parport<n-1> through the library's own ppdev code
// (compiled in); with --sim the simulated driver, reached through the
// library. Also why a port's device does not open, for the session.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "errors.h"
#include "loopback.h"
#include "session.h"
#include "settings/textconv.h"
#include "simhost.h"
#include "spifns_wire.h"
#include "text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>

#include "os/port_ppdev.h"
#endif

namespace spitool {

namespace {

#ifdef _WIN32
// Opens port n's device into *h as the library opens it, the probe byte
// included. Returns why it cannot be used, or an empty text.
std::string open_device(int n, HANDLE *h)
{
    const std::string port = "port " + std::to_string(n), path = SPIFNS_DEVICE_PREFIX + std::to_string(n);
    *h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD e = GetLastError();
    if (*h == INVALID_HANDLE_VALUE)
        return "cannot open " + port + " (" + path + ", error " + std::to_string(e) + "); " +
               (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION
                    ? "the device is there but refused the open: is another program using it?"
                    : "is the port driver installed and started? (sc query torvex)");
    const uint8_t probe = OPEN_PROBE_BYTE;
    DWORD written = 0;
    if (WriteFile(*h, &probe, 1, &written, nullptr))
        return "";
    e = GetLastError();
    CloseHandle(*h);
    // The driver refuses the probe byte as a bad request while another
    // handle has armed the port, as "not ready" when it cannot arm it.
    if (e == ERROR_INVALID_PARAMETER)
        return port + " is held by another program (the open probe byte was refused, error 87)";
    return port + " refused the open probe byte (error " + std::to_string(e) +
           "): the port is not armed (the system's parallel-port driver keeps it, or its data lines do not "
           "read back; the driver's debug output says which)";
}
#else
// Why port n's device did not open, in words to act on.
std::string ppdev_reason(int32_t port, const ppdev_result &r)
{
    char path[32];
    ppdev_path(port, path, sizeof path);
    const std::string dev = path;
    switch (r.status) {
    case PPDEV_NO_DEVICE:
        return dev + (r.error == ENOENT ? " does not exist" : " has no driver behind it") +
               ": load the parport_pc and ppdev kernel modules (sudo modprobe -a parport_pc ppdev)";
    case PPDEV_DENIED:
        return "permission denied on " + dev + ": it belongs to the group lp; add yourself to it (sudo usermod "
               "-aG lp $USER, then log in again) or give access with a udev rule";
    case PPDEV_BUSY:
        return dev + " is busy: another program or driver has the port registered exclusively";
    case PPDEV_CLAIM_TIMEOUT:
        return "the claim of " + dev + " did not come within 1 s: another program or driver (lp while it "
               "prints) holds the port";
    case PPDEV_NO_READBACK:
        return "the data lines of " + dev + " do not read back what was written: not a port that drives its "
               "data lines, or something else drives them; " PPDEV_VERIFY_VARIABLE "=0 skips this check";
    case PPDEV_DISABLED:
        return dev + " is not used: " PPDEV_ENABLE_VARIABLE " is 0";
    default:
        return dev + ": " + std::strerror(r.error);
    }
}
#endif

// Plays out on the board of --sim, or on the port's device.
std::vector<uint8_t> play(Session &s, const std::vector<uint8_t> &out)
{
    std::vector<uint8_t> status(out.size());
    if (s.sim) {
        // The simulated driver is inside the library, which plays only what
        // it builds: the session opens port 1, the library makes the control
        // calls of a write of no words, and the board plays the pattern in
        // the first of them, so the driver's exclusive open and faults apply.
        s.open();
        std::string error;
        if (!s.sim->carry(out, &status, [&] { error = s.run_record({SEQ_WRITE, {}}); }) || !error.empty())
            throw Failure("loopback: a control call on port 1 failed: " + error);
        return status;
    }
#ifdef _WIN32
    // The device opens exclusively: the session has not selected this port.
    const std::string port = "port " + std::to_string(s.opt.port.value_or(1));
    HANDLE h;
    if (const std::string why = open_device(s.opt.port.value_or(1), &h); !why.empty())
        throw Failure("loopback: " + why);
    const std::unique_ptr<void, BOOL(WINAPI *)(HANDLE)> device(h, CloseHandle);
    DWORD returned = 0;
    if (!DeviceIoControl(h, PLAY_CONTROL_CODE, const_cast<uint8_t *>(out.data()), DWORD(out.size()),
                         status.data(), DWORD(status.size()), &returned, nullptr))
        throw Failure(strprintf("loopback: the play request on %s failed (error %lu)", port.c_str(),
                                static_cast<unsigned long>(GetLastError())));
    if (returned != out.size())
        throw Failure("loopback: the play request on " + port + " returned " + std::to_string(returned) +
                      " status bytes for " + std::to_string(out.size()));
    return status;
#else
    if (s.opt.usb)
        throw UsageError("loopback checks a parallel port, not a USB adapter");
    const int32_t port = s.opt.port.value_or(1);
    ppdev_result why{};
    ppdev_port *device = ppdev_open(port, &why);
    if (device == nullptr)
        throw Failure(strprintf("loopback: port %d: ", port) + ppdev_reason(port, why));
    const bool played = ppdev_play(device, out.data(), status.data(), static_cast<uint32_t>(out.size()));
    ppdev_close(device);
    if (!played)
        throw Failure(strprintf("loopback: a ppdev request on port %d failed during the play", port));
    return status;
#endif
}

} // namespace

std::string port_trouble(const std::string &number)
{
    const int32_t port = text_to_int32(number.c_str()); // as the library read it
    if (port < PORT_MIN || port > PORT_MAX)
        return "";
#ifdef _WIN32
    HANDLE h;
    const std::string why = open_device(port, &h);
    if (why.empty())
        CloseHandle(h);
    return why.empty() ? "" : "; " + why;
#else
    ppdev_result why{};
    if (ppdev_port *device = ppdev_open(port, &why)) {
        ppdev_close(device);
        return "";
    }
    return "; " + ppdev_reason(port, why);
#endif
}

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
