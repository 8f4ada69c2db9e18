// SPDX-License-Identifier: MIT
// The shipped library and spitool on Linux parallel ports: run with
// libppdev_sim.so preloaded (LD_PRELOAD), which presents /dev/parport<K> as
// ppdev serves them, with the simulated board at the pins and faults where a
// test asks.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/parport.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loaded_library.h"
#include "ppdev_sim.h"
#include "records.h"
#include "simport.h"
#include "spitool_harness.h"
#include "spifns_wire.h"

// Defined by the preloaded libppdev_sim.so.
#pragma weak ppdev_sim_setup
#pragma weak ppdev_sim_stats

namespace {

using clock_type = std::chrono::steady_clock;

ppdev_sim_counts counts(int index)
{
    ppdev_sim_counts c{};
    EXPECT_EQ(ppdev_sim_stats(index, &c), 0);
    return c;
}

class PpdevTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ppdev_sim_setup != nullptr) << "run with libppdev_sim.so preloaded";
        // The test runs keep the library off real ports; these are modelled.
        setenv("SPIFNS_PPDEV", "1", 1);
        ASSERT_NE(lib.handle, nullptr) << dlerror();
        lib.init();
    }
    void TearDown() override
    {
        lib.close();
        unsetenv("SPIFNS_PPDEV_VERIFY");
    }
    bool select(const char *port) { return run_setvar("SPIPORT", port, lib.sequence) == 0; }
    // Writes two words and reads them back through port 1.
    void round_trip()
    {
        uint16_t words[2] = {0x1234, 0xBEEF}, back[2] = {};
        const seq_record records[] = {transfer(SEQ_WRITE, 0x1000, 2, words), transfer(SEQ_READ, 0x1000, 2, back)};
        ASSERT_EQ(lib.sequence(records, 2), 0);
        EXPECT_EQ(back[0], 0x1234);
        EXPECT_EQ(back[1], 0xBEEF);
    }
    // Every device opened on port index was closed, every claim released;
    // after an arm with the neutral byte on the data lines.
    static void expect_all_handed_back(int index, bool armed = true)
    {
        const ppdev_sim_counts c = counts(index);
        EXPECT_EQ(c.closes, c.opens);
        EXPECT_EQ(c.releases, c.claims);
        EXPECT_EQ(c.unreleased, 0u);
        EXPECT_EQ(c.unclaimed, 0u);
        EXPECT_EQ(c.open_flags_wrong, 0u);
        if (armed && c.claims > 0) {
            EXPECT_EQ(c.lines_at_release, LINE_NEUTRAL);
        }
    }
    loaded_library lib{SPIFNS_SO_PATH};
};

// A play is one PPWDATA and one PPRSTATUS per output byte, in that order and
// nothing else, also when signals interrupt requests; the claim is exclusive
// where the kernel allows it, shared where another driver has the port
// registered or PPEXCL fails.
TEST_F(PpdevTest, PlaysAreOneDataWriteAndOneStatusReadPerOutputByte)
{
    const struct {
        const char *config;
        uint32_t exclusive;
        bool interrupted;
    } cases[] = {{"ports=1", 1, false}, {"ports=1 eintr=0", 1, true}, {"ports=1 lp=0", 0, false},
                 {"ports=1 excl_ebusy=0", 0, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.config);
        ASSERT_EQ(ppdev_sim_setup(c.config), 0);
        ASSERT_TRUE(select("1"));
        const ppdev_sim_counts armed = counts(0);
        EXPECT_EQ(armed.claims, 1u);
        EXPECT_EQ(armed.exclusive_claims, c.exclusive);
        EXPECT_EQ(armed.mode, IEEE1284_MODE_COMPAT);
        EXPECT_EQ(armed.reversed, 0);
        EXPECT_EQ(armed.lines, LINE_NEUTRAL);

        round_trip();
        const ppdev_sim_counts played = counts(0);
        const uint32_t pairs = played.pairs - armed.pairs;
        EXPECT_GT(pairs, 200u);
        EXPECT_EQ(played.data_writes - armed.data_writes, pairs);
        EXPECT_EQ(played.status_reads - armed.status_reads, pairs);
        EXPECT_EQ(played.requests - armed.requests, 2 * pairs);
        EXPECT_EQ(played.interrupted > 0, c.interrupted);

        lib.close(); // the last close closes the port
        lib.init();
        expect_all_handed_back(0);
    }
}

