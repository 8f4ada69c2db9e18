// SPDX-License-Identifier: MIT
// Files spitool reads and writes, so that no run loses data and no input
// can exhaust memory:
// - an output file is written beside its target under a temporary name,
//   flushed to the disk and renamed over the target only when complete; on
//   any failure the target keeps its old contents and the temporary file is
//   removed (a device or pipe, which cannot be replaced, is written in
//   place);
// - an input file is refused by its size before it is read, and a device or
//   pipe is read only a little beyond what its reader can take;
// - "-" names standard input or standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "noncopyable.h"

namespace spitool {

// Whether path names standard input or output.
inline bool is_stdio(const std::string &path) { return path == "-"; }

class OutputFile : NonCopyable {
public:
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    // Creates the temporary file beside path ("-": standard output, which is
    // written directly, as is a device or pipe). Throws Failure.
    void open(const std::string &path);
    bool is_open() const { return file_ != nullptr; }

    // Writes to the file; a failure is kept and reported by commit().
    void write(const void *data, size_t n);
    void write(const std::string &s) { write(s.data(), s.size()); }
    void print(const char *format, ...) __attribute__((format(printf, 2, 3)));

    // Flushes, syncs and closes the file and renames it over the target.
    // Throws Failure, after which the target is as it was.
    void commit();
    // Drops what was written; the target stays as it was.
    void discard();

    const std::string &path() const { return path_; }

private:
    std::FILE *file_ = nullptr;
    std::string path_;   // as given
    std::string target_; // the file that is replaced (a symbolic link followed)
    std::string temp_;   // empty for standard output
    int error_ = 0;      // errno of the first failed write
    bool device_ = false; // a device or pipe, written in place
    bool existed_ = false; // the target was there before
};

// Writes bytes to path through an OutputFile. Throws Failure.
void write_output(const std::string &path, const std::string &bytes);

// An input file ("-": standard input).
class InputFile : NonCopyable {
public:
    ~InputFile();

    // Opens path. Throws UsageError when it cannot be opened.
    void open(const std::string &path);
    // The size of a regular file, -1 for a device, pipe or terminal.
    long long size() const { return size_; }
    // Appends to *data until the end of the input or until *data holds
    // more than limit bytes (then at most limit + 1). Returns false in the
    // second case. Throws UsageError on a read error.
    bool read_upto(std::string *data, size_t limit);
    std::FILE *stream() { return file_; }
    // Whether the input can be read again from its start (not a pipe).
    bool rewindable();
    // Sets the input back to where it stood when rewindable() said so.
    void rewind();

    const std::string &path() const { return path_; }
    // "stdin" for "-", else the path: for messages.
    std::string name() const { return is_stdio(path_) ? "stdin" : path_; }

private:
    std::FILE *file_ = nullptr;
    bool owned_ = false;
    std::string path_;
    long long size_ = -1;
    long start_ = -1; // where a rewindable input started
};

// The lines of a stream, one at a time, each without its end: first those
// of head (bytes already taken from the stream), then the rest of f.
class LineReader {
public:
    // name: the input in messages. A line longer than max_line bytes, or
    // more than max_total bytes from f, throws UsageError.
    LineReader(std::FILE *f, std::string name, size_t max_line, size_t max_total = SIZE_MAX,
               std::string head = "");
    // false at the end of the input.
    bool next(std::string *line);
    // The number of the line next() gave last, from 1.
    size_t line_no() const { return line_no_; }

private:
    std::FILE *file_;
    std::string name_, head_;
    size_t pos_ = 0, max_line_, max_total_, total_ = 0, line_no_ = 0;
};

// Reads a whole input of at most limit bytes; a larger one is refused with
// a UsageError that names what it is.
std::string read_input(const std::string &path, size_t limit, const std::string &what);

// A temporary file that is gone when closed: for a copy of a pipe.
std::FILE *anonymous_temp_file();

// Whether standard error is a terminal.
bool stderr_is_terminal();

// Whether the file exists (as any kind of file).
bool file_exists(const std::string &path);

// Throws UsageError when two of the named outputs are the same file: the
// same device and inode where both exist, the same normalised path
// otherwise. Each entry is (what, path), e.g. ("--vcd", "w.vcd"); "-" and
// empty paths are skipped.
void check_distinct_outputs(const std::vector<std::pair<std::string, std::string>> &outputs);

} // namespace spitool
