// SPDX-License-Identifier: MIT
// The library on a Linux parallel port, through libppdev_sim.so (preloaded):
// one spifns_sequence record of 1, 16 or 256 words on /dev/parport0, with
//   req_per_byte   ppdev requests per output byte (each output byte is one
//                  PPWDATA; the goal is exactly 2: that and one PPRSTATUS);
//   req_per_word   requests per word, framing included;
//   host_us_word   processor time per word here, the modelled requests included;
//   lib_us_word    the same without them: host time less req_per_word x the
//                  cost of one modelled request (measured on a device of its
//                  own), so the library and its back end alone;
//   port_us_word   the estimate for a real port: lib_us_word plus
//                  req_per_word x (one real ioctl system call, measured here
//                  as one that the kernel refuses at once, + PORT_ACCESS_US
//                  for the port access itself).
// A play that makes any request besides its pairs fails the run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "loaded_library.h"
#include "ppdev_sim.h"
#include "records.h"
#include "spifns.h"

#pragma weak ppdev_sim_setup
#pragma weak ppdev_sim_stats

namespace {

// One access to a parallel port's register over the ISA bus or its LPC
// successor (see docs/performance.md).
constexpr double PORT_ACCESS_US = 1.0;

// This thread's processor time (user and system), in nanoseconds: on a
// machine shared with other work, wall time would count the waits as well.
double thread_ns()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <typename Body>
double ns_per_call(int calls, Body body)
{
    const double start = thread_ns();
    for (int i = 0; i < calls; ++i)
        body();
    return (thread_ns() - start) / calls;
}

// One modelled request: PPWDATA and PPRSTATUS pairs on /dev/parport1.
double modelled_request_ns()
{
    const int fd = open("/dev/parport1", O_RDWR | O_CLOEXEC);
    if (fd < 0 || ioctl(fd, PPCLAIM) != 0)
        return -1;
    unsigned char data = 0x11, status = 0;
    const double pair = ns_per_call(200000, [&] {
        ioctl(fd, PPWDATA, &data);
        ioctl(fd, PPRSTATUS, &status);
    });
    ioctl(fd, PPRELEASE);
    close(fd);
    return pair / 2;
}

// One ioctl system call, straight to the kernel, which refuses it at once.
double syscall_ns()
{
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    unsigned char status = 0;
    const double ns = ns_per_call(200000, [&] { syscall(SYS_ioctl, fd, PPRSTATUS, &status); });
    close(fd);
    return ns;
}

void ppdev_record(benchmark::State &state, int command)
{
    if (ppdev_sim_setup == nullptr || ppdev_sim_setup("ports=2") != 0) {
        state.SkipWithError("run with libppdev_sim.so preloaded");
        return;
    }
    static const double modelled = modelled_request_ns();
    static const double kernel = syscall_ns();
    loaded_library lib(SPIFNS_SO_PATH);
    if (lib.sequence == nullptr || run_setvar("SPIPORT", "1", lib.sequence) != 0) {
        state.SkipWithError("the library did not open /dev/parport0");
        return;
    }
    const uint16_t words = static_cast<uint16_t>(state.range(0));
    std::vector<uint16_t> buffer(words, 0x5A5A);
    const seq_record r = transfer(command, 0x1000, words, buffer.data());
    ppdev_sim_counts before{}, after{};
    ppdev_sim_stats(0, &before);
    const double start = thread_ns();
    for (auto _ : state)
        if (lib.sequence(&r, 1) != 0) {
            state.SkipWithError("the record failed");
            return;
        }
    const double elapsed_us = (thread_ns() - start) / 1000;
    ppdev_sim_stats(0, &after);
    const double n = static_cast<double>(state.iterations()) * words;
    const double requests = after.requests - before.requests;
    const double pairs = after.pairs - before.pairs;
    if (requests != 2 * pairs || after.data_writes - before.data_writes != pairs) {
        state.SkipWithError("a play made requests besides one PPWDATA and one PPRSTATUS per output byte");
        return;
    }
    const double per_word = requests / n, host = elapsed_us / n;
    const double own = host - per_word * modelled / 1000;
    state.counters["req_per_byte"] = requests / pairs;
    state.counters["req_per_word"] = per_word;
    state.counters["host_us_word"] = host;
    state.counters["lib_us_word"] = own;
    state.counters["port_us_word"] = own + per_word * (kernel / 1000 + PORT_ACCESS_US);
    state.counters["model_ns_req"] = modelled;
    state.counters["syscall_ns"] = kernel;
}

void PpdevReadRecord(benchmark::State &state) { ppdev_record(state, SEQ_READ); }
void PpdevWriteRecord(benchmark::State &state) { ppdev_record(state, SEQ_WRITE); }

BENCHMARK(PpdevReadRecord)->Arg(1)->Arg(16)->Arg(256);
BENCHMARK(PpdevWriteRecord)->Arg(1)->Arg(16)->Arg(256);

// Counts the runs that ended in an error: any makes the exit status 1.
struct counting_reporter : benchmark::ConsoleReporter {
    int errors = 0;
    void ReportRuns(const std::vector<Run> &report) override
    {
        ConsoleReporter::ReportRuns(report);
        for (const Run &run : report)
            errors += run.error_occurred;
    }
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    setenv("SPIFNS_PPDEV", "1", 1); // the test runs keep the library off real ports; this one is modelled
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    counting_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.errors == 0 ? 0 : 1;
}
