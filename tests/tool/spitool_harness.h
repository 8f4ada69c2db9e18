// SPDX-License-Identifier: MIT
// Runs the built spitool as a user would: every test spawns the binary,
// which loads the library beside it, and looks at its exit status, its
// output and the files it leaves. The simulated board (--sim) stands in for
// the hardware.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace spitool_test {

struct Result {
    int status = -1;      // exit status, -1 when killed by a signal
    std::string out, err; // stdout, stderr
};

inline std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void spit(const std::string &path, const std::string &data)
{
    std::ofstream f(path, std::ios::binary);
    f << data;
}

// How spitool's standard input, output, environment and limits are set up.
struct RunSetup {
    bool pipe_stdin = false;  // a pipe, not a file
    long file_size_limit = 0; // RLIMIT_FSIZE in bytes; 0: none
    std::string stdout_file{}; // standard output appended to this file (Result::out stays empty)
    std::string env{};         // "NAME=VALUE" set for spitool
};

class SpitoolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/spitool_test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    // Runs spitool with args; stdin_text is fed to its standard input.
    Result run(const std::vector<std::string> &args, const std::string &stdin_text = "",
               const RunSetup &setup = {})
    {
        return finish(start(args, stdin_text, setup));
    }

    // Starts spitool as run() does; finish() waits for it.
    pid_t start(const std::vector<std::string> &args, const std::string &stdin_text = "",
                const RunSetup &setup = {})
    {
        std::string in = path("stdin"), out = path("stdout"), err = path("stderr");
        spit(in, stdin_text);
        int feed[2] = {-1, -1};
        pid_t writer = -1;
        if (setup.pipe_stdin) {
            if (pipe(feed) != 0)
                return {};
            writer = fork();
            if (writer == 0) { // writes the text and goes, whether read or not
                signal(SIGPIPE, SIG_IGN);
                close(feed[0]);
                size_t done = 0;
                while (done < stdin_text.size()) {
                    ssize_t n = write(feed[1], stdin_text.data() + done, stdin_text.size() - done);
                    if (n <= 0)
                        break;
                    done += static_cast<size_t>(n);
                }
                _exit(0);
            }
        }
        pid_t pid = fork();
        if (pid == 0) {
            int fi = setup.pipe_stdin ? feed[0] : open(in.c_str(), O_RDONLY);
            const bool append = !setup.stdout_file.empty();
            int fo = open(append ? setup.stdout_file.c_str() : out.c_str(),
                          O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
            int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fi < 0 || fo < 0 || fe < 0)
                _exit(127);
            dup2(fi, 0);
            dup2(fo, 1);
            dup2(fe, 2);
            if (setup.pipe_stdin)
                close(feed[1]);
            if (setup.file_size_limit) {
                signal(SIGXFSZ, SIG_DFL); // spitool ignores it itself, or dies of it
                struct rlimit l = {static_cast<rlim_t>(setup.file_size_limit),
                                   static_cast<rlim_t>(setup.file_size_limit)};
                setrlimit(RLIMIT_FSIZE, &l);
            }
            if (!setup.env.empty())
                putenv(const_cast<char *>(setup.env.c_str()));
            std::vector<char *> argv;
            argv.push_back(const_cast<char *>(SPITOOL_EXE));
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(SPITOOL_EXE, argv.data());
            _exit(127);
        }
        if (setup.pipe_stdin) {
            close(feed[0]);
            close(feed[1]);
        }
        writer_ = writer;
        return pid;
    }

    Result finish(pid_t pid)
    {
        int ws = 0;
        waitpid(pid, &ws, 0);
        if (writer_ > 0)
            waitpid(std::exchange(writer_, -1), nullptr, 0);
        Result r;
        r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
        r.out = slurp(path("stdout"));
        r.err = slurp(path("stderr"));
        return r;
    }

    // Checks that a run succeeded and printed exactly out.
    static void expect_output(const Result &r, const std::string &out)
    {
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, out);
    }

    // Checks that a run ended with status and printed exactly out, and that
    // stderr holds one line per entry of err, "spitool: " and that entry at
    // its start, and holds phrase.
    static void expect_failure(const Result &r, int status, const std::string &out,
                               const std::vector<std::string> &err, const std::string &phrase = "")
    {
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_EQ(r.out, out);
        std::istringstream lines(r.err);
        std::string line;
        for (size_t i = 0; std::getline(lines, line); i++) {
            ASSERT_LT(i, err.size()) << r.err;
            EXPECT_EQ(line.rfind("spitool: " + err[i], 0), 0u) << r.err;
        }
        EXPECT_NE(r.err.find(phrase), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), static_cast<long>(err.size())) << r.err;
    }

    // Runs with the simulated board and its memory in mem.bin.
    Result sim(std::vector<std::string> args, const std::string &stdin_text = "", RunSetup setup = {})
    {
        args.insert(args.begin(), {"--sim", "--sim-memory", path("mem.bin")});
        return run(args, stdin_text, setup);
    }

    // Runs text as the script file s.txt with the simulated board; options
    // go before the command.
    Result run_script(const std::string &text, std::vector<std::string> options = {})
    {
        spit(path("s.txt"), text);
        options.insert(options.end(), {"run", path("s.txt")});
        return sim(options);
    }

    // Chip 0 memory as the simulation left it.
    std::vector<uint16_t> memory()
    {
        std::string b = slurp(path("mem.bin"));
        std::vector<uint16_t> w(b.size() / 2);
        for (size_t i = 0; i < w.size(); i++)
            w[i] = static_cast<uint16_t>(static_cast<uint8_t>(b[2 * i]) |
                                         static_cast<uint8_t>(b[2 * i + 1]) << 8);
        return w;
    }

    std::string dir_;
    pid_t writer_ = -1; // the process feeding a piped standard input
};

} // namespace spitool_test
