// SPDX-License-Identifier: MIT
// Benchmarks of the library's own cost and of the simulated board.
//
// - shift_bits per output byte at several periods, beside memset of as many
//   bytes: at long periods the waveform is long runs of identical bytes and
//   should cost about what filling them costs;
// - read and write records through spifns_sequence, per word, with and
//   without a trace sink, against a driver that does no modelling (it only
//   fills the status bytes) and against the simulated board;
// - sim_board_play per output byte, replaying the control calls of real
//   transfers;
// - the waveform buffers of one shift: allocations and peak live bytes,
//   against two buffers of (bit count + 4) x 2 x period bytes.
//
// After the table a summary prints the figures that have targets, as ratios.
// The run fails (exit status 1) when a benchmark reports an error: a transfer
// that did not succeed, or a shift whose allocations are not the expected
// pair.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "load_state.h"
#include "records.h"
#include "sim_board.h"

namespace {

// A driver that does no modelling: every status byte gets the same value.
// 0x40 holds the data-out line high, so every received bit is 1.
struct fill_driver {
    uint8_t level;
    static int play(void *context, const uint8_t *, uint8_t *status, uint32_t n)
    {
        memset(status, static_cast<const fill_driver *>(context)->level, n);
        return 1;
    }
};

// Fills only the status bytes that the engine samples (every 2 x period
// bytes from the first), so that a shift costs the library's work alone:
// building the waveform, the buffers, the control call and the sampling.
struct sample_only_driver {
    uint32_t period;
    static int play(void *context, const uint8_t *, uint8_t *status, uint32_t n)
    {
        const size_t stride = static_cast<size_t>(static_cast<const sample_only_driver *>(context)->period) * 2;
        for (size_t i = 0; i < n; i += stride)
            status[i] = 0;
        return 1;
    }
};

// Restores the load state and selects port 1 with the given driver.
bool open_link(simport_play_fn play, void *context)
{
    return_to_load_state();
    return simport_attach(1, play, context) == 0 && select_port(1);
}

void SPIFNS_CALL discard_trace(const char *line)
{
    benchmark::DoNotOptimize(line);
}

constexpr uint32_t SHIFT_BITS = 16;
// Output bytes of a 16-bit shift without the trailer: idle + 2 per bit.
constexpr uint32_t shift_bytes(uint32_t period)
{
    return period * (2 * SHIFT_BITS + 1);
}

void set_per_byte(benchmark::State &state, double bytes_per_iteration)
{
    state.counters["bytes"] = bytes_per_iteration;
    state.counters["per_byte"] = benchmark::Counter(
        bytes_per_iteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes_per_iteration));
}

// ---------------------------------------------------------------------------
// shift_bits beside memset

// range(0): period; range(1): 0 for the filling driver, 1 for the driver that
// fills only the sampled status bytes.
void BM_ShiftBits(benchmark::State &state)
{
    const uint32_t period = static_cast<uint32_t>(state.range(0));
    fill_driver fill{0x00};
    sample_only_driver sparse{period};
    const bool opened = state.range(1) == 0 ? open_link(fill_driver::play, &fill)
                                            : open_link(sample_only_driver::play, &sparse);
    if (!opened) {
        state.SkipWithError("port did not open");
        return;
    }
    link_state.shift_period = period;
    uint32_t value = 0xA5C3;
    for (auto _ : state) {
        uint32_t sampled;
        if (!shift_bits(value, SHIFT_BITS, &sampled, false)) {
            state.SkipWithError("shift failed");
            break;
        }
        benchmark::DoNotOptimize(sampled);
        value ^= 0x5A5A;
    }
    set_per_byte(state, shift_bytes(period));
    return_to_load_state();
}

// range(0): period; range(1): buffers of a shift's output bytes to fill, 1
// (the waveform) or 2 (the waveform and the status bytes a driver returns).
void BM_Memset(benchmark::State &state)
{
    const uint32_t period = static_cast<uint32_t>(state.range(0));
    const uint32_t n = shift_bytes(period);
    const int buffers = static_cast<int>(state.range(1));
    std::unique_ptr<uint8_t[]> out(new uint8_t[n]), status(new uint8_t[n]);
    uint8_t value = 0x10;
    for (auto _ : state) {
        memset(out.get(), value, n);
        if (buffers == 2)
            memset(status.get(), value, n);
        benchmark::DoNotOptimize(out.get());
        benchmark::DoNotOptimize(status.get());
        benchmark::ClobberMemory();
        value ^= 0x80;
    }
    // Per output byte of the shift, like BM_ShiftBits.
    set_per_byte(state, n);
}