// Port n is /dev/parport<n-1> unless a simulated driver is attached to it;
// the enumeration lists the ports that open.
TEST_F(PpdevTest, EnumerationListsThePortsThatOpen)
{
    ASSERT_EQ(ppdev_sim_setup("ports=5 eacces=2 held=3"), 0);
    ASSERT_EQ(lib.attach(6, nullptr, nullptr), 0);
    std::vector<int> listed;
    lib.enumerate_ports(
        [](int port, const char *, void *context) { static_cast<std::vector<int> *>(context)->push_back(port); },
        &listed);
    // The unprobed first entry, parport1, parport4 (2 refuses the open, 3's
    // claim never comes), the simulated port 6.
    EXPECT_EQ(listed, (std::vector<int>{1, 2, 5, 6}));
    for (int k : {1, 4})
        expect_all_handed_back(k);
}

// Opens that fail leave nothing open and nothing claimed: no device node,
// no driver behind it, no permission, registered exclusively by another
// program, data lines that do not read back (fine once the check is off).
TEST_F(PpdevTest, RefusedOpensLeaveNothingBehind)
{
    for (const char *config : {"ports=0", "nodriver=0", "eacces=0", "owned=0", "noreadback=0"}) {
        SCOPED_TRACE(config);
        ASSERT_EQ(ppdev_sim_setup(config), 0);
        EXPECT_FALSE(select("1"));
        const char *message = nullptr;
        lib.get_last_error(nullptr, &message);
        EXPECT_STREQ(message, "Couldn't find LPT port");
        expect_all_handed_back(0);
    }
    setenv("SPIFNS_PPDEV_VERIFY", "0", 1);
    ASSERT_TRUE(select("1"));
    round_trip();
    // Kept off every real port: the port is there, but absent to the library.
    setenv("SPIFNS_PPDEV", "0", 1);
    EXPECT_FALSE(select("1"));
    expect_all_handed_back(0);
}

