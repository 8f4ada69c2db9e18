// SPDX-License-Identifier: MIT
// --sim: the simulated board attached to port 1 of the loaded library's
// simulated port drivers, with its chip 0 memory kept in a file and the
// link optionally recorded as a VCD waveform. The Windows build has it but
// never starts it: its library has no simulated port drivers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fileio.h"
#include "options.h"
#include "sim_board.h"
#include "spilib.h"

namespace spitool {

class SimHost {
public:
    // Detaches the board if finish() did not run; the library must still be
    // loaded.
    ~SimHost();

    // Builds the board, loads the memory file when it exists, starts the VCD
    // file and attaches the board to port 1. Throws UsageError for a bad
    // memory file, Failure when the library cannot attach it.
    void start(const SpiLib &lib, const SimOptions &options);

    // Detaches the board, finishes the VCD file (and says so) unless the
    // run was stopped, and saves chip 0's memory to the memory file, each
    // whether or not the other could be written. Returns why those that
    // could not be were not. Call after the library has closed the port.
    std::vector<std::string> finish(bool stopped);

    static constexpr int PORT = 1;

    // Refuses a run whose data words alone would make the waveform pass
    // its limit: a UsageError, the waveform given up.
    void expect(uint64_t words);
    // Throws Failure, once, when the recording stopped (at its limit, or a
    // write failed): the run stops with it.
    void check();
    // Plays out on the board, its status bytes into *status, in the first
    // control call of those calls() makes the library's simulated driver
    // pass on, before that call's own bytes. False when none reached it.
    bool carry(const std::vector<uint8_t> &out, std::vector<uint8_t> *status,
               const std::function<void()> &calls);

private:
    static int play(void *context, const uint8_t *out, uint8_t *status, uint32_t n);
    // VCD: appends n output bytes and their status bytes (bit 6: data-out),
    // writing only the lines that change.
    void record(const uint8_t *out, const uint8_t *status, uint32_t n);

    const SpiLib *lib_ = nullptr;
    SimOptions options_;
    std::unique_ptr<sim_board> board_;
    bool attached_ = false;
    std::vector<std::pair<int, std::vector<uint16_t>>> readonly_; // chip, memory kept
    void detach();
    // Drops the waveform file; returns "cannot write FILE: why (...)".
    std::string give_up(const std::string &why);

    std::unique_ptr<OutputFile> vcd_; // while recording
    uint64_t vcd_bytes_ = 0;
    std::string stopped_; // why the recording stopped
    std::pair<const std::vector<uint8_t> *, std::vector<uint8_t> *> carried_{};
    std::vector<uint8_t> out_copy_;
    uint64_t time_ = 0; // output bytes recorded so far
    int state_ = -1;    // the lines last written (data lines, data-out as bit 8), -1 before

};

} // namespace spitool