// The floor for any writer of the waveform: the 2 x 16 + 1 segments of a
// 16-bit shift, each one memset of `period` bytes into one buffer.
void BM_MemsetSegments(benchmark::State &state)
{
    const uint32_t period = static_cast<uint32_t>(state.range(0));
    const uint32_t n = shift_bytes(period);
    std::unique_ptr<uint8_t[]> out(new uint8_t[n]);
    uint8_t value = 0x10;
    for (auto _ : state) {
        uint8_t *at = out.get();
        for (uint32_t segment = 0; segment < 2 * SHIFT_BITS + 1; segment++, at += period)
            memset(at, value ^ (segment & 1 ? 0x80 : 0), period);
        benchmark::DoNotOptimize(out.get());
        benchmark::ClobberMemory();
        value ^= 0x40;
    }
    set_per_byte(state, n);
}

// ---------------------------------------------------------------------------
// Sequence records, per word

enum driver_kind { NO_MODEL, BOARD };

struct board_holder {
    std::unique_ptr<sim_board> board = std::make_unique<sim_board>();
};

void run_record(benchmark::State &state, int32_t command, driver_kind kind)
{
    const uint16_t words = static_cast<uint16_t>(state.range(0));
    const bool with_trace = state.range(1) != 0;
    fill_driver fill{0x40};
    board_holder holder;
    bool opened;
    if (kind == BOARD) {
        sim_board_init(holder.board.get(), SIM_WIRING_DIRECT);
        opened = open_link(sim_board_play, holder.board.get());
    } else {
        opened = open_link(fill_driver::play, &fill);
    }
    if (!opened) {
        state.SkipWithError("port did not open");
        return;
    }
    // With the data-out line held high every received bit is 1, so the echo
    // must read 0xFFFF: read command byte 0xFF and an address of 0xFFxx.
    uint16_t address = 0x1000;
    if (kind == NO_MODEL) {
        link_state.read_cmd_bits = 0xFF;
        address = 0xFF00;
    }
    if (with_trace)
        spifns_set_debug_callback(discard_trace);

    std::vector<uint16_t> buffer(words);
    for (uint16_t i = 0; i < words; i++)
        buffer[i] = static_cast<uint16_t>(i * 0x9E37u + 1);
    const seq_record record = transfer(command, address, words, buffer.data());

    for (auto _ : state) {
        if (spifns_sequence(&record, 1) != 0) {
            state.SkipWithError("record failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["words"] = words;
    state.counters["per_word"] = benchmark::Counter(
        words, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * words));
    return_to_load_state();
}

// ---------------------------------------------------------------------------
// The simulated board per output byte

// Keeps the bytes of every control call while a board answers them.
struct capture_driver {
    sim_board *board;
    std::vector<std::vector<uint8_t>> calls;
    static int play(void *context, const uint8_t *out, uint8_t *status, uint32_t n)
    {
        auto *self = static_cast<capture_driver *>(context);
        self->calls.emplace_back(out, out + n);
        return sim_board_play(self->board, out, status, n);
    }
};

// The control calls of a 256-word write and a 256-word read at one period.
bool capture_transfers(uint32_t period, std::vector<std::vector<uint8_t>> &calls)
{
    auto board = std::make_unique<sim_board>();
    sim_board_init(board.get(), SIM_WIRING_DIRECT);
    capture_driver capture{board.get(), {}};
    if (!open_link(capture_driver::play, &capture))
        return false;
    link_state.shift_period = period;
    std::vector<uint16_t> words(256), back(256);
    for (size_t i = 0; i < words.size(); i++)
        words[i] = static_cast<uint16_t>(i * 0x3B + 7);
    seq_record records[2]{};
    records[0].command = SEQ_WRITE;
    records[1].command = SEQ_READ;
    records[0].address = records[1].address = 0x2000;
    records[0].word_count = records[1].word_count = 256;
    records[0].words = words.data();
    records[1].words = back.data();
    const bool ok = spifns_sequence(records, 2) == 0 && back == words;
    return_to_load_state();
    calls = std::move(capture.calls);
    return ok;
}

void BM_BoardPlay(benchmark::State &state)
{
    const uint32_t period = static_cast<uint32_t>(state.range(0));
    std::vector<std::vector<uint8_t>> calls;
    if (!capture_transfers(period, calls)) {
        state.SkipWithError("capture failed");
        return;
    }
    size_t total = 0, largest = 0;
    for (const auto &c : calls) {
        total += c.size();
        largest = std::max(largest, c.size());
    }
    std::vector<uint8_t> status(largest);
    auto board = std::make_unique<sim_board>();
    sim_board_init(board.get(), SIM_WIRING_DIRECT);
    for (auto _ : state) {
        for (const auto &c : calls)
            sim_board_play(board.get(), c.data(), status.data(), static_cast<uint32_t>(c.size()));
        benchmark::DoNotOptimize(status.data());
    }
    // Every replay writes the same words again and reads them back.
    if (board->stats.words_written != board->stats.words_read || board->stats.words_read == 0)
        state.SkipWithError("board did not see the transfers");
    set_per_byte(state, static_cast<double>(total));
}

// ---------------------------------------------------------------------------
// Waveform buffers of one shift

void BM_ShiftBuffers(benchmark::State &state)
{
    const uint32_t period = static_cast<uint32_t>(state.range(0));
    const uint32_t bits = static_cast<uint32_t>(state.range(1));
    const bool trailer = state.range(2) != 0;
    fill_driver drv{0x00};
    if (!open_link(fill_driver::play, &drv)) {
        state.SkipWithError("port did not open");
        return;
    }
    link_state.shift_period = period;
    const uint64_t per_buffer = (static_cast<uint64_t>(bits) + 4) * 2 * period;

    uint64_t peak = 0;
    uint32_t allocations = 0;
    bool exact = true;
    for (auto _ : state) {
        const uint32_t before = simport_alloc_count();
        simport_clear_alloc_peak();
        if (!shift_bits(0x12345, bits, nullptr, trailer)) {
            state.SkipWithError("shift failed");
            break;
        }
        allocations = simport_alloc_count() - before;
        peak = simport_alloc_peak_bytes() - simport_alloc_live_bytes();
        exact = exact && allocations == 2 && peak == 2 * per_buffer && simport_alloc_live_bytes() == 0;
    }
    state.counters["allocs"] = allocations;
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["budget_bytes"] = static_cast<double>(2 * per_buffer);
    if (!exact)
        state.SkipWithError("allocations differ from two buffers of (bits + 4) x 2 x period");
    return_to_load_state();
}

BENCHMARK(BM_ShiftBits)->ArgsProduct({{1, 2, 49, 1000}, {0, 1}})->ArgNames({"period", "sample_only"});
BENCHMARK(BM_Memset)->ArgsProduct({{1, 2, 49, 1000}, {1, 2}})->ArgNames({"period", "buffers"});
BENCHMARK(BM_MemsetSegments)->Arg(49)->Arg(1000);
// Records of 1, 16 and 256 words: against the driver that does no modelling
// without and with a trace sink, against the board without.
const bool records_registered = [] {
    const struct {
        const char *name;
        int32_t command;
        driver_kind kind;
    } records[] = {{"BM_ReadRecord", SEQ_READ, NO_MODEL},
                   {"BM_WriteRecord", SEQ_WRITE, NO_MODEL},
                   {"BM_ReadRecordBoard", SEQ_READ, BOARD},
                   {"BM_WriteRecordBoard", SEQ_WRITE, BOARD}};
    for (const auto &r : records)
        benchmark::RegisterBenchmark(r.name, run_record, r.command, r.kind)
            ->ArgsProduct({{1, 16, 256}, r.kind == BOARD ? std::vector<int64_t>{0} : std::vector<int64_t>{0, 1}})
            ->ArgNames({"words", "trace"});
    return true;
}();
BENCHMARK(BM_BoardPlay)->Arg(1)->Arg(2)->Arg(49);
BENCHMARK(BM_ShiftBuffers)
    ->ArgsProduct({{1, 2, 49, 1000}, {0, 2, 16, 31}, {0, 1}})
    ->ArgNames({"period", "bits", "trailer"});

// ---------------------------------------------------------------------------
// Summary

// The console table as usual; every run is also kept for the summary.
class keeping_reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, Run> runs;
    int errors = 0;
    void ReportRuns(const std::vector<Run> &report) override
    {
        ConsoleReporter::ReportRuns(report);
        for (const Run &run : report) {
            if (run.error_occurred)
                errors++;
            else
                runs[run.benchmark_name()] = run;
        }
    }
};

// Nanoseconds per unit of a run's counter, or a negative value when absent.
double per_unit(const keeping_reporter &r, const std::string &name, const char *unit_counter)
{
    // With --benchmark_repetitions the median stands for the run.
    auto it = r.runs.find(name + "_median");
    if (it == r.runs.end())
        it = r.runs.find(name);
    if (it == r.runs.end())
        return -1;
    const auto &run = it->second;
    auto c = run.counters.find(unit_counter);
    if (c == run.counters.end() || c->second.value <= 0)
        return -1;
    // Adjusted real time is in the run's time unit (ns by default).
    double ns = run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    return ns / c->second.value;
}

int print_summary(const keeping_reporter &r)
{
    constexpr double PORT_WORD_NS = 33000.0; // the port's time per word
    int missed = 0;
    auto verdict = [&](bool ok) {
        if (!ok)
            missed++;
        return ok ? "met" : "MISSED";
    };
    printf("\nSummary (ns per unit of real time)\n");
    printf("  shift_bits, 16 bits, ns per output byte: library alone (driver fills only the sampled\n"
           "  status bytes) beside memset of the waveform; with a driver that fills every status\n"
           "  byte beside memset of the waveform and of the status bytes\n");
    for (int period : {1, 2, 49, 1000}) {
        const std::string p = "period:" + std::to_string(period);
        const double alone = per_unit(r, "BM_ShiftBits/" + p + "/sample_only:1", "bytes");
        const double fill1 = per_unit(r, "BM_Memset/" + p + "/buffers:1", "bytes");
        const double full = per_unit(r, "BM_ShiftBits/" + p + "/sample_only:0", "bytes");
        const double fill2 = per_unit(r, "BM_Memset/" + p + "/buffers:2", "bytes");
        if (alone <= 0 || fill1 <= 0 || full <= 0 || fill2 <= 0)
            continue;
        printf("  period %4d: alone %7.3f vs memset %7.3f, ratio %6.2f | filled %7.3f vs 2 x memset %7.3f, "
               "ratio %6.2f",
               period, alone, fill1, alone / fill1, full, fill2, full / fill2);
        if (period == 1000)
            printf(" (target < 2: %s, %s)", verdict(alone / fill1 < 2.0), verdict(full / fill2 < 2.0));
        printf("\n");
        const double segments = per_unit(r, "BM_MemsetSegments/" + std::to_string(period), "bytes");
        if (segments > 0)
            printf("               33 memsets of %d bytes: %7.3f ns/byte, %4.2f x memset; library alone %4.2f x "
                   "that\n",
                   period, segments, segments / fill1, alone / segments);
    }
    for (const char *kind : {"BM_ReadRecord", "BM_WriteRecord"}) {
        for (int trace : {0, 1}) {
            printf("  %-15s trace %d:", kind + 3, trace);
            for (int words : {1, 16, 256}) {
                const double ns = per_unit(
                    r, std::string(kind) + "/words:" + std::to_string(words) + "/trace:" + std::to_string(trace),
                    "words");
                if (ns > 0)
                    printf("  %3d words %8.1f ns/word", words, ns);
            }
            printf("\n");
        }
    }
    double worst_long_read = -1;
    for (int trace : {0, 1})
        worst_long_read =
            std::max(worst_long_read, per_unit(r, "BM_ReadRecord/words:256/trace:" + std::to_string(trace), "words"));
    if (worst_long_read > 0)
        printf("  long read, library's own cost: %.1f ns/word = %.3f%% of the port's 33 us per word "
               "(target < 0.5%%: %s)\n",
               worst_long_read, 100.0 * worst_long_read / PORT_WORD_NS, verdict(worst_long_read < 0.005 * PORT_WORD_NS));
    for (int period : {1, 2, 49}) {
        const double board = per_unit(r, "BM_BoardPlay/" + std::to_string(period), "bytes");
        if (board > 0)
            printf("  sim_board_play period %2d: %6.3f ns/output byte (target < 5: %s)\n", period, board,
                   verdict(board < 5.0));
    }
    printf("  benchmarks with errors: %d; targets missed: %d\n", r.errors, missed);
    return r.errors;
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    keeping_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return print_summary(reporter) == 0 ? 0 : 1;
}
