// SPDX-License-Identifier: MIT
// spitool's files and failures: outputs that survive a failed write, inputs
// refused before they are read whole, Intel HEX, scripts that blame the
// right line, and writes that are read back.
#include "spitool_harness.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>

#include <set>

namespace {

using namespace spitool_test;

class SpitoolFilesTest : public SpitoolTest {
protected:
    // The files in the test directory, apart from the harness's own.
    std::set<std::string> files()
    {
        std::set<std::string> names;
        DIR *d = opendir(dir_.c_str());
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != ".." && n != "stdin" && n != "stdout" && n != "stderr")
                names.insert(n);
        }
        closedir(d);
        return names;
    }
};

TEST_F(SpitoolFilesTest, FailedWritesLeaveTheOldFilesAndNoPartialOnes)
{
    std::string memory(131072, '\0');
    for (size_t i = 0; i < memory.size(); i++)
        memory[i] = static_cast<char>(i * 13);
    spit(path("mem.bin"), memory);
    spit(path("d.bin"), "old dump");
    spit(path("w.vcd"), "old waveform");
    chmod(path("d.bin").c_str(), 0640);
    // Under a 16 KiB file-size limit (SIGXFSZ as the shell leaves it) the
    // 32 KiB dump and the 128 KiB memory fail half way, each on a line of
    // its own; the waveform fails first and stops the run.
    const std::string kept = ": File too large (the old file is unchanged)";
    expect_failure(sim({"dump", "0", "0x4000", path("d.bin")}, "", {.file_size_limit = 16384}), 1, "",
                   {"cannot write " + path("d.bin") + kept, "cannot write " + path("mem.bin") + kept});
    expect_failure(sim({"--vcd", path("w.vcd"), "dump", "0", "0x4000", path("d.bin")}, "",
                       {.file_size_limit = 16384}),
                   1, "",
                   {"cannot write " + path("w.vcd") + kept + "; the run stopped there",
                    "cannot write " + path("mem.bin") + kept});
    EXPECT_EQ(slurp(path("d.bin")), "old dump");
    EXPECT_EQ(slurp(path("w.vcd")), "old waveform");
    EXPECT_EQ(slurp(path("mem.bin")), memory);
    EXPECT_EQ(files(), (std::set<std::string>{"d.bin", "mem.bin", "w.vcd"}));

    // Without the limit all three are replaced; the dump keeps its mode.
    Result ok = sim({"--vcd", path("w.vcd"), "dump", "0", "0x4000", path("d.bin")});
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(slurp(path("d.bin")), memory.substr(0, 0x8000));
    EXPECT_EQ(slurp(path("w.vcd")).rfind("$comment", 0), 0u);
    struct stat st;
    ASSERT_EQ(stat(path("d.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(files(), (std::set<std::string>{"d.bin", "mem.bin", "w.vcd"}));
}

TEST_F(SpitoolFilesTest, ReadOnlyTargetsAreKeptAndDanglingLinksFollowed)
{
    // No write permission for anyone: refused (by root too), as a shell
    // redirect would; the waveform beside it is still written.
    ASSERT_EQ(sim({"write", "0x10", "1"}).status, 0);
    std::string memory = slurp(path("mem.bin"));
    chmod(path("mem.bin").c_str(), 0444);
    expect_failure(sim({"--vcd", path("w.vcd"), "write", "0x10", "2"}), 1, "wrote 1 word at 0x0010\n",
                   {"waveform written to " + path("w.vcd"), "cannot write " + path("mem.bin") + ": "},
                   "Permission denied (the old file is unchanged)");
    EXPECT_EQ(slurp(path("mem.bin")), memory);
    // A chain of links to a file not there yet: the file is created, the
    // links kept.
    ASSERT_EQ(symlink("new.bin", path("link.bin").c_str()), 0);
    ASSERT_EQ(symlink(path("link.bin").c_str(), path("link2.bin").c_str()), 0);
    ASSERT_EQ(run({"--sim", "dump", "0", "2", path("link2.bin")}).status, 0);
    EXPECT_EQ(slurp(path("new.bin")), std::string(4, '\0'));
    struct stat st;
    ASSERT_EQ(lstat(path("link.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(files(), (std::set<std::string>{"link.bin", "link2.bin", "mem.bin", "new.bin", "w.vcd"}));
    // A loop of links is refused; the links stay.
    ASSERT_EQ(symlink("loop2", path("loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", path("loop2").c_str()), 0);
    expect_failure(run({"--sim", "dump", "0", "2", path("loop1")}), 1, "",
                   {"cannot write " + path("loop1") + ": Too many levels of symbolic links"});
    ASSERT_EQ(lstat(path("loop1").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(SpitoolFilesTest, ReplacedFilesKeepTheirOwnerNeverSetIdAndStreamsAreWrittenInPlace)
{
    // The memory file, a dump and a waveform, set-user-id and set-group-id,
    // and (as root) another user's: replaced with the owner kept, the set-id
    // bits dropped.
    ASSERT_EQ(sim({"probe"}).status, 0);
    spit(path("d.bin"), "old");
    spit(path("w.vcd"), "old");
    const passwd *nobody = getpwnam("nobody");
    const bool root = getuid() == 0 && nobody;
    for (const char *f : {"mem.bin", "d.bin", "w.vcd"}) {
        ASSERT_TRUE(!root || chown(path(f).c_str(), nobody->pw_uid, nobody->pw_gid) == 0);
        ASSERT_EQ(chmod(path(f).c_str(), 06750), 0);
    }
    ASSERT_EQ(sim({"--vcd", path("w.vcd"), "dump", "0", "2", path("d.bin")}).status, 0);
    for (const char *f : {"mem.bin", "d.bin", "w.vcd"}) {
        struct stat st;
        ASSERT_EQ(stat(path(f).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0750u) << f;
        EXPECT_EQ(st.st_uid, root ? nobody->pw_uid : getuid()) << f;
        EXPECT_EQ(st.st_gid, root ? nobody->pw_gid : getgid()) << f;
    }
    EXPECT_EQ(slurp(path("d.bin")), std::string(4, '\0'));
    // What standard output is appended to, also through /dev/stdout, is
    // appended to; the report goes to standard error.
    spit(path("app.log"), "old\n");
    for (const char *out : {"/dev/stdout", "-"}) {
        Result a = sim({"--format", "text", "dump", "0", "1", out}, "", {.stdout_file = path("app.log")});
        EXPECT_EQ(a.err, "dumped 1 words from 0x0000 to " + std::string(*out == '-' ? "standard output" : out) + "\n");
    }
    EXPECT_EQ(slurp(path("app.log")), "old\n0000: 0000\n0000: 0000\n");
}

TEST_F(SpitoolFilesTest, SignalsEndTheRunAfterAStatementAndLeaveNoTemporaryFile)
{
    std::string script = "write 0x10 0x1234\n";
    for (int i = 0; i < 20000; i++)
        script += "read 0x10\n";
    spit(path("s.txt"), script);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::remove(path("stdout").c_str()); // the signal goes once the new run prints
        const pid_t pid = start({"--sim", "--sim-memory", path("mem.bin"), "--vcd", path("w.vcd"), "--vcd-limit", "16",
                                 "run", path("s.txt")});
        for (int wait = 0; wait < 5000 && slurp(path("stdout")).empty(); wait++)
            usleep(1000);
        kill(pid, signal);
        Result r = finish(pid);
        EXPECT_EQ(r.status, 128 + signal) << r.err;
        EXPECT_EQ(r.err.rfind("spitool: stopped by signal " + std::to_string(signal), 0), 0u) << r.err;
        EXPECT_NE(r.err.find(path("w.vcd") + ": the run was stopped (no file written)"), std::string::npos) << r.err;
        // Whole statements ran, not all of them; the memory they wrote is saved.
        EXPECT_EQ(r.out.size() % 11, 0u);
        EXPECT_LT(r.out.size(), 20000u * 11);
        EXPECT_EQ(memory().at(0x10), 0x1234);
        EXPECT_EQ(files(), (std::set<std::string>{"mem.bin", "s.txt"}));
    }
}

TEST_F(SpitoolFilesTest, WaveformsAreBoundedAndLeaveNothingBehind)
{
    // 4000 reads whose words alone would pass the limit: refused before one runs.
    std::string reads, echoes;
    for (int i = 0; i < 4000; i++) {
        reads += "read 0 64\n";
        echoes += "read 0 0\n";
    }
    spit(path("reads.txt"), reads);
    spit(path("echoes.txt"), echoes);
    const std::string vcd = "cannot write " + path("w.vcd") + ": the waveform ";
    expect_failure(sim({"--vcd", path("w.vcd"), "--vcd-limit", "1", "run", path("reads.txt")}), 2, "",
                   {vcd + "would take at least 85 MiB, more than --vcd-limit 1 (no file written)"});
    // Reads of no words, which the estimate cannot see: the recording stops
    // at the limit, and the run with it.
    expect_failure(sim({"--vcd", path("w.vcd"), "--vcd-limit", "1", "run", path("echoes.txt")}), 1, "",
                   {vcd + "reached --vcd-limit 1 MiB (no file written); the run stopped there"});
    EXPECT_EQ(files(), (std::set<std::string>{"echoes.txt", "mem.bin", "reads.txt"}));
}

TEST_F(SpitoolFilesTest, TwoOutputsNamingOneFileAreAUsageError)
{
    spit(path("kept.bin"), "kept");
    ASSERT_EQ(symlink(path("kept.bin").c_str(), path("link.bin").c_str()), 0);
    const std::vector<std::vector<std::string>> cases = {
        {"--sim-memory", path("m.bin"), "dump", "0", "4", path("m.bin")},
        {"--sim-memory", path("m.bin"), "--vcd", dir_ + "/./sub/../m.bin", "probe"},
        {"--sim-memory", path("kept.bin"), "dump", "0", "4", path("link.bin")},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c;
        args.insert(args.begin(), "--sim");
        Result r = run(args);
        EXPECT_EQ(r.status, 2) << c[1];
        EXPECT_NE(r.err.find("name the same file"), std::string::npos) << r.err;
    }
    EXPECT_EQ(slurp(path("kept.bin")), "kept");
    EXPECT_EQ(files(), (std::set<std::string>{"kept.bin", "link.bin"}));
    EXPECT_EQ(run({"--sim", "--vcd", "-", "probe"}).status, 2);
    // A device is written in place, never replaced, and may take several outputs.
    EXPECT_EQ(run({"--sim", "--vcd", "/dev/null", "dump", "0", "4", "/dev/null"}).status, 0);
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(SpitoolFilesTest, InputsAreRefusedBeforeTheyAreReadWhole)
{
    spit(path("big.bin"), std::string(200000, '\0'));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--sim", "load", "0", "/dev/zero"}, "/dev/zero is too large for a word file (more than 131072 bytes"},
        {{"--sim", "load", "0", path("big.bin")}, path("big.bin") + " is too large for a word file (200000 bytes"},
        {{"--sim", "run", "/dev/zero"}, "/dev/zero is too large for a script (more than 16777216 bytes"},
        {{"--sim", "--sim-memory", "/dev/zero", "probe"}, "/dev/zero is too large for a simulated memory file"},
    };
    for (const Case &c : cases)
        expect_failure(run(c.args), 2, "", {c.message});
    // A pipe one word too long.
    expect_failure(run({"--sim", "load", "0", "-"}, std::string(131074, '\x80'), {.pipe_stdin = true}), 2, "",
                   {"stdin is too large for a word file (more than 131072 bytes"});
    // Text stops at the first word past the address space.
    std::string words;
    for (int i = 0; i < 65537; i++)
        words += "1\n";
    expect_failure(run({"--sim", "load", "0", "-"}, words + std::string(1 << 20, '\n'), {.pipe_stdin = true}), 2, "",
                   {"stdin:65537: more than 65536 words"});
}

TEST_F(SpitoolFilesTest, ScriptFailuresNameTheirOwnLines)
{
    expect_failure(run({"--sim", "run", "-"}, "set SPIPORT 9\nread 0x50\nset SPIPORT 1\nread 0x50\n",
                       {.pipe_stdin = true}),
                   1, "0050: 0000\n",
                   {"stdin:1: set SPIPORT 9 failed: error 0x100", "stdin:2: read 0x0050 1 failed: error 0x102",
                    "run stdin failed: 2 of 4 statements failed"});
    // A bad line anywhere, also in a pipe, stops the script before it runs;
    // a NUL byte is one, read the same from a pipe and from a file.
    const std::string nul("write 0x60 0x6666\nset SPIPORT \0\nwrite 0x61 1\n", 45);
    spit(path("nul.txt"), nul);
    expect_failure(sim({"run", "-"}, "write 0x60 0x6666\nread 0x60\nbogus\n", {.pipe_stdin = true}), 2, "",
                   {"stdin:3: unknown statement 'bogus'"});
    expect_failure(sim({"run", "-"}, nul, {.pipe_stdin = true}), 2, "", {"stdin:2: NUL byte"});
    expect_failure(sim({"run", path("nul.txt")}), 2, "", {path("nul.txt") + ":2: NUL byte"});
    // Good lines in a pipe beyond the 16 MiB a script may have: none runs.
    std::string big;
    while (big.size() <= 16u << 20)
        big += "write 0x60 0x6666\n";
    expect_failure(sim({"run", "-"}, big, {.pipe_stdin = true}), 2, "",
                   {"stdin is too large for a script (more than 16777216 bytes"});
    ASSERT_EQ(memory().size(), 65536u);
    EXPECT_EQ(memory()[0x60], 0);
}

TEST_F(SpitoolFilesTest, WritesAreReadBackAndAbsentChipsFound)
{
    spit(path("w.txt"), "0005 0006\n");
    Result w = sim({"--sim-fault", "readonly", "write", "0x100", "0x100", "0x2"});
    EXPECT_EQ(w.status, 1);
    EXPECT_EQ(w.err, "spitool: write not verified: at 0x0100 expected 0x0100, read 0x0000\n");
    Result l = sim({"--sim-fault", "readonly", "load", "0x200", path("w.txt")});
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(l.err, "spitool: load not verified: at 0x0200 expected 0x0005, read 0x0000\n");
    Result n = sim({"--sim-fault", "readonly", "--no-verify", "write", "0x100", "1"});
    EXPECT_EQ(n.status, 0) << n.err;
    EXPECT_EQ(n.out, "wrote 1 word at 0x0100\n");

    // No chip: probe and write fail, whatever level the idle line reads.
    Result p = sim({"--sim-fault", "absent", "probe"});
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.out, "");
    EXPECT_NE(p.err.find("probe failed"), std::string::npos) << p.err;
    Result a = sim({"--sim-fault", "absent", "write", "0x100", "1", "2"});
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.out, "");
    EXPECT_EQ(sim({"--chip", "99", "probe"}).status, 2);
    EXPECT_EQ(sim({"--chip", "1", "probe"}).status, 0);
}

TEST_F(SpitoolFilesTest, IntelHexForDumpAndLoad)
{
    ASSERT_EQ(sim({"write", "0x7FFE", "0x1122", "0x3344", "0x5566", "0x7788"}).status, 0);
    // Byte addresses, low byte first, an extended address record at 64 KiB.
    ASSERT_EQ(sim({"dump", "0x7FFE", "4", path("x.hex")}).status, 0);
    const std::string ihex = ":04FFFC002211443357\n:020000040001F9\n:040000006655887742\n:00000001FF\n";
    EXPECT_EQ(slurp(path("x.hex")), ihex);
    // Known by its content under any name; words go from ADDR upward.
    spit(path("x.dat"), ihex);
    Result l = sim({"load", "0x10", path("x.dat")});
    ASSERT_EQ(l.status, 0) << l.err;
    // As an object copier writes it: a start address record, CRLF lines.
    Result s = sim({"load", "0x20", "-"}, ":0602000011223344556693\r\n:0400000300000200F7\r\n:00000001FF\r\n");
    ASSERT_EQ(s.status, 0) << s.err;
    std::vector<uint16_t> mem = memory();
    EXPECT_EQ(std::vector<uint16_t>(mem.begin() + 0x10, mem.begin() + 0x14),
              (std::vector<uint16_t>{0x1122, 0x3344, 0x5566, 0x7788}));
    EXPECT_EQ(std::vector<uint16_t>(mem.begin() + 0x20, mem.begin() + 0x23),
              (std::vector<uint16_t>{0x2211, 0x4433, 0x6655}));

    // "-" is standard output for dump: text unless named, the report on stderr.
    Result o = sim({"dump", "0x10", "2", "-"});
    EXPECT_EQ(o.out, "0010: 1122 3344\n");
    EXPECT_EQ(o.err, "dumped 2 words from 0x0010 to standard output\n");
    EXPECT_EQ(sim({"--format", "ihex", "dump", "0x10", "1", "-"}).out, ":020020002211AB\n:00000001FF\n");

    spit(path("sum.hex"), ":0400000011223344AA\n:00000001FF\n");
    spit(path("gap.hex"), ":020000001122CB\n:0200040055663F\n:00000001FF\n");
    spit(path("cut.hex"), ":020000001122CB\n");
    // Records as the format defines them: a start address of 4 bytes, no
    // data in the end of file, an address record at offset 0; a damaged
    // first record is a record error.
    spit(path("start.hex"), ":0100000500FA\n:00000001FF\n");
    spit(path("eof.hex"), ":020000001122CB\n:0100000100FE\n");
    spit(path("ext.hex"), ":020010040001E9\n:00000001FF\n");
    spit(path("damaged.hex"), ":0G0000000000\n");
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"start.hex", ":1: type 05 record with 1 data bytes, not 4"},
        {"eof.hex", ":2: type 01 record with 1 data bytes, not 0"},
        {"ext.hex", ":1: type 04 record with the offset 0x0010, not 0"},
        {"damaged.hex", ":1: bad hex digit in record"},
        {"sum.hex", ":1: checksum 0xAA, expected 0x52"},
        {"gap.hex", ":2: gap in the data from byte address 0x2 to 0x4"},
        {"cut.hex", ": no end-of-file record"},
    };
    for (const auto &[name, what] : bad)
        expect_failure(sim({"load", "0", path(name)}), 2, "", {path(name) + what});
}

} // namespace
