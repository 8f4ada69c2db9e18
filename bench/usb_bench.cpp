// SPDX-License-Identifier: MIT
// The USB edition through the FTDI chip model (linked in, in front of the
// real libftdi1): USB transfers per spifns_sequence record and per word, host
// time per word, and the wall time per word that an FT232R and an FT232H
// would take, estimated from those transfers:
//   every write (bulk OUT) waits for the next USB frame, every read (bulk IN)
//   for the next frame after its samples are ready; samples ending in a
//   partly filled packet wait for the latency timer (2 ms) first; the bytes
//   themselves take 1 us each at the default rate.
// Frames: 1 ms at full speed (FT232R), 125 us at high speed (FT232H).
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ftdi_model.h"
#include "loaded_library.h"
#include "records.h"
#include "spifns.h"

namespace {

constexpr double LATENCY_S = 2e-3;

void usb_record(benchmark::State &state, const char *model, int command)
{
    // The USB edition over the chip model configured as given, with no settings file.
    setenv("SPIFNS_USB_CONFIG", "/dev/null", 1);
    if (!ftdi_model_configure(model)) {
        state.SkipWithError("the chip model refused its configuration");
        return;
    }
    loaded_library lib(SPIFNS_USB_SO_PATH);
    if (lib.sequence == nullptr || lib.init() != 0 || run_setvar("SPIPORT", "1", lib.sequence) != 0) {
        state.SkipWithError("the USB edition did not open the modelled adapter");
        return;
    }
    const uint16_t words = static_cast<uint16_t>(state.range(0));
    std::vector<uint16_t> buffer(words, 0x5A5A);
    const seq_record r = transfer(command, 0x1000, words, buffer.data());
    ftdi_chip &chip = ftdi_model_adapter_at(0)->channels[0].chip;
    const ftdi_chip_stats before = chip.stats;
    for (auto _ : state)
        if (lib.sequence(&r, 1) != 0) {
            state.SkipWithError("the record failed");
            break;
        }
    const double n = static_cast<double>(state.iterations());
    const double writes = chip.stats.writes - before.writes;
    const double reads = chip.stats.reads - before.reads;
    const double short_reads = chip.stats.short_reads - before.short_reads;
    const double bytes = static_cast<double>(chip.stats.bytes_out - before.bytes_out);
    const double frame = chip.info->packet == 512 ? 125e-6 : 1e-3;
    const double wall = (writes + reads) * frame + short_reads * LATENCY_S + bytes / ftdi_chip_byte_rate(&chip);
    state.counters["usb_per_record"] = (writes + reads) / n;
    state.counters["usb_per_word"] = (writes + reads) / (n * words);
    state.counters["bytes_per_word"] = bytes / (n * words);
    state.counters["host_s_per_word"] =
        benchmark::Counter(words, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["chip_s_per_word"] = wall / (n * words);
    if (chip.stats.stalls != before.stalls)
        state.SkipWithError("the chip stalled: samples were not read back in time");
    lib.close(); // the port handed back: the neutral byte, bit mode reset
}

void UsbReadRecord232R(benchmark::State &state) { usb_record(state, "R1:232R", SEQ_READ); }
void UsbReadRecord232H(benchmark::State &state) { usb_record(state, "H1:232H", SEQ_READ); }
void UsbWriteRecord232R(benchmark::State &state) { usb_record(state, "R1:232R", SEQ_WRITE); }

BENCHMARK(UsbReadRecord232R)->Arg(1)->Arg(16)->Arg(256);
BENCHMARK(UsbReadRecord232H)->Arg(1)->Arg(16)->Arg(256);
BENCHMARK(UsbWriteRecord232R)->Arg(1)->Arg(16)->Arg(256);

} // namespace

BENCHMARK_MAIN();
