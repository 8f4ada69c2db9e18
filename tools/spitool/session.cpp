// SPDX-License-Identifier: MIT
#include "session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "fileio.h"
#include "progress.h"
#include "text.h"

namespace spitool {

namespace {

// Trace lines: printed with --trace.
bool g_print_trace = false;
// The USB edition tells why a port cannot be opened in a trace line.
bool g_usb = false;
std::string g_usb_note;

void SPIFNS_CALL trace_sink(const char *line)
{
    if (g_usb && std::strncmp(line, "usb: ", 5) == 0) {
        g_usb_note.assign(line + 5);
        while (!g_usb_note.empty() && g_usb_note.back() == '\n')
            g_usb_note.pop_back();
    }
    if (g_print_trace) {
        std::fputs(line, stderr);
        std::fflush(stderr);
    }
}

bool equal_nocase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

ErrorState Session::error_state() const
{
    ErrorState s;
    const char *msg = nullptr;
    s.code = lib_.get_last_error(&s.address, &msg);
    s.message = msg ? msg : "";
    return s;
}

std::string Session::describe(const ErrorState &s)
{
    char buf[64];
    std::snprintf(buf, sizeof(buf), "error 0x%X (", static_cast<unsigned>(s.code));
    std::string t = buf + s.message + ")";
    if (s.code == ERR_READ && s.message == "Unable to read") {
        // The chip answers a read command with the command byte (0x03 with
        // the default command bits) and the address's high byte.
        std::snprintf(buf, sizeof(buf), " at address 0x%04X", s.address);
        t += buf;
        std::snprintf(buf, sizeof(buf), "%04X", 0x0300u | (s.address >> 8));
        t += std::string(": no read echo 0x") + buf +
             " from the chip (is a chip there? check wiring and power, or try a lower --clock)";
    }
    if (g_usb && s.message == "Couldn't find LPT port")
        t += g_usb_note.empty() ? "; no USB adapter answered (see docs/usb.md)" : "; " + g_usb_note;
    else if (g_usb && s.message == "IOCTL failed" && !g_usb_note.empty())
        t += "; " + g_usb_note;
#if defined(_WIN32)
    else if (s.message == "Couldn't find LPT port")
        t += "; is the port driver installed and started? (sc query torvex)";
#endif
    return t;
}

void Session::fail(const std::string &what, const ErrorState &before) const
{
    ErrorState now = error_state();
    if (now == before)
        throw Failure(what + ": the library recorded no new error (last error: " + describe(now) +
                      ")");
    throw Failure(what + ": " + describe(now));
}

int Session::run_sequence(const seq_record *records, size_t count)
{
    return lib_.sequence(records, static_cast<int>(count));
}

void Session::set_variable(const std::string &name, const std::string &value,
                           const std::string &what)
{
    ErrorState before = error_state();
    seq_record r{};
    r.command = SEQ_SETVAR;
    r.name = name.c_str();
    r.value = value.c_str();
    if (run_sequence(&r, 1) != 0)
        fail(what, before);
}

void Session::open(bool select_port, bool leave_port)
{
    lib_.init();
    opened_ = true;
    g_print_trace = opt_.trace;
    g_usb = opt_.usb;
    lib_.set_debug_callback(&trace_sink);
    if (opt_.chip_given)
        lib_.chip_select(opt_.chip);
    bool port_open = !leave_port && (select_port || opt_.port_given);
    if (port_open)
        set_variable("SPIPORT", std::to_string(opt_.port),
                     "cannot select port " + std::to_string(opt_.port));
    if (opt_.mux_given) {
        ErrorState before = error_state();
        set_variable("SPIMUL", std::to_string(opt_.mux), "cannot set the multiplexer");
        // The library accepts any SPIMUL; a failed line update shows only in
        // its last error (always, while no port is open).
        if (port_open && !(error_state() == before))
            fail("cannot set the multiplexer to " + std::to_string(opt_.mux), before);
    }
    if (opt_.clock_given)
        set_variable("SPICLOCK", opt_.clock, "cannot set the clock to " + opt_.clock);
}

void Session::close()
{
    if (!opened_)
        return;
    lib_.set_debug_callback(nullptr);
    lib_.close();
    opened_ = false;
}

std::vector<var_entry> Session::variables() const
{
    const var_entry *list = nullptr;
    int count = 0;
    lib_.getvarlist(&list, &count);
    if (!list || count < 0)
        return {};
    return std::vector<var_entry>(list, list + count);
}

std::string Session::variable_name(const std::string &name) const
{
    for (const var_entry &v : variables())
        if (v.name && equal_nocase(v.name, name))
            return v.name;
    return "";
}

std::string Session::getvar(const std::string &name) const
{
    const char *v = lib_.getvar(name.c_str());
    return v ? v : "";
}

size_t Session::transfer(int command, uint32_t address, uint16_t *words, size_t n,
                         const char *label, std::string *error)
{
    Progress bar(opt_.progress == 1 || (opt_.progress == -1 && stderr_is_terminal()), label,
                 n > opt_.chunk ? static_cast<uint32_t>(n) : 0);
    size_t done = 0;
    while (done < n) {
        size_t part = std::min<size_t>(opt_.chunk, n - done);
        ErrorState before = error_state();
        seq_record r{};
        r.command = command;
        r.address = static_cast<uint16_t>(address + done);
        r.word_count = static_cast<uint16_t>(part);
        r.words = part ? words + done : nullptr;
        if (run_sequence(&r, 1) != 0) {
            bar.finish();
            ErrorState now = error_state();
            std::string where;
            if (!(now.code == ERR_READ && now.message == "Unable to read"))
                where = " in the transfer of " + std::to_string(part) + " words at " +
                        hex16(static_cast<uint32_t>(address + done));
            *error = now == before ? std::string("the library recorded no new error (last error: ") +
                                         describe(now) + ")" + where
                                   : describe(now) + where;
            return done;
        }
        done += part;
        bar.update(static_cast<uint32_t>(done));
    }
    bar.finish();
    return done;
}

} // namespace spitool
