// SPDX-License-Identifier: MIT
// The session: the command line's options and one loaded library, opened for
// one command with the port, multiplexer, chip and clock of the command
// line, and the library's last error turned into spitool's messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"
#include "options.h"
#include "spilib.h"

namespace spitool {

class SimHost;

// The last-error record of the library at one moment.
struct ErrorState {
    int code = 0;
    std::string message;
    uint16_t address = 0;
    bool operator==(const ErrorState &) const = default;
};

class Session {
public:
    Session(const Options &o, SpiLib &l) : opt(o), lib(l) {}

    const Options &opt;
    SpiLib &lib;
    SimHost *sim = nullptr; // the simulated board, while --sim attaches it

    ErrorState error_state() const;
    // Why an operation failed that started with the error record at before.
    std::string why(const ErrorState &before) const;

    // Runs one record; returns an empty text on success, else why it failed.
    // Throws, before it, Stopped when a signal came or standard output
    // failed, Failure when the waveform stopped.
    // SPIMUL always reports success: a select-line update that did not
    // reach the port shows only as a new last error, and fails here.
    std::string run_record(const seq_record &r);
    // A set-variable record; throws Failure "what: why" (what empty: none).
    void set_variable(const std::string &name, const std::string &value, const std::string &what);

    // Opens the link for a command whose arguments are checked and whose
    // transfers move about `words` data words: refuses a waveform that
    // would pass its limit, then init, trace sink, chip, port (always, or
    // with select_port false only when --port is given), multiplexer and
    // clock.
    void open(uint64_t words = 0, bool select_port = true);
    void close();

    // The library's spelling of a variable name; throws UsageError for a
    // name it does not know.
    std::string variable_name(const std::string &name) const;
    // The library's spelling of a variable that is set to value. Throws
    // UsageError for an unknown name, a value of a known variable that the
    // library would read otherwise than it is written (not one whole number,
    // or for a clock not one decimal number), and a clock so slow that one
    // shift would allocate more than SHIFT_BYTES_MAX (unless
    // --allow-slow-clock).
    std::string check_setting(const std::string &name, const std::string &value) const;
    std::string getvar(const std::string &name) const;

    // Reads or writes words[0..n), n >= 1, at address in chunks of --chunk
    // words, one sequence each, with the progress bar. Returns an empty text
    // on success, else why it failed; *done: the words that went through.
    std::string transfer(int command, uint32_t address, uint16_t *words, size_t n, const char *label,
                         size_t *done = nullptr);

private:
    bool open_ = false;
};

} // namespace spitool
