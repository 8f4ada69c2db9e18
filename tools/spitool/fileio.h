// SPDX-License-Identifier: MIT
// Files spitool reads and writes, so that no run loses data and no input
// can exhaust memory:
// - an output file is written beside its target under a temporary name,
//   flushed to the disk and renamed over the target only when complete; on
//   any failure the target keeps its old contents and the temporary file is
//   removed (a device or pipe, which cannot be replaced, is written in
//   place);
// - an input is refused by its size before it is read, and a device or pipe
//   is read only a little beyond what its reader can take;
// - "-" names standard input or standard output.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace spitool {

// The most spitool takes from one text input: a script, a hex text or Intel
// HEX word file.
constexpr size_t TEXT_LIMIT = 16u << 20;

// Whether path names standard input or output.
inline bool is_stdio(const std::string &path) { return path == "-"; }

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile() { discard(); }

    // Creates the temporary file beside path. Written in place instead:
    // "-" (standard output), the file standard output or error writes to
    // (/dev/stdout, an appending redirection), a device or a pipe. Throws
    // Failure.
    void open(const std::string &path);
    // Writes to the file; returns the errno of the first write that failed
    // (kept for commit()), or 0.
    int write(const std::string &s);
    // Flushes, syncs and closes the file and renames it over the target.
    // Throws Failure, after which the target is as it was.
    void commit();
    // Drops what was written; the target stays as it was.
    void discard();
    // "cannot write PATH: why (the old file is unchanged)".
    std::string failure(const std::string &why) const;

private:
    std::FILE *file_ = nullptr;
    std::string path_;   // as given
    std::string target_; // the file that is replaced (symbolic links followed)
    std::string temp_;   // empty for what is written in place
    int error_ = 0;      // errno of the first failed write
    const char *kept_ = ""; // what a failure leaves: " (the old file is unchanged)"; "" in place
};

// Writes bytes to path through an OutputFile. Throws Failure.
void write_output(const std::string &path, const std::string &bytes);

// An input file ("-": standard input), opened by the constructor (UsageError
// when it cannot be).
class InputFile {
public:
    explicit InputFile(const std::string &path);
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile();

    // "stdin" for "-", else the path: for messages.
    const std::string &name() const { return name_; }
    // Appends to *data until the end of the input, or until *data holds more
    // than limit bytes (then at most limit + 1). With what, that input is
    // refused instead, a UsageError naming what it was read for (a regular
    // file by its size, before it is read). Throws UsageError on a read
    // error.
    void read(std::string *data, size_t limit, const char *what = nullptr);

private:
    std::FILE *file_;
    std::string name_;
    long long size_ = -1; // of a regular file
};

// Flushes standard output. Returns 0, or the errno of the first failure of
// a write to it.
int flush_stdout();

// Throws UsageError when two of the named outputs are the same file: the
// same file where both exist, the same normalised path otherwise. Each entry
// is (what, path), e.g. ("--vcd", "w.vcd"); "-", empty paths and devices are
// skipped.
void check_distinct_outputs(const std::vector<std::pair<std::string, std::string>> &outputs);

} // namespace spitool
