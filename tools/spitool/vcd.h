// SPDX-License-Identifier: MIT
// Value Change Dump of the parallel-port link: the eight data lines and the
// chip's data-out line, one time step per output byte.
#pragma once

#include <cstdint>
#include <string>

#include "fileio.h"
#include "noncopyable.h"

namespace spitool {

// A file that was not closed is dropped: the target stays as it was.
class VcdWriter : NonCopyable {
public:
    // Starts the file (beside its target until close()) and writes the
    // header. Throws Failure.
    void open(const std::string &path);

    // Appends n output bytes and their status bytes (bit 6: data-out),
    // writing only the lines that change.
    void record(const uint8_t *out, const uint8_t *status, uint32_t n);

    // Writes the closing time stamp and puts the file in place. Throws
    // Failure when it could not be written completely; the target is then
    // as it was.
    void close();

private:
    OutputFile out_;
    bool open_ = false;
    uint64_t time_ = 0; // output bytes recorded so far
    int lines_ = -1;    // last data-line byte written, -1 before the first
    int miso_ = -1;
};

} // namespace spitool
