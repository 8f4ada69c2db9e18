// Value Change Dump of the parallel-port link: the eight data lines and the
// chip's data-out line, one time step per output byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace spitool {

class VcdWriter {
public:
    VcdWriter() = default;
    VcdWriter(const VcdWriter &) = delete;
    VcdWriter &operator=(const VcdWriter &) = delete;
    ~VcdWriter();

    // Creates the file and writes the header. Throws Failure.
    void open(const std::string &path);

    // Appends n output bytes and their status bytes (bit 6: data-out),
    // writing only the lines that change.
    void record(const uint8_t *out, const uint8_t *status, uint32_t n);

    // Writes the closing time stamp and closes the file. Throws Failure when
    // the file could not be written completely.
    void close();

private:
    std::FILE *file_ = nullptr;
    std::string path_;
    uint64_t time_ = 0; // output bytes recorded so far
    int lines_ = -1;    // last data-line byte written, -1 before the first
    int miso_ = -1;
};

} // namespace spitool
