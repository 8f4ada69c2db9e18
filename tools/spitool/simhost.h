// SPDX-License-Identifier: MIT
// --sim: the simulated board attached to port 1 of the loaded library's
// simulated port drivers, with its chip 0 memory kept in a file and the
// link optionally recorded as a VCD waveform. Native builds only.
#pragma once

#include <cstdint>
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

    // Detaches the board, finishes the VCD file (and says so) and saves chip
    // 0's memory to the memory file, each whether or not the other could be
    // written. Returns why those that could not be were not. Call after the
    // library has closed the port.
    std::vector<std::string> finish();

    static constexpr int PORT = 1;

    // Plays straight on the board, as the attached port would: for commands
    // that talk to the port themselves.
    int play_board(const uint8_t *out, uint8_t *status, uint32_t n) { return play(this, out, status, n); }

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
    std::unique_ptr<OutputFile> vcd_; // while recording
    std::vector<uint8_t> out_copy_;
    uint64_t time_ = 0; // output bytes recorded so far
    int lines_ = -1;    // last data-line byte written, -1 before the first
    int miso_ = -1;
};

} // namespace spitool
