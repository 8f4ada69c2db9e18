// SPDX-License-Identifier: MIT
// --sim: the simulated board attached to port 1 of the loaded library's
// simulated port drivers, with its chip 0 memory kept in a file and the
// link optionally recorded as a VCD waveform. Native builds only.
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
#include "text.h"

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
    void expect(uint64_t words)
    {
        const uint64_t bytes = words * VCD_WORD_BYTES;
        if (!vcd_ || bytes <= limit())
            return;
        const std::string e = vcd_->failure(strprintf("the waveform would take at least %llu MiB, more than "
                                                      "--vcd-limit %u", (unsigned long long)(bytes >> 20),
                                                      options_.vcd_limit));
        vcd_.reset();
        throw UsageError(e);
    }
    // Throws Failure, once, when the recording stopped (at its limit, or a
    // write failed): the run stops with it.
    void check()
    {
        if (!stopped_.empty())
            throw Failure(std::exchange(stopped_, ""));
    }
    // Plays out on the board, its status bytes into *status, in the next
    // control call that call() makes the library's simulated driver pass
    // on, before that call's own bytes. False when none reached the board.
    bool carry(const std::vector<uint8_t> &out, std::vector<uint8_t> *status, const std::function<void()> &call);

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
    // The least a data word adds to the waveform: its 32 clock edges, each
    // a time step line and the clock's line ("#1234567\nk1\n").
    static constexpr uint64_t VCD_WORD_BYTES = 32 * 11;
    uint64_t limit() const { return uint64_t{options_.vcd_limit} << 20; }

    std::unique_ptr<OutputFile> vcd_; // while recording
    uint64_t vcd_bytes_ = 0;
    std::string stopped_; // why the recording stopped
    std::pair<const std::vector<uint8_t> *, std::vector<uint8_t> *> carried_{};
    std::vector<uint8_t> out_copy_;
    uint64_t time_ = 0; // output bytes recorded so far
    int lines_ = -1;    // last data-line byte written, -1 before the first
    int miso_ = -1;
};

} // namespace spitool
