// SPDX-License-Identifier: MIT
#include "session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "loopback.h"
#include "spifns_wire.h"
#include "text.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace spitool {

namespace {

// Trace lines: printed with --trace. The USB edition tells in one why a port
// cannot be opened: kept for the error message.
bool g_print_trace = false, g_usb = false;
std::string g_usb_note;

void SPIFNS_CALL trace_sink(const char *line)
{
    if (g_usb && std::strncmp(line, "usb: ", 5) == 0)
        g_usb_note = std::string(line + 5).substr(0, std::strcspn(line + 5, "\n"));
    if (g_print_trace) {
        std::fputs(line, stderr);
        std::fflush(stderr);
    }
}

// The progress bar of a transfer, one line on stderr redrawn in place: the
// words done, the time spent, the rate and the time still to go.
void draw_progress(const char *label, uint32_t done, uint32_t total, double elapsed)
{
    auto span = [](double seconds) { // "4.2s" under a minute, "3m07s" above
        const auto s = static_cast<unsigned long>(seconds);
        return seconds < 60 ? strprintf("%.1fs", seconds) : strprintf("%lum%02lus", s / 60, s % 60);
    };
    const unsigned percent = static_cast<unsigned>(uint64_t{done} * 100 / total), fill = percent * 30 / 100;
    std::string timing = span(elapsed) + " elapsed";
    if (elapsed > 0 && done > 0)
        timing += strprintf(", %.0f words/s", done / elapsed) +
                  (done < total ? ", " + span((total - done) * elapsed / done) + " left" : "");
    // Trailing blanks wipe what a longer line before left behind.
    std::fprintf(stderr, "\r%s [%s%s] %3u%% %u/%u words, %s   ", label, std::string(fill, '#').c_str(),
                 std::string(30 - fill, '.').c_str(), percent, done, total, timing.c_str());
    std::fflush(stderr);
}

} // namespace

ErrorState Session::error_state() const
{
    ErrorState s;
    const char *msg = nullptr;
    s.code = lib.get_last_error(&s.address, &msg);
    s.message = msg ? msg : "";
    return s;
}

std::string Session::describe(const ErrorState &s)
{
    std::string t = strprintf("error 0x%X (%s)", static_cast<unsigned>(s.code), s.message.c_str());
    if (s.code == ERR_READ && s.message == "Unable to read")
        // The echo a chip sends with the default command bits.
        t += strprintf(" at address 0x%04X: no read echo 0x%04X from the chip (is a chip there? check wiring "
                       "and power, or try a lower --clock)",
                       s.address, chip_read_echo(CHIP_CMD_READ, s.address));
    if (g_usb && s.message == "Couldn't find LPT port")
        t += g_usb_note.empty() ? "; no USB adapter answered (see docs/usb.md)" : "; " + g_usb_note;
    else if (g_usb && s.message == "IOCTL failed" && !g_usb_note.empty())
        t += "; " + g_usb_note;
#ifdef _WIN32
    else if (s.message == "Couldn't find LPT port")
        t += "; is the port driver installed and started? (sc query torvex)";
#endif
    return t;
}

std::string Session::why(const ErrorState &before) const
{
    const ErrorState now = error_state();
    return now == before ? "the library recorded no new error (last error: " + describe(now) + ")"
                         : describe(now);
}

std::string Session::run_record(const seq_record &r)
{
    const ErrorState before = error_state();
    const bool ok = lib.sequence(&r, 1) == 0;
    const bool mux = r.command == SEQ_SETVAR && lower(r.name) == "spimul";
    if (ok && !(mux && error_state() != before))
        return "";
    // The library tells hosts only that a port is absent; its device says why.
    if (r.command == SEQ_SETVAR && lower(r.name) == "spiport" && !opt.usb && !sim && r.value)
        return why(before) + port_trouble(r.value);
    return why(before);
}

void Session::set_variable(const std::string &name, const std::string &value, const std::string &what)
{
    seq_record r{};
    r.command = SEQ_SETVAR;
    r.name = name.c_str();
    r.value = value.c_str();
    if (const std::string e = run_record(r); !e.empty())
        throw Failure(what + ": " + e);
}

void Session::open(Command::Port port)
{
    lib.init();
    g_print_trace = opt.trace;
    g_usb = opt.usb;
    lib.set_debug_callback(&trace_sink);
    if (opt.chip)
        lib.chip_select(*opt.chip);
    const bool port_open = port == Command::Select || (port == Command::IfGiven && opt.port);
    const std::string number = std::to_string(opt.port.value_or(1));
    if (port_open)
        set_variable("SPIPORT", number, "cannot select port " + number);
    if (opt.mux) {
        const std::string mux = std::to_string(*opt.mux);
        try {
            set_variable("SPIMUL", mux, "cannot set the multiplexer to " + mux);
        } catch (const Failure &) {
            // Without an open port every SPIMUL leaves an error behind.
            if (port_open)
                throw;
        }
    }
    if (opt.clock)
        set_variable("SPICLOCK", *opt.clock, "cannot set the clock to " + *opt.clock);
}

void Session::close()
{
    lib.set_debug_callback(nullptr);
    lib.close();
}

std::string Session::variable_name(const std::string &name) const
{
    const var_entry *list = nullptr;
    int count = 0;
    lib.getvarlist(&list, &count);
    for (int i = 0; list && i < count; i++)
        if (list[i].name && lower(list[i].name) == lower(name))
            return list[i].name;
    return "";
}

std::string Session::getvar(const std::string &name) const
{
    const char *v = lib.getvar(name.c_str());
    return v ? v : "";
}

std::string Session::transfer(int command, uint32_t address, uint16_t *words, size_t n, const char *label,
                              size_t *done)
{
    // A bar for more than one chunk: on request, or on a terminal; redrawn
    // after each chunk.
    const bool bar = n > opt.chunk && (opt.progress == 1 || (opt.progress == -1 && isatty(fileno(stderr))));
    const auto start = std::chrono::steady_clock::now();
    size_t moved = 0;
    std::string error;
    while (moved < n) {
        const size_t part = std::min<size_t>(opt.chunk, n - moved);
        seq_record r{};
        r.command = command;
        r.address = static_cast<uint16_t>(address + moved);
        r.word_count = static_cast<uint16_t>(part);
        r.words = words + moved;
        const ErrorState before = error_state();
        if (lib.sequence(&r, 1) != 0) {
            // A failed echo names its address already.
            const bool echo = error_state().code == ERR_READ && error_state().message == "Unable to read";
            error = why(before) + (echo ? "" : strprintf(" in the transfer of %u words at 0x%04X",
                                                         unsigned(part), unsigned(address + moved)));
            break;
        }
        moved += part;
        if (bar)
            draw_progress(label, uint32_t(moved), uint32_t(n),
                          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (bar && moved > 0) // the bar stays as it stopped
        std::fputc('\n', stderr);
    if (done)
        *done = moved;
    return error;
}

} // namespace spitool
