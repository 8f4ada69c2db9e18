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

#include "noncopyable.h"
#include "sim_board.h"
#include "spilib.h"
#include "vcd.h"

namespace spitool {

struct SimOptions {
    bool enabled = false;
    std::string memory_file; // chip 0 memory, 128 KiB of little-endian words
    bool stopped = false;    // every chip's processor stopped
    uint8_t wiring = SIM_WIRING_DIRECT;
    std::vector<std::pair<int, uint32_t>> faults; // chip, SIM_FAULT_ bits
    std::string vcd_file;
    int32_t control_fail_after = -1; // the driver call after this many fails once
};

// A fault the tool adds to the board's own: the chip takes writes without
// storing them (read-only memory).
constexpr uint32_t SIMHOST_FAULT_READONLY = 0x80000000u;

// Parses a --sim-fault value "[CHIP:]NAME" (absent, bad-echo, stuck0,
// stuck1, readonly; chip 0 by default). Throws UsageError.
std::pair<int, uint32_t> parse_sim_fault(const std::string &text);

class SimHost : NonCopyable {
public:
    // Detaches the board if finish() did not run; the library must still be
    // loaded.
    ~SimHost();

    // Builds the board, loads the memory file when it exists, opens the VCD
    // file and attaches the board to port 1. Throws UsageError for a bad
    // memory file, Failure when the library cannot attach it.
    void start(const SpiLib &lib, const SimOptions &options);

    // What finish() could not write: each message empty when that file was
    // written or not asked for.
    struct Saved {
        std::string vcd_error, memory_error;
    };
    // Detaches the board, finishes the VCD file and saves chip 0's memory
    // to the memory file, each whether or not the other could be written.
    // Call after the library has closed the port.
    Saved finish();

    static constexpr int PORT = 1;

    // The host whose board is attached (between start and finish), or null.
    static SimHost *active();
    // Plays straight on the board, as the attached port would: for commands
    // that talk to the port themselves.
    int play_board(const uint8_t *out, uint8_t *status, uint32_t n) { return play(this, out, status, n); }

private:
    static int play(void *context, const uint8_t *out, uint8_t *status, uint32_t n);

    const SpiLib *lib_ = nullptr;
    SimOptions options_;
    std::unique_ptr<sim_board> board_;
    bool attached_ = false;
    VcdWriter vcd_;
    bool recording_ = false;
    std::vector<uint8_t> out_copy_;
    std::vector<std::pair<int, std::vector<uint16_t>>> readonly_; // chip, memory kept
};

} // namespace spitool
