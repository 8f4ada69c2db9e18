// SPDX-License-Identifier: MIT
#include "session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "loopback.h"
#include "platform.h"
#include "settings/textconv.h"
#include "simhost.h"
#include "spifns_wire.h"
#include "text.h"

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
    if (g_print_trace)
        std::fputs(line, stderr);
}

// The progress bar of a transfer, one line on stderr redrawn in place: the
// words done, the time spent, the rate and the time still to go, fitted to
// the terminal's width (COLUMNS, else the terminal's, else 80).
void draw_progress(const char *label, uint32_t done, uint32_t total, double elapsed)
{
    auto span = [](double seconds) { // "4.2s" under a minute, "3m07s" above
        const auto s = static_cast<unsigned long>(seconds);
        return seconds < 60 ? strprintf("%.1fs", seconds) : strprintf("%lum%02lus", s / 60, s % 60);
    };
    uint32_t width = 0; // COLUMNS, else the terminal's width, else 80
    if (const char *env = std::getenv("COLUMNS"); !env || !parse_unsigned(env, 1000, &width) || width < 2)
        width = terminal_columns() ? terminal_columns() : 80;
    const unsigned percent = static_cast<unsigned>(uint64_t{done} * 100 / total);
    std::string tail = strprintf("] %3u%% %u/%u words, ", percent, done, total) + span(elapsed) + " elapsed";
    if (elapsed > 0 && done > 0)
        tail += strprintf(", %.0f words/s", done / elapsed) +
                (done < total ? ", " + span((total - done) * elapsed / done) + " left" : "");
    // The bar takes what the rest leaves, up to 30 columns; blanks to the
    // end of the line wipe what a longer line before left behind.
    const int bar = std::clamp(int(width) - 3 - int(std::strlen(label) + tail.size()), 0, 30);
    const int fill = bar * int(percent) / 100;
    std::string line = label + (" [" + std::string(fill, '#') + std::string(bar - fill, '.')) + tail;
    line.resize(width - 1, ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
}

// The library's error record as spitool shows it.
std::string describe(const ErrorState &s)
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
    return t;
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

std::string Session::why(const ErrorState &before) const
{
    const ErrorState now = error_state();
    return now == before ? "the library recorded no new error (last error: " + describe(now) + ")"
                         : describe(now);
}

std::string Session::run_record(const seq_record &r)
{
    // The run stops before the next record: a signal came, standard output
    // failed, or the waveform stopped.
    if (caught_signal() || std::ferror(stdout))
        throw Stopped();
    if (sim)
        sim->check();
    const ErrorState before = error_state();
    const bool ok = lib.sequence(&r, 1) == 0;
    const std::string name = r.command == SEQ_SETVAR ? lower(r.name) : "";
    if (ok && !(name == "spimul" && error_state() != before))
        return "";
    // The library tells hosts only that a port is absent; its device says why.
    return why(before) + (name == "spiport" && !opt.usb && !sim ? port_trouble(r.value) : "");
}

void Session::set_variable(const std::string &name, const std::string &value, const std::string &what)
{
    seq_record r{SEQ_SETVAR, {}};
    r.name = name.c_str();
    r.value = value.c_str();
    if (const std::string e = run_record(r); !e.empty() && !what.empty())
        throw Failure(what + ": " + e);
}

void Session::open(uint64_t words, bool select_port)
{
    if (opt.clock)
        check_setting("SPICLOCK", *opt.clock);
    if (sim)
        sim->expect(words);
    open_ = true;
    lib.init();
    g_print_trace = opt.trace;
    g_usb = opt.usb;
    lib.set_debug_callback(&trace_sink);
    if (opt.chip)
        lib.chip_select(*opt.chip);
    const bool port_open = select_port || opt.port;
    const std::string number = std::to_string(opt.port.value_or(1));
    if (port_open)
        set_variable("SPIPORT", number, "cannot select port " + number);
    // Without an open port every SPIMUL leaves an error behind: no failure then.
    const std::string mux = std::to_string(opt.mux.value_or(0));
    if (opt.mux)
        set_variable("SPIMUL", mux, port_open ? "cannot set the multiplexer to " + mux : "");
    if (opt.clock)
        set_variable("SPICLOCK", *opt.clock, "cannot set the clock to " + *opt.clock);
}

void Session::close()
{
    if (std::exchange(open_, false)) {
        lib.set_debug_callback(nullptr);
        lib.close();
    }
}

std::string Session::variable_name(const std::string &name) const
{
    const var_entry *list = nullptr;
    int count = 0;
    lib.getvarlist(&list, &count);
    for (int i = 0; list && i < count; i++)
        if (list[i].name && lower(list[i].name) == lower(name))
            return list[i].name;
    throw UsageError("unknown variable '" + name + "'");
}

std::string Session::check_setting(const std::string &name, const std::string &value) const
{
    const std::string n = variable_name(name);
    const Name *known = find_named(VARIABLES, n);
    const int32_t library = text_to_int32(value.c_str());
    int32_t whole = 0;
    double real = 0;
    if (known && known->value == VAR_INTEGER &&
        (!parse_signed(value, INT32_MIN, INT32_MAX, &whole) || whole != library))
        throw UsageError(strprintf("bad %s '%s': not one whole number (the library would read %d)", n.c_str(),
                                   value.c_str(), library));
    if (known && known->value == VAR_CLOCK && !parse_real(value, &real))
        throw UsageError(strprintf("bad %s '%s': not one decimal number (the library would read %g)", n.c_str(),
                                   value.c_str(), text_to_double(value.c_str())));
    const double period =
        n == "SPISHIFTPERIOD" ? whole : n == "SPICLOCK" && real > 0 ? std::floor(CLOCK_FACTOR / real + 0.5) : 0;
    // One shift of 16 bits: two buffers of (16 + 4) x 2 bytes per unit of the period.
    if (period * 80 > SHIFT_BYTES_MAX && !opt.slow_clock)
        throw UsageError(strprintf("%s %s: shift period %.0f, for which the library would allocate %.0f MiB "
                                   "for every 16-bit shift (at most %u MiB; --allow-slow-clock insists)",
                                   n.c_str(), value.c_str(), period, period * 80 / (1 << 20),
                                   unsigned(SHIFT_BYTES_MAX >> 20)));
    return n;
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
    const bool bar = n > opt.chunk && (opt.progress == 1 || (opt.progress == -1 && terminal_columns()));
    const auto start = std::chrono::steady_clock::now();
    size_t moved = 0;
    std::string error;
    while (moved < n) {
        const size_t part = std::min<size_t>(opt.chunk, n - moved);
        const seq_record r{command, {{uint16_t(address + moved), uint16_t(part), words + moved}}};
        if (const std::string e = run_record(r); !e.empty()) {
            // A failed echo names its address already.
            const bool echo = error_state().code == ERR_READ && error_state().message == "Unable to read";
            error = e + (echo ? "" : strprintf(" in the transfer of %u words at 0x%04X", unsigned(part),
                                               unsigned(address + moved)));
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
