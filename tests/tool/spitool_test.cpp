// SPDX-License-Identifier: MIT
// spitool as a user runs it: every test spawns the built binary, which loads
// the library beside it, and looks at its exit status, its output and the
// files it leaves. The simulated board (--sim) stands in for the hardware.
#include "spitool_harness.h"

#include <map>

#include "../support/cannot_run.h"

namespace {

using namespace spitool_test;

// The library's read-echo failure at address, with the echo the chip should
// have sent.
std::string echo_failure(const std::string &address, const std::string &echo)
{
    return "error 0x103 (Unable to read) at address " + address + ": no read echo " + echo + " from the chip";
}

// Checks that mem holds words from address upward.
void expect_words(const std::vector<uint16_t> &mem, size_t address,
                  const std::vector<uint16_t> &words)
{
    for (size_t i = 0; i < words.size(); i++)
        EXPECT_EQ(mem.at(address + i), words[i]) << "at " << address + i;
}

// ------------------------------------------------------------ round trips

TEST_F(SpitoolTest, WriteThenReadBackThroughTheSimulatedMemoryFile)
{
    expect_output(sim({"write", "0x10", "1", "0x2", "0xFFFF", "4660"}),
                  "wrote 4 words at 0x0010\n");

    std::vector<uint16_t> mem = memory();
    ASSERT_EQ(mem.size(), 65536u);
    expect_words(mem, 0x10, {1, 2, 0xFFFF, 0x1234, 0});

    Result r = sim({"read", "0x0E", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "000E: 0000 0000 0001 0002 FFFF 1234 0000 0000\n"
                     "0016: 0000 0000\n");
}

TEST_F(SpitoolTest, PreloadedMemoryIsReadInChunksAcrossTheWholeSpace)
{
    std::string bytes(131072, '\0');
    for (size_t i = 0; i < 65536; i++) {
        uint16_t v = static_cast<uint16_t>(i * 7 + 3);
        bytes[2 * i] = static_cast<char>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(v >> 8);
    }
    spit(path("mem.bin"), bytes);
    // The last words of the address space, in chunks of 3 words.
    Result r = sim({"--chunk", "3", "read", "0xFFF8", "8"});
    ASSERT_EQ(r.status, 0) << r.err;
    char expect[128];
    std::string want = "FFF8:";
    for (unsigned a = 0xFFF8; a <= 0xFFFF; a++) {
        std::snprintf(expect, sizeof(expect), " %04X", (a * 7 + 3) & 0xFFFF);
        want += expect;
    }
    EXPECT_EQ(r.out, want + "\n");
}

TEST_F(SpitoolTest, DumpAndLoadBinaryAndHexFiles)
{
    ASSERT_EQ(sim({"write", "0x200", "0xA1", "0xB2", "0xC3", "0xD4", "5", "6", "7", "8", "9"}).status, 0);

    expect_output(sim({"--chunk", "4", "dump", "0x200", "9", path("out.bin")}),
                  "dumped 9 words from 0x0200 to " + path("out.bin") + "\n");
    EXPECT_EQ(slurp(path("out.bin")), std::string("\xA1\0\xB2\0\xC3\0\xD4\0\5\0\6\0\7\0\x8\0\x9\0", 18));

    Result h = sim({"dump", "0x200", "9", path("out.txt")});
    ASSERT_EQ(h.status, 0) << h.err;
    EXPECT_EQ(slurp(path("out.txt")), "0200: 00A1 00B2 00C3 00D4 0005 0006 0007 0008\n"
                                      "0208: 0009\n");

    // Load both files elsewhere and compare what the chip holds.
    expect_output(sim({"--no-verify", "--chunk", "2", "load", "0x1000", path("out.bin")}),
                  "loaded 9 words from " + path("out.bin") + " to 0x1000\n");
    // Verifies by default.
    expect_output(sim({"load", "0x3000", path("out.txt")}),
                  "loaded 9 words from " + path("out.txt") + " to 0x3000 (verified)\n");
    std::vector<uint16_t> mem = memory();
    for (size_t i = 0; i < 9; i++) {
        EXPECT_EQ(mem[0x1000 + i], mem[0x200 + i]) << i;
        EXPECT_EQ(mem[0x3000 + i], mem[0x200 + i]) << i;
    }

    // Hand-written hex text: comments, short words, 0x prefixes, labels.
    spit(path("hand.txt"), "# two lines\n10: 1 0x22 333  # tail\n\n13: 4444\n");
    ASSERT_EQ(sim({"load", "0x40", path("hand.txt")}).status, 0);
    expect_words(memory(), 0x40, {0x1, 0x22, 0x333, 0x4444});
}

TEST_F(SpitoolTest, FormatOptionOverridesTheExtension)
{
    spit(path("words.dat"), "0000: BEEF\n");
    ASSERT_EQ(sim({"--format", "hex", "load", "0", path("words.dat")}).status, 0);
    EXPECT_EQ(memory()[0], 0xBEEF);
    ASSERT_EQ(sim({"--format=bin", "dump", "0", "1", path("x.hex")}).status, 0);
    EXPECT_EQ(slurp(path("x.hex")), std::string("\xEF\xBE", 2));
}

TEST_F(SpitoolTest, ProgressBarOnRequestEndsAtTheFullCount)
{
    Result r = sim({"--progress", "--chunk", "100", "dump", "0", "1000", path("p.bin")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("100% 1000/1000 words"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("s elapsed, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" words/s"), std::string::npos) << r.err;
    // Each redrawn line fits the width: 80 columns where it is unknown, else COLUMNS.
    Result narrow =
        sim({"--progress", "--chunk", "100", "dump", "0", "1000", path("p.bin")}, "", {.env = "COLUMNS=40"});
    EXPECT_NE(narrow.err.find("100%"), std::string::npos) << narrow.err;
    for (const auto &[text, width] : {std::pair(r.err, 79u), {narrow.err, 39u}}) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line, '\r');)
            EXPECT_LE(line.size() - (line.back() == '\n'), width) << line;
    }
    // Not a terminal and not asked for: no bar.
    Result q = sim({"--chunk", "100", "dump", "0", "1000", path("p.bin")});
    EXPECT_EQ(q.err.find('%'), std::string::npos) << q.err;
}

TEST_F(SpitoolTest, OutputThatCannotBeWrittenIsAFailure)
{
    spit(path("s.txt"), "read 0\nread 1\n");
    const std::vector<std::vector<std::string>> cases = {{"--sim", "read", "0", "4"}, {"--sim", "write", "0", "1"},
                                                         {"--sim", "run", path("s.txt")}, {"vars"}, {"ports"},
                                                         {"clocks"}, {"--help"}, {"--sim", "run", "-"}};
    for (const auto &c : cases)
        expect_failure(run(c, "read 0\n", {.stdout_file = "/dev/full"}), 1, "",
                       {"cannot write to standard output: No space left on device"});
}

// ------------------------------------------------------------ probe, vars

TEST_F(SpitoolTest, ProbeTellsStoppedFromRunning)
{
    expect_output(sim({"probe"}), "running\n");
    expect_output(sim({"--sim-stopped", "probe"}), "stopped\n");
}

// The loopback plug modelled by the board passes; the board's own wiring,
// with no chip selected, shows the pulled-up line of a port without a plug.
TEST_F(SpitoolTest, LoopbackPassesWithThePlugAndFailsHighWithoutIt)
{
    Result plug = sim({"--sim-wiring", "loopback", "--port", "1", "loopback"});
    ASSERT_EQ(plug.status, 0) << plug.err;
    EXPECT_EQ(plug.out, "loopback ok: status bit 6 follows D6 in all 512 samples: port mode, "
                        "polarity and sample position are right\n");
    // Through the simulated driver, whose control call can fail.
    expect_failure(sim({"--sim-wiring", "loopback", "--sim-fail-after", "0", "loopback"}), 1, "",
                   {"loopback: a control call on port 1 failed: error 0x104 (IOCTL failed)"});
    Result none = sim({"loopback"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err.rfind("spitool: loopback failed: status bit 6 is always high (512 samples): ", 0), 0u)
        << none.err;
}

TEST_F(SpitoolTest, ProbeOfAChipWithABadEchoFailsWithTheReadError)
{
    expect_failure(sim({"--sim-stopped", "--sim-fault", "bad-echo", "probe"}), 1, "", {"probe failed: "},
                   echo_failure("0xFF9A", "0x03FF"));
}

TEST_F(SpitoolTest, VarsGetSetAndSlowerShowTheLibraryValues)
{
    Result v = run({"vars"});
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_NE(v.out.find("SPIPORT          1        0x1    1\n"), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("SPIMUL           0        0x0    -1\n"), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("SPICLOCK         0        0x0    172.410000\n"), std::string::npos);
    EXPECT_NE(v.out.find("SPICMDBITS       0        0x0    (write-only)\n"), std::string::npos);
    EXPECT_NE(v.out.find("SPIMAXCLOCK      1000     0x0    1000\n"), std::string::npos);

    expect_output(run({"--clock", "100", "get", "spiclock"}), "86.205000\n");

    expect_output(sim({"set", "SPISHIFTPERIOD", "5"}), "SPISHIFTPERIOD = 5\n");
    expect_output(sim({"--allow-slow-clock", "set", "SPISHIFTPERIOD", "5000000"}), "SPISHIFTPERIOD = 5000000\n");

    expect_output(run({"slower", "3"}), "SPISHIFTPERIOD 4, SPICLOCK 43.102500\n");
}

TEST_F(SpitoolTest, SetFailuresReportTheLibraryError)
{
    // SPICLOCK 0 is refused without a new error record.
    expect_failure(sim({"set", "SPICLOCK", "0"}), 1, "", {"set SPICLOCK failed: the library recorded no new error"},
                   "(last error: error 0x100 (No error))");
    // A port without a device: the message changes, the code stays.
    expect_failure(sim({"set", "SPIPORT", "9"}), 1, "", {"set SPIPORT failed: "},
                   "error 0x100 (Couldn't find LPT port)");
    // SPIMUL reports success even when its line update fails at the driver.
    expect_failure(sim({"--sim-fail-after", "0", "set", "SPIMUL", "3"}), 1, "", {"set SPIMUL failed: "},
                   "error 0x104");
    expect_failure(sim({"--sim-fail-after", "0", "--mux", "3", "probe"}), 1, "",
                   {"cannot set the multiplexer to 3: "}, "error 0x104");
}

TEST_F(SpitoolTest, ClocksListsTheReachableValuesAndMarksTheChosenOne)
{
    Result r = run({"-k", "100", "clocks", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "PERIOD  SPICLOCK\n"
                     "1       172.410000\n"
                     "2       86.205000  <- --clock 100\n"
                     "3       57.470000\n");
}

TEST_F(SpitoolTest, ShortOptionsActAsTheirLongForms)
{
    // -P port, -k clock, -d trace, -M no verification; flags combine and a
    // value may stick to its letter.
    Result r = sim({"-dM", "-P1", "-k", "100", "write", "0x100", "7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Delays set to 2\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0100     w 0007\n"), std::string::npos) << r.err;
    Result v = run({"-R"});
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(v.out.rfind("spitool " SPITOOL_VERSION "\nlibrary ", 0), 0u) << v.out;
    EXPECT_EQ(run({"-h"}).out, run({"--help"}).out);
}

TEST_F(SpitoolTest, PortsListsTheFirstEntryAndTheSimulatedPort)
{
    expect_output(sim({"ports"}), "1 LPT1\n");
    expect_output(run({"ports"}), "1 LPT1\n");
}

TEST_F(SpitoolTest, TracePrintsTheLibraryTraceLines)
{
    Result r = sim({"--trace", "--clock", "100", "write", "0x100", "1", "0", "0xFF"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Delays set to 2\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0100-0102w 0001 0000 00FF\n"), std::string::npos) << r.err;
    Result quiet = sim({"write", "0x100", "1"});
    EXPECT_EQ(quiet.err, "");
}

// ------------------------------------------------------------ failures

TEST_F(SpitoolTest, ReadWithoutADeviceReportsTheLibraryError)
{
    expect_failure(run({"read", "0x1000"}), 1, "", {"cannot select port 1: "}, "(Couldn't find LPT port)");
}

TEST_F(SpitoolTest, ReadWithABadEchoNamesTheAddress)
{
    expect_failure(sim({"--sim-fault", "bad-echo", "read", "0x1000", "2"}), 1, "", {"read failed: "},
                   echo_failure("0x1000", "0x0310"));
}

TEST_F(SpitoolTest, ReadOfAnAbsentChipFailsTheEcho)
{
    // Chip 1 is absent: nothing answers and the echo reads 0.
    expect_failure(sim({"--chip", "1", "--sim-fault", "1:absent", "read", "0x0300"}), 1, "", {"read failed: "},
                   echo_failure("0x0300", "0x0303"));
    // Chip 1 present: the same read works.
    Result ok = sim({"--chip", "1", "read", "0x0300"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out, "0300: 0000\n");
}

TEST_F(SpitoolTest, ChunkedReadThatFailsPrintsTheWordsBeforeIt)
{
    ASSERT_EQ(sim({"write", "0", "10", "11", "12", "13"}).status, 0);
    // A read of 2 words takes 7 driver calls: the second chunk fails at its
    // third call, the address.
    expect_failure(sim({"--sim-fail-after", "9", "--chunk", "2", "read", "0", "4"}), 1, "0000: 000A 000B\n",
                   {"read failed: error 0x104"}, "in the transfer of 2 words at 0x0002");
}

TEST_F(SpitoolTest, LoadThatFailsNamesTheChunk)
{
    spit(path("w.bin"), std::string(20, '\x11'));
    // A write of 4 words takes 8 driver calls.
    expect_failure(sim({"--sim-fail-after", "8", "--chunk", "4", "load", "0x100", path("w.bin")}), 1, "",
                   {"load failed: error 0x104"}, "in the transfer of 4 words at 0x0104");
    std::vector<uint16_t> mem = memory();
    EXPECT_EQ(mem[0x103], 0x1111);
    EXPECT_EQ(mem[0x104], 0);
}

TEST_F(SpitoolTest, DumpThatFailsWritesNoFile)
{
    expect_failure(sim({"--sim-fault", "stuck1", "dump", "0", "16", path("d.bin")}), 1, "",
                   {"dump failed: " + echo_failure("0x0000", "0x0300")}, path("d.bin") + " not written");
    EXPECT_FALSE(std::ifstream(path("d.bin")).good());
}

// ------------------------------------------------------------ scripts

TEST_F(SpitoolTest, ScriptRunsAsOneSequenceAndPrintsItsReads)
{
    Result r = run_script("# fill and read back\n"
                          "set SPICLOCK 50   # three bytes a half period\n"
                          "write 0x20 0x1111 0x2222 0x3333\n"
                          "read 0x20 3\n"
                          "  read 0x21\n"
                          "write 0x22 7\n"
                          "read 0x22 0\n"
                          "read 0x22\n", {"--trace"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0020: 1111 2222 3333\n0021: 2222\n0022: 0007\n");
    EXPECT_NE(r.err.find("Delays set to 3\n"), std::string::npos) << r.err;
}

TEST_F(SpitoolTest, ScriptFromStdin)
{
    expect_output(run({"--sim", "run", "-"}, "write 5 0xABCD\nread 5\n"), "0005: ABCD\n");
}

TEST_F(SpitoolTest, ScriptWithAMissingPortInTheMiddleRunsEveryRecord)
{
    // The reads on either side of the gap deliver data, the one in it does
    // not; each failed statement is named with its own line and error.
    const std::string s = path("s.txt");
    expect_failure(run_script("write 0x30 0xAAAA\n"
                              "read 0x30\n"
                              "set SPIPORT 9\n"
                              "read 0x30 2\n"
                              "write 0x31 0xBBBB\n"
                              "set SPIPORT 1\n"
                              "write 0x32 0xCCCC\n"
                              "read 0x30 3\n"),
                   1, "0030: AAAA\n0030: AAAA 0000 CCCC\n",
                   {s + ":3: set SPIPORT 9 failed: error 0x100", s + ":4: read 0x0030 2 failed: error 0x102",
                    s + ":5: write 0x0031 1 failed: the library recorded no new error",
                    "run " + s + " failed: 3 of 8 statements failed"});
    std::vector<uint16_t> mem = memory();
    EXPECT_EQ(mem[0x31], 0); // the write while no port was open never arrived
    EXPECT_EQ(mem[0x32], 0xCCCC);
}

TEST_F(SpitoolTest, ScriptWithAFailedEchoGoesOnAndReportsTheAddress)
{
    // Every read fails its echo check; the writes around them still land.
    const std::string s = path("s.txt");
    expect_failure(run_script("write 0x40 0x4444\n"
                              "read 0x40\n"
                              "read 0x41 1\n"
                              "write 0x42 0x4242\n",
                              {"--sim-fault", "bad-echo"}),
                   1, "",
                   {s + ":2: read 0x0040 1 failed: " + echo_failure("0x0040", "0x0300"),
                    s + ":3: read 0x0041 1 failed: " + echo_failure("0x0041", "0x0300"),
                    "run " + s + " failed: 2 of 4 statements failed"});
    std::vector<uint16_t> mem = memory();
    EXPECT_EQ(mem[0x40], 0x4444);
    EXPECT_EQ(mem[0x42], 0x4242); // the write after the failures still ran
}

TEST_F(SpitoolTest, IdenticalReadsAreToldApartByTheirData)
{
    // The second read of 0x50 fails (no port), the third succeeds; the
    // failed one must not be shown with the third one's data.
    Result r = run_script("write 0x50 0x5555\n"
                          "set SPIPORT 9\n"
                          "read 0x50\n"
                          "set SPIPORT 1\n"
                          "read 0x50\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "0050: 5555\n");
    EXPECT_NE(r.err.find(":3: read 0x0050 1 failed: error 0x102 (No LPT port selected)\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(":5:"), std::string::npos) << r.err;
}

// ------------------------------------------------------------ bad arguments

TEST_F(SpitoolTest, BadArgumentsGiveOneUsageLineAndStatus2)
{
    spit(path("odd.bin"), std::string("\1\2\3", 3));
    spit(path("empty.bin"), "");
    spit(path("bad.hex"), "0000: 0001\n0003: 0002\n");
    spit(path("badword.hex"), "12345\n");
    spit(path("big.bin"), std::string(8, '\0'));
    spit(path("bad.txt"), "write 0x10 1\nfrobnicate 3\n");
    spit(path("badvar.txt"), "set SPIFOO 1\n");
    spit(path("badread.txt"), "read 0xFFFF 2\n");
    spit(path("shortmem.bin"), std::string(100, '\0'));
    spit(path("slow.txt"), "write 0x70 1\nset SPISHIFTPERIOD 5000000\n");
    spit(path("esc.txt"), "x\x9B" "2J\xC2\x9B" "2J\x7F 1\n");

    struct Case {
        std::vector<std::string> args;
        std::string phrase; // what the one line on stderr says
    };
    const std::vector<Case> cases = {
        {{}, "no command given"},
        {{"frob"}, "unknown command 'frob'"},
        {{"--frob", "read", "0"}, "unknown option --frob"},
        {{"read"}, "missing arguments (usage: spitool [OPTIONS] read ADDR [COUNT])"},
        {{"read", "1", "2", "3"}, "too many arguments"},
        {{"--sim", "read", "0x1G"}, "bad address '0x1G'"},
        {{"--sim", "read", "-1"}, "bad address '-1'"},
        {{"--sim", "read", "0x10000"}, "address 0x10000 out of range"},
        {{"--sim", "read", "0xFFFF", "2"}, "2 words from 0xFFFF run past 0xFFFF"},
        {{"--sim", "read", "0", "0"}, "count 0 out of range"},
        {{"--sim", "read", "0", "65537"}, "count 65537 out of range"},
        {{"--sim", "write", "0", "0x10000"}, "word 0x10000 out of range"},
        {{"--sim", "write", "0", "x"}, "bad word 'x'"},
        {{"--sim", "dump", "0", "", "f"}, "bad count ''"},
        {{"--sim", "load", "0", path("missing.bin")}, "cannot open " + path("missing.bin")},
        {{"--sim", "load", "0", path("odd.bin")}, path("odd.bin") + ": odd number of bytes (3)"},
        {{"--sim", "load", "0", path("empty.bin")}, path("empty.bin") + " holds no words"},
        {{"--sim", "load", "0xFFFE", path("big.bin")}, path("big.bin") + " holds 4 words; from 0xFFFE"},
        {{"--sim", "load", "0", path("bad.hex")}, path("bad.hex") + ":2: address label 0x0003 out of order"},
        {{"--sim", "load", "0", path("badword.hex")}, path("badword.hex") + ":1: bad hex word '12345'"},
        {{"--sim", "run", path("missing.txt")}, "cannot open " + path("missing.txt")},
        {{"--sim", "run", path("bad.txt")}, path("bad.txt") + ":2: unknown statement 'frobnicate'"},
        {{"--sim", "run", path("badvar.txt")}, path("badvar.txt") + ":1: unknown variable 'SPIFOO'"},
        {{"--sim", "run", path("badread.txt")}, path("badread.txt") + ":1: count 2 out of range"},
        {{"--sim", "get", "SPIFOO"}, "unknown variable 'SPIFOO'"},
        {{"get", "spicmdbits"}, "SPICMDBITS can be set but not read back"},
        {{"--sim", "set", "NOPE", "1"}, "unknown variable 'NOPE'"},
        {{"--sim", "set", "spiclock", "fast"}, "bad SPICLOCK 'fast': not one decimal number"},
        // Values the library would read otherwise than written, refused with what it would read, and
        // a clock whose shifts would take the library more than 256 MiB; no port is touched first.
        {{"set", "SPICLOCK", "1,5"}, "bad SPICLOCK '1,5': not one decimal number (the library would read 1)"},
        {{"set", "SPISHIFTPERIOD", "010"}, "not one whole number (the library would read 8)"},
        {{"set", "SPIMUL", "abc"}, "bad SPIMUL 'abc': not one whole number (the library would read 0)"},
        {{"--clock", "0.00001", "read", "0"}, "shift period 17241000, for which the library would allocate 1315 MiB"},
        {{"--sim", "run", path("slow.txt")}, path("slow.txt") + ":2: SPISHIFTPERIOD 5000000: shift period"},
        {{"read", "zz"}, "bad address 'zz'"},
        // Empty file names, and input bytes that a terminal would obey, shown escaped.
        {{"--sim", "--vcd", "", "probe"}, "option --vcd needs a value"},
        {{"--sim", "--sim-memory=", "probe"}, "option --sim-memory needs a value"},
        {{"--sim", "dump", "0", "1", ""}, "dump needs a FILE"},
        {{"ru\x1B]0;x\x07n"}, "unknown command 'ru\\x1B]0;x\\x07n'"},
        {{"--sim", "run", path("esc.txt")}, "unknown statement 'x\\x9B2J\\xC2\\x9B2J\\x7F' (set"},
        {{"--port", "0", "probe"}, "bad --port '0' (1 to 31)"},
        {{"--port", "32", "probe"}, "bad --port '32' (1 to 31)"},
        {{"--port"}, "option --port needs a value"},
        {{"--clock", "0", "probe"}, "bad --clock '0': not positive"},
        {{"-k", "fast", "probe"}, "bad --clock 'fast': not a number"},
        {{"-P"}, "option -P needs a value"},
        {{"-dp", "2", "probe"}, "unknown option -p (the port is -P N)"},
        {{"-V"}, "unknown option -V (version is -R"},
        {{"--mux", "17", "probe"}, "bad --mux '17' (-1 to 16)"},
        {{"--mux", "1", "--chip", "1", "probe"}, "--mux and --chip exclude each other"},
        {{"--chunk", "0", "read", "0"}, "bad --chunk '0' (1 to 65535)"},
        {{"--format", "elf", "dump", "0", "1", "x"}, "bad --format 'elf' (bin, text or ihex)"},
        {{"--trace=yes", "probe"}, "option --trace takes no value"},
        {{"--vcd", path("w.vcd"), "probe"}, "need --sim"},
        {{"--sim", "--port", "2", "probe"}, "--port 2 would miss it"},
        {{"--sim", "--sim-fault", "melted", "probe"}, "bad --sim-fault 'melted'"},
        {{"--sim", "--sim-memory", path("shortmem.bin"), "probe"}, path("shortmem.bin") + " holds 100 bytes"},
        {{"slower", "101"}, "count 101 out of range"},
    };
    for (const Case &c : cases) {
        std::string shown;
        for (const std::string &a : c.args)
            shown += " " + a;
        SCOPED_TRACE("spitool" + shown);
        expect_failure(run(c.args), 2, "", {""}, c.phrase);
    }
    // The memory file that was refused is left as it was.
    EXPECT_EQ(slurp(path("shortmem.bin")).size(), 100u);
}

TEST_F(SpitoolTest, LibraryThatCannotBeLoadedIsAFailure)
{
    Result r = run({"--library", path("nothere.so"), "probe"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("spitool: cannot load " + path("nothere.so") + ": ", 0), 0u) << r.err;
    // A loadable module that is not the library.
    Result c = run({"--library", NOT_SPIFNS_MODULE, "probe"});
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("is not a spifns library: it has no export spifns_init"), std::string::npos)
        << c.err;
}

TEST_F(SpitoolTest, HelpOnEveryCommand)
{
    const char *commands[] = {"ports", "vars", "get",   "set",    "read", "write",
                              "dump",  "load", "probe", "slower", "clocks", "run", "loopback"};
    for (const char *c : commands) {
        Result r = run({c, "--help"});
        EXPECT_EQ(r.status, 0) << c;
        EXPECT_EQ(r.out.rfind(std::string("usage: spitool [OPTIONS] ") + c, 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
        Result h = run({"help", c});
        EXPECT_EQ(h.out, r.out) << c;
    }
    Result g = run({"--help"});
    EXPECT_EQ(g.status, 0);
    for (const char *c : commands)
        EXPECT_NE(g.out.find(std::string("\n  ") + c), std::string::npos) << c;
}

// ------------------------------------------------------------ VCD

// A VCD file read back into one line image per time step.
struct Waveform {
    std::string header;
    std::map<std::string, std::string> ids; // signal name -> identifier
    std::map<std::string, std::vector<int>> levels; // signal name -> level per step
    size_t steps = 0;
    bool repeated_value = false; // a change line that repeats the current level
    bool time_not_increasing = false;
};

Waveform parse_vcd(const std::string &text)
{
    Waveform w;
    size_t defs_end = text.find("$enddefinitions $end\n");
    if (defs_end == std::string::npos)
        return w;
    w.header = text.substr(0, defs_end);
    std::istringstream h(w.header);
    std::string line;
    while (std::getline(h, line)) {
        char id[8], name[32];
        if (std::sscanf(line.c_str(), "$var wire 1 %7s %31s $end", id, name) == 2)
            w.ids[name] = id;
    }
    std::map<std::string, std::string> name_of;
    std::map<std::string, int> level;
    for (const auto &[name, id] : w.ids) {
        name_of[id] = name;
        level[name] = -1;
    }
    std::istringstream body(text.substr(defs_end));
    std::getline(body, line);
    long long now = -1;
    auto advance_to = [&](long long t) {
        for (long long s = now; s < t; s++)
            if (s >= 0)
                for (auto &[name, l] : level)
                    w.levels[name].push_back(l);
    };
    while (std::getline(body, line)) {
        if (line.empty() || line[0] == '$')
            continue;
        if (line[0] == '#') {
            long long t = std::atoll(line.c_str() + 1);
            if (t <= now)
                w.time_not_increasing = true;
            advance_to(t);
            now = t;
            continue;
        }
        std::string name = name_of[line.substr(1)];
        int v = line[0] == '1' ? 1 : line[0] == '0' ? 0 : -1;
        if (level[name] == v && v >= 0)
            w.repeated_value = true;
        level[name] = v;
    }
    w.steps = now > 0 ? static_cast<size_t>(now) : 0;
    return w;
}

// The bits clocked in on rising CLK edges while CS is low, one string of
// '0'/'1' per CS-low frame, from the given data signal.
std::vector<std::string> frames(const Waveform &w, const std::string &data)
{
    std::vector<std::string> out;
    const std::vector<int> &cs = w.levels.at("CS"), &clk = w.levels.at("CLK"), &d = w.levels.at(data);
    bool in_frame = false;
    for (size_t t = 1; t < w.steps; t++) {
        if (cs[t] == 0 && !in_frame) {
            out.emplace_back();
            in_frame = true;
        } else if (cs[t] != 0) {
            in_frame = false;
        }
        if (in_frame && cs[t - 1] == 0 && clk[t - 1] == 0 && clk[t] == 1)
            out.back() += d[t] ? '1' : '0';
    }
    return out;
}

std::string bits(uint32_t v, int n)
{
    std::string s;
    for (int i = n - 1; i >= 0; i--)
        s += ((v >> i) & 1) ? '1' : '0';
    return s;
}

TEST_F(SpitoolTest, VcdHeaderDeclaresEveryLineWithATimescale)
{
    Result r = sim({"--vcd", path("w.vcd"), "write", "0x10", "0x1234"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "spitool: waveform written to " + path("w.vcd") + "\n");
    Waveform w = parse_vcd(slurp(path("w.vcd")));
    EXPECT_NE(w.header.find("$timescale 1 us $end"), std::string::npos);
    const char *names[] = {"CS", "SEL2", "MUX2", "MUX3", "AUX", "MUX5", "MOSI", "CLK", "MISO"};
    std::map<std::string, bool> seen_id;
    for (const char *n : names) {
        ASSERT_EQ(w.ids.count(n), 1u) << n;
        EXPECT_FALSE(seen_id[w.ids[n]]) << "identifier used twice: " << w.ids[n];
        seen_id[w.ids[n]] = true;
    }
    EXPECT_EQ(w.ids.size(), 9u);
    EXPECT_FALSE(w.repeated_value);
    EXPECT_FALSE(w.time_not_increasing);
}

TEST_F(SpitoolTest, VcdCarriesTheWriteFrameBitForBit)
{
    Result r = sim({"--no-verify", "--vcd", path("w.vcd"), "write", "0x10", "0x1234"});
    ASSERT_EQ(r.status, 0) << r.err;
    Waveform w = parse_vcd(slurp(path("w.vcd")));
    // SPIPORT opens the port without playing anything; the write is one
    // frame: command 0x02, address 0x0010, the word.
    std::vector<std::string> f = frames(w, "MOSI");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0], bits(0x02, 8) + bits(0x0010, 16) + bits(0x1234, 16));
    // Opening pulse 5 + command 17 + address 33 + word 33 + closing pulse 5.
    EXPECT_EQ(w.steps, 93u);
    // Clock idles high between fields: it is high at every CS edge.
    const std::vector<int> &cs = w.levels["CS"], &clk = w.levels["CLK"];
    for (size_t t = 1; t < w.steps; t++) {
        if (cs[t] != cs[t - 1]) {
            EXPECT_EQ(clk[t], 1) << "CS edge at step " << t;
        }
    }
}

TEST_F(SpitoolTest, VcdCarriesTheChipsAnswerOnMiso)
{
    ASSERT_EQ(sim({"write", "0x1000", "0xBEEF"}).status, 0);
    Result r = sim({"--vcd", path("r.vcd"), "read", "0x1000"});
    ASSERT_EQ(r.status, 0) << r.err;
    Waveform w = parse_vcd(slurp(path("r.vcd")));
    std::vector<std::string> mosi = frames(w, "MOSI"), miso = frames(w, "MISO");
    ASSERT_EQ(mosi.size(), 1u);
    EXPECT_EQ(mosi[0].substr(0, 24), bits(0x03, 8) + bits(0x1000, 16));
    // The echo 0x0310, then the word; its last bit is sampled with the clock
    // low, so the frame holds one rising edge less than it carries bits.
    ASSERT_EQ(miso[0].size(), 24u + 16 + 15);
    EXPECT_EQ(miso[0].substr(24), bits(0x0310, 16) + bits(0xBEEF, 16).substr(0, 15));
}

TEST_F(SpitoolTest, VcdDecodesWithTheSpiDecoderWhenSigrokIsInstalled)
{
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0)
        CANNOT_RUN("sigrok-cli not installed");
    Result r = sim({"--no-verify", "--vcd", path("w.vcd"), "write", "0x10", "0x1234", "0xA5C3"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string cmd = "sigrok-cli -I vcd -i '" + path("w.vcd") +
                      "' -P spi:clk=CLK:mosi=MOSI:miso=MISO:cs=CS:cpol=1:cpha=1 -A spi=mosi-data"
                      " > '" + path("decoded") + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << slurp(path("decoded"));
    std::string decoded = slurp(path("decoded"));
    std::vector<std::string> bytes;
    std::istringstream in(decoded);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.rfind(": ");
        if (colon != std::string::npos)
            bytes.push_back(line.substr(colon + 2));
    }
    std::vector<std::string> want = {"02", "00", "10", "12", "34", "A5", "C3"};
    EXPECT_EQ(bytes, want) << decoded;
}

} // namespace
