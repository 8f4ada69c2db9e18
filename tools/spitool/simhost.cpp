// SPDX-License-Identifier: MIT
#include "simhost.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileio.h"
#include "text.h"

namespace spitool {

namespace {

constexpr size_t MEMORY_BYTES = SIM_MEM_WORDS * 2;

SimHost *g_active = nullptr;

} // namespace

std::pair<int, uint32_t> parse_sim_fault(const std::string &text)
{
    int chip = 0;
    std::string name = text;
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        uint32_t c;
        if (!parse_unsigned(text.substr(0, colon), SIM_MAX_CHIPS - 1, &c))
            throw UsageError("bad chip in --sim-fault '" + text + "' (0 to 16)");
        chip = static_cast<int>(c);
        name = text.substr(colon + 1);
    }
    static const std::pair<const char *, uint32_t> FAULTS[] = {
        {"absent", SIM_FAULT_ABSENT}, {"bad-echo", SIM_FAULT_BAD_ECHO},
        {"stuck0", SIM_FAULT_STUCK0}, {"stuck1", SIM_FAULT_STUCK1},
        {"readonly", SIMHOST_FAULT_READONLY},
    };
    for (const auto &[fault_name, bits] : FAULTS)
        if (name == fault_name)
            return {chip, bits};
    throw UsageError("bad --sim-fault '" + text + "' (absent, bad-echo, stuck0, stuck1 or readonly)");
}

void SimHost::start(const SpiLib &lib, const SimOptions &options)
{
    if (!lib.sim_attach)
        throw Failure(lib.path + " has no simulated port drivers (simport_attach)");
    lib_ = &lib;
    options_ = options;
    board_ = std::make_unique<sim_board>();
    sim_board_init(board_.get(), options.wiring);
    for (sim_chip &c : board_->chips)
        c.stopped = options.stopped ? 1 : 0;
    for (const auto &[chip, fault] : options.faults) {
        board_->chips[chip].faults |= fault & ~SIMHOST_FAULT_READONLY;
        if (fault & SIMHOST_FAULT_READONLY)
            readonly_.push_back({chip, {}});
    }

    if (!options.memory_file.empty() && file_exists(options.memory_file)) {
        // Refused by its size before it is read; a device or pipe is read
        // only one word past the memory.
        InputFile in;
        in.open(options.memory_file);
        std::string bytes;
        bool whole = in.size() <= static_cast<long long>(MEMORY_BYTES) &&
                     in.read_upto(&bytes, MEMORY_BYTES + 1);
        if (!whole || bytes.size() != MEMORY_BYTES) {
            std::string held = in.size() >= 0 ? std::to_string(in.size())
                               : whole        ? std::to_string(bytes.size())
                                              : "more than " + std::to_string(MEMORY_BYTES);
            throw UsageError("simulated memory file " + options.memory_file + " holds " + held +
                             " bytes, not " + std::to_string(MEMORY_BYTES));
        }
        std::vector<uint16_t> words = parse_binary_words(bytes, options.memory_file);
        std::memcpy(board_->chips[0].mem, words.data(), MEMORY_BYTES);
    }
    if (!options.vcd_file.empty()) {
        vcd_.open(options.vcd_file);
        recording_ = true;
    }
    if (lib.sim_attach(PORT, &SimHost::play, this) != 0)
        throw Failure("cannot attach the simulated board to port " + std::to_string(PORT));
    attached_ = true;
    g_active = this;
    if (options.control_fail_after >= 0) {
        if (!lib.sim_fail_control_after)
            throw Failure(lib.path + " cannot inject driver failures (simport_fail_control_after)");
        lib.sim_fail_control_after(PORT, options.control_fail_after);
    }
}

SimHost *SimHost::active()
{
    return g_active;
}

SimHost::~SimHost()
{
    if (g_active == this)
        g_active = nullptr;
    if (attached_ && lib_->sim_detach)
        lib_->sim_detach(PORT);
}

int SimHost::play(void *context, const uint8_t *out, uint8_t *status, uint32_t n)
{
    SimHost *self = static_cast<SimHost *>(context);
    // A read-only chip answers writes but keeps its memory.
    for (auto &[chip, saved] : self->readonly_)
        saved.assign(self->board_->chips[chip].mem, self->board_->chips[chip].mem + SIM_MEM_WORDS);
    struct Restore {
        SimHost *self;
        ~Restore()
        {
            for (auto &[chip, saved] : self->readonly_)
                std::memcpy(self->board_->chips[chip].mem, saved.data(), MEMORY_BYTES);
        }
    } restore{self};
    if (!self->recording_)
        return sim_board_play(self->board_.get(), out, status, n);
    // The driver may hand over one buffer for both directions: keep the
    // output bytes before the board overwrites them with status bytes.
    self->out_copy_.assign(out, out + n);
    int ok = sim_board_play(self->board_.get(), self->out_copy_.data(), status, n);
    if (ok)
        self->vcd_.record(self->out_copy_.data(), status, n);
    return ok;
}

SimHost::Saved SimHost::finish()
{
    Saved saved;
    if (!board_)
        return saved;
    if (attached_ && lib_->sim_detach)
        lib_->sim_detach(PORT);
    attached_ = false;
    if (g_active == this)
        g_active = nullptr;
    if (recording_) {
        recording_ = false;
        try {
            vcd_.close();
        } catch (const Failure &e) {
            saved.vcd_error = e.what();
        }
    }
    if (!options_.memory_file.empty()) {
        try {
            write_output(options_.memory_file, binary_words(board_->chips[0].mem, SIM_MEM_WORDS));
        } catch (const Failure &e) {
            saved.memory_error = e.what();
        }
    }
    board_.reset();
    return saved;
}

} // namespace spitool
