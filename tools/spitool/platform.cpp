// SPDX-License-Identifier: MIT
#include "platform.h"

#include <sys/stat.h>

#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace spitool {

static volatile std::sig_atomic_t g_signal = 0;
static void record_signal(int s) { g_signal = s; }

int caught_signal() { return g_signal; }

#ifdef _WIN32
void catch_signals()
{
    std::signal(SIGINT, record_signal);
    std::signal(SIGTERM, record_signal);
}

std::string signal_text(int s)
{
    return "signal " + std::to_string(s) + (s == SIGINT ? " (Interrupt)" : " (Terminated)");
}

int terminal_columns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right > info.srWindow.Left ? info.srWindow.Right - info.srWindow.Left + 1 : 80;
}

std::FILE *stdio_stream_of(const std::string &)
{
    return nullptr; // no /dev/stdout; a file's identity is not in its stat
}

void copy_owner(int, const std::string &) {}
#else
void catch_signals()
{
    struct sigaction a = {};
    a.sa_handler = record_signal; // no SA_RESTART
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(s, &a, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

std::string signal_text(int s) { return "signal " + std::to_string(s) + " (" + strsignal(s) + ")"; }

int terminal_columns()
{
    struct winsize w = {};
    if (!isatty(STDERR_FILENO))
        return 0;
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 1 ? w.ws_col : 80;
}

std::FILE *stdio_stream_of(const std::string &path)
{
    struct stat file, stream;
    for (std::FILE *f : {stdout, stderr})
        if (stat(path.c_str(), &file) == 0 && fstat(fileno(f), &stream) == 0 && file.st_dev == stream.st_dev &&
            file.st_ino == stream.st_ino)
            return f;
    return nullptr;
}

void copy_owner(int fd, const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && fchown(fd, st.st_uid, st.st_gid) != 0)
        (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
}
#endif

} // namespace spitool
