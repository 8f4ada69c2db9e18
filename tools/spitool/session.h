// SPDX-License-Identifier: MIT
// The session: one loaded library, opened for one command with the port,
// multiplexer, chip and clock of the command line, and the library's last
// error turned into spitool's messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "options.h"
#include "spilib.h"

namespace spitool {

// The last-error record of the library at one moment.
struct ErrorState {
    int code = 0;
    std::string message;
    uint16_t address = 0;
    bool operator==(const ErrorState &) const = default;
};

class Session {
public:
    Session(const Options &o, SpiLib &lib) : opt_(o), lib_(lib) {}
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    ErrorState error_state() const;
    static std::string describe(const ErrorState &s);

    // Failure of an operation that started with the error record at before.
    [[noreturn]] void fail(const std::string &what, const ErrorState &before) const;

    int run_sequence(const seq_record *records, size_t count);
    void set_variable(const std::string &name, const std::string &value, const std::string &what);

    // Opens the link: init, trace sink, chip, port, multiplexer and clock.
    // select_port: select the port even without --port; leave_port: never
    // select it (the command opens the port device itself).
    void open(bool select_port, bool leave_port = false);
    void close();

    std::vector<var_entry> variables() const;
    // The table's spelling of a variable name, or empty when unknown.
    std::string variable_name(const std::string &name) const;
    std::string getvar(const std::string &name) const;

    // Reads or writes words[0..n), n >= 1, at address in chunks, one
    // sequence each. Returns how many words went through before a failure
    // (n on success) and sets *error to the failure text.
    size_t transfer(int command, uint32_t address, uint16_t *words, size_t n, const char *label,
                    std::string *error);

private:
    const Options &opt_;
    SpiLib &lib_;
    bool opened_ = false;
};

} // namespace spitool
