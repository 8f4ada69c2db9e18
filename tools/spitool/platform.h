// SPDX-License-Identifier: MIT
// What spitool needs from the system beyond the C and C++ libraries, for
// POSIX and Windows in this one place: signals, the terminal's width, the
// owner of a file and the files standard output and error are open to.
#pragma once

#include <cstdio>
#include <string>

namespace spitool {

// From here on SIGINT, SIGTERM, SIGHUP and SIGPIPE are recorded, not obeyed,
// and interrupt a blocking read or write instead of restarting it, so that
// the run stops between two statements and cleans up; SIGXFSZ is ignored,
// so that a write past the file-size limit fails with EFBIG.
void catch_signals();
// The last signal caught, 0 for none.
int caught_signal();
// "signal 2 (Interrupt)".
std::string signal_text(int signal);

// The columns of the terminal standard error writes to (80 when it does not
// tell); 0 when standard error is no terminal.
int terminal_columns();

// stdout or stderr when path names the file that stream writes to (also
// through /dev/stdout and the like), else nullptr.
std::FILE *stdio_stream_of(const std::string &path);

// Gives the file open as fd the owner and group of the file at path, or
// the group alone, as far as the user may.
void copy_owner(int fd, const std::string &path);

} // namespace spitool
