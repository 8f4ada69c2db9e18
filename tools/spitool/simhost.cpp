// SPDX-License-Identifier: MIT
#include "simhost.h"

#include <cstring>
#include <filesystem>

#include "text.h"
#include "wordfile.h"

namespace spitool {

namespace {

constexpr size_t MEMORY_BYTES = SIM_MEM_WORDS * 2;
// The least a data word adds to a waveform: its 32 clock edges, each a time
// step line and the clock's line ("#1234567\nk1\n").
constexpr uint64_t VCD_WORD_BYTES = 32 * 11;

// VCD names of the data lines by bit: bit 0 chip select, bit 1 the second
// select line, bits 1 to 5 double as the multiplexer channel (MUXn names the
// data line bit n where it has no other use), bit 4 the auxiliary line, bit
// 6 data to the chip, bit 7 the clock; then the chip's data-out line. The
// identifiers are letters only, so no reader can take one for a keyword or
// a time stamp.
const char *const LINE_NAMES[9] = {"CS", "SEL2", "MUX2", "MUX3", "AUX", "MUX5", "MOSI", "CLK", "MISO"};
const char LINE_IDS[9] = {'c', 's', 'm', 'n', 'a', 'o', 'd', 'k', 'i'};

// "1k\n": line n at level.
std::string level(int n, char value) { return {value, LINE_IDS[n], '\n'}; }

// The first values of all lines: bit n of state is line n; -1: unknown.
std::string first_values(int state)
{
    std::string t = "#0\n$dumpvars\n";
    for (int b = 0; b < 9; b++)
        t += level(b, state < 0 ? 'x' : char('0' + ((state >> b) & 1)));
    return t + "$end\n";
}

} // namespace

void SimHost::start(const SpiLib &lib, const SimOptions &options)
{
    if (!lib.sim_attach)
        throw Failure(lib.path + " has no simulated port drivers (simport_attach)");
    lib_ = &lib;
    options_ = options;
    board_ = std::make_unique<sim_board>();
    sim_board_init(board_.get(), static_cast<uint8_t>(options.wiring));
    for (sim_chip &c : board_->chips)
        c.stopped = options.stopped ? 1 : 0;
    for (const auto &[chip, fault] : options.faults) {
        board_->chips[chip].faults |= fault & ~FAULT_READONLY;
        if (fault & FAULT_READONLY)
            readonly_.push_back({chip, {}});
    }
    std::error_code ec;
    if (!options.memory_file.empty() && std::filesystem::exists(options.memory_file, ec)) {
        // Refused by its size before it is read; a device or pipe is read
        // only one byte past the memory.
        InputFile in(options.memory_file);
        std::string bytes;
        in.read(&bytes, MEMORY_BYTES, "a simulated memory file");
        if (bytes.size() != MEMORY_BYTES)
            throw UsageError(strprintf("simulated memory file %s holds %u bytes, not %u", in.name().c_str(),
                                       unsigned(bytes.size()), unsigned(MEMORY_BYTES)));
        std::memcpy(board_->chips[0].mem, parse_binary_words(bytes, in.name()).data(), MEMORY_BYTES);
    }
    if (!options.vcd_file.empty()) {
        vcd_ = std::make_unique<OutputFile>();
        vcd_->open(options.vcd_file);
        std::string header = "$comment\n"
                             "  spitool: parallel port data lines and the chip's data-out line (MISO),\n"
                             "  one time step per output byte; SPI mode 3, chip select active low\n"
                             "$end\n$version spitool $end\n$timescale 1 us $end\n$scope module lpt $end\n";
        for (int b = 0; b < 9; b++)
            header += strprintf("$var wire 1 %c %s $end\n", LINE_IDS[b], LINE_NAMES[b]);
        vcd_->write(header + "$upscope $end\n$enddefinitions $end\n");
    }
    if (lib.sim_attach(PORT, &SimHost::play, this) != 0)
        throw Failure("cannot attach the simulated board to port " + std::to_string(PORT));
    attached_ = true;
    if (options.control_fail_after >= 0) {
        if (!lib.sim_fail_control_after)
            throw Failure(lib.path + " cannot inject driver failures (simport_fail_control_after)");
        lib.sim_fail_control_after(PORT, options.control_fail_after);
    }
}

SimHost::~SimHost() { detach(); }

void SimHost::detach()
{
    if (std::exchange(attached_, false) && lib_->sim_detach)
        lib_->sim_detach(PORT);
}

int SimHost::play(void *context, const uint8_t *out, uint8_t *status, uint32_t n)
{
    SimHost *self = static_cast<SimHost *>(context);
    if (const auto [bytes, answer] = std::exchange(self->carried_, {}); bytes)
        if (!play(self, bytes->data(), answer->data(), uint32_t(bytes->size())))
            return 0;
    sim_chip *chips = self->board_->chips;
    // A read-only chip answers writes but keeps its memory.
    for (auto &[chip, saved] : self->readonly_)
        saved.assign(chips[chip].mem, chips[chip].mem + SIM_MEM_WORDS);
    // The driver may hand over one buffer for both directions: keep the
    // output bytes before the board overwrites them with status bytes.
    self->out_copy_.assign(out, out + n);
    const int ok = sim_board_play(self->board_.get(), self->out_copy_.data(), status, n);
    for (auto &[chip, saved] : self->readonly_)
        std::memcpy(chips[chip].mem, saved.data(), MEMORY_BYTES);
    if (ok && self->vcd_)
        self->record(self->out_copy_.data(), status, n);
    return ok;
}

void SimHost::record(const uint8_t *out, const uint8_t *status, uint32_t n)
{
    std::string t;
    for (uint32_t i = 0; i < n; i++, time_++) {
        const int state = out[i] | ((status[i] & STATUS_MISO) ? 0x100 : 0);
        if (state_ < 0) {
            t += first_values(state);
        } else if (state != state_) {
            t += "#" + std::to_string(time_) + "\n";
            for (int b = 0; b < 9; b++)
                if (((state ^ state_) >> b) & 1)
                    t += level(b, char('0' + ((state >> b) & 1)));
        }
        state_ = state;
    }
    // Up to the limit, or to the first failed write: then the file is given
    // up at once and the run stops.
    const bool full = (vcd_bytes_ += t.size()) > uint64_t{options_.vcd_limit} << 20;
    if (const int e = full ? 0 : vcd_->write(t); e || full)
        stopped_ = give_up(e ? std::strerror(e) : strprintf("the waveform reached --vcd-limit %u MiB",
                                                            options_.vcd_limit)) + "; the run stopped there";
}

void SimHost::expect(uint64_t words)
{
    const unsigned long long bytes = words * VCD_WORD_BYTES;
    if (vcd_ && bytes > uint64_t{options_.vcd_limit} << 20)
        throw UsageError(give_up(strprintf("the waveform would take at least %llu MiB, more than "
                                           "--vcd-limit %u", bytes >> 20, options_.vcd_limit)));
}

void SimHost::check()
{
    if (!stopped_.empty())
        throw Failure(std::exchange(stopped_, ""));
}

std::string SimHost::give_up(const std::string &why)
{
    const std::string e = vcd_->failure(why);
    vcd_.reset();
    return e;
}

bool SimHost::carry(const std::vector<uint8_t> &out, std::vector<uint8_t> *status,
                    const std::function<void()> &calls)
{
    carried_ = {&out, status};
    calls();
    return !std::exchange(carried_, {}).first;
}

std::vector<std::string> SimHost::finish(bool stopped)
{
    std::vector<std::string> failed;
    if (!board_)
        return failed;
    detach();
    try {
        if (vcd_ && stopped)
            failed.push_back(give_up("the run was stopped"));
        else if (vcd_) {
            // Nothing played: every line unknown. The last byte lasts one
            // time step too.
            vcd_->write((state_ < 0 ? first_values(-1) : "") + "#" +
                        std::to_string(std::max<uint64_t>(time_, 1)) + "\n");
            vcd_->commit();
            report("waveform written to " + options_.vcd_file);
        }
    } catch (const Failure &e) {
        failed.push_back(e.what());
    }
    if (!stopped_.empty())
        failed.push_back(stopped_);
    vcd_.reset();
    try {
        if (!options_.memory_file.empty())
            write_output(options_.memory_file, binary_words(board_->chips[0].mem, SIM_MEM_WORDS));
    } catch (const Failure &e) {
        failed.push_back(e.what());
    }
    board_.reset();
    return failed;
}

} // namespace spitool