// A claim that does not come within 1 s fails the open; the claim that
// comes later is released and its device closed without the library.
TEST_F(PpdevTest, ClaimIsBoundedAndALateClaimIsHandedBack)
{
    ASSERT_EQ(ppdev_sim_setup("late=0"), 0);
    const auto start = clock_type::now();
    EXPECT_FALSE(select("1"));
    const double waited = std::chrono::duration<double>(clock_type::now() - start).count();
    EXPECT_GE(waited, 0.99);
    EXPECT_LT(waited, 1.4);
    // The claim comes 1.5 s after the wait began.
    for (int i = 0; i < 300 && counts(0).releases == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(counts(0).claims, 1u);
    expect_all_handed_back(0, false);
}

// Unloading the library while a claim it gave up on still waits must not
// pull the code from under the waiting thread.
TEST_F(PpdevTest, ClaimThatNeverComesKeepsTheLibraryLoaded)
{
    ASSERT_EQ(ppdev_sim_setup("held=0"), 0);
    EXPECT_FALSE(select("1"));
    lib.close();
    dlclose(lib.handle);
    void *still = dlopen(SPIFNS_SO_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, lib.handle);
    lib.handle = still;
    lib.init();
    // The port goes away: the waiting claim fails and its thread ends.
    ASSERT_EQ(ppdev_sim_setup("ports=1"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(select("1"));
    round_trip();
}

} // namespace

// spitool as a user runs it on the modelled ports (the preloaded model
// passes to it); PPDEV_SIM configures each run, PPDEV_SIM_STATS collects its
// counts.
namespace {

using spitool_test::Result;

class SpitoolOnPpdev : public spitool_test::SpitoolTest {
protected:
    Result tool(const char *config, const std::vector<std::string> &args)
    {
        setenv("PPDEV_SIM", config, 1);
        setenv("SPIFNS_PPDEV", "1", 1);
        setenv("PPDEV_SIM_STATS", path("stats.txt").c_str(), 1);
        std::remove(path("stats.txt").c_str());
        return run(args);
    }
    // The counts of /dev/parport0 that the last run left.
    std::map<std::string, unsigned> stats()
    {
        std::istringstream line(spitool_test::slurp(path("stats.txt")));
        std::map<std::string, unsigned> counts;
        std::string field;
        for (line >> field; line >> field;)
            counts[field.substr(0, field.find('='))] = std::stoul(field.substr(field.find('=') + 1));
        return counts;
    }
};

// A verified write and a read back in one script, the probe, single
// commands (one with signals interrupting requests) and the loopback check:
// each run claims the port once, makes every request inside the claim,
// releases it, and besides the arm and the release (16 requests: claim,
// mode, direction, control read and write, neutral byte, status, three
// read-back patterns and their reads, neutral byte, control, release) makes
// only data-write and status-read pairs.
TEST_F(SpitoolOnPpdev, CommandsRunOnTheModelledPort)
{
    spitool_test::spit(path("s.txt"), "write 0x1000 0x1234 0xBEEF\nread 0x1000 2\n");
    const struct {
        const char *config;
        std::vector<std::string> args;
        std::string out;
    } runs[] = {
        {"ports=1", {"--port", "1", "run", path("s.txt")}, "1000: 1234 BEEF\n"},
        {"ports=1", {"--port", "1", "probe"}, "running\n"},
        {"stopped=0", {"--port", "1", "probe"}, "stopped\n"},
        {"eintr=0", {"--port", "1", "write", "0x20", "7", "8"}, "wrote 2 words at 0x0020\n"},
        {"ports=1", {"--port", "1", "read", "0x20", "2"}, "0020: 0000 0000\n"},
        {"ports=1", {"--port", "1", "dump", "0x20", "2", path("d.bin")}, "dumped 2 words from 0x0020 to " + path("d.bin") + "\n"},
        {"loopback=0", {"--port", "1", "loopback"},
         "loopback ok: status bit 6 follows D6 in all 512 samples: port mode, polarity and sample position are right\n"},
    };
    for (const auto &r : runs) {
        SCOPED_TRACE(r.args.back());
        expect_output(tool(r.config, r.args), r.out);
        auto c = stats();
        EXPECT_EQ(c["opens"], 1u);
        EXPECT_EQ(c["closes"], 1u);
        EXPECT_EQ(c["open_flags_wrong"], 0u);
        EXPECT_EQ(c["claims"], 1u);
        EXPECT_EQ(c["releases"], 1u);
        EXPECT_EQ(c["unclaimed"], 0u);
        EXPECT_EQ(c["unreleased"], 0u);
        EXPECT_LE(c["others_max"], 16u);
        EXPECT_GT(c["pairs"], 100u);
        EXPECT_EQ(c["lines_at_release"], LINE_NEUTRAL);
    }
    EXPECT_EQ(stats()["pairs"], 512u); // the loopback's one play
    EXPECT_EQ(spitool_test::slurp(path("d.bin")).size(), 4u);
}

// The library reports a port that does not open as absent; spitool says why,
// for a selection and for the loopback check.
TEST_F(SpitoolOnPpdev, PortsThatDoNotOpenAreExplained)
{
    const struct {
        const char *config;
        std::vector<std::string> phrases;
    } cases[] = {
        {"ports=0", {"/dev/parport0 does not exist", "parport_pc and ppdev", "modprobe"}},
        {"eacces=0", {"permission denied on /dev/parport0", "group lp", "udev rule"}},
        {"owned=0", {"/dev/parport0 is busy"}},
        {"held=0", {"the claim of /dev/parport0 did not come within 1 s"}},
        {"noreadback=0", {"/dev/parport0 do not read back", "SPIFNS_PPDEV_VERIFY=0"}},
    };
    for (const auto &c : cases) {
        for (const char *command : {"probe", "loopback"}) {
            SCOPED_TRACE(std::string(c.config) + " " + command);
            const Result r = tool(c.config, {"--port", "1", command});
            expect_failure(r, 1, "",
                           {command == std::string("probe")
                                ? "cannot select port 1: error 0x100 (Couldn't find LPT port); "
                                : "loopback: port 1: "});
            for (const std::string &phrase : c.phrases)
                EXPECT_NE(r.err.find(phrase), std::string::npos) << r.err;
        }
    }
}

} // namespace
