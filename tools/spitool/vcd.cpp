// SPDX-License-Identifier: MIT
#include "vcd.h"

#include "spifns_wire.h"
#include "text.h"

namespace spitool {

namespace {

// Data line names by bit: bit 0 chip select, bit 1 the second select line,
// bits 1 to 5 double as the multiplexer channel (MUXn names the data line
// bit n where it has no other use), bit 4 the auxiliary line, bit 6 data to
// the chip, bit 7 the clock.
const char *const LINE_NAMES[8] = {"CS", "SEL2", "MUX2", "MUX3", "AUX", "MUX5", "MOSI", "CLK"};
// One-character identifiers: letters only, so no reader can take one for a
// keyword or a time stamp.
const char LINE_IDS[8] = {'c', 's', 'm', 'n', 'a', 'o', 'd', 'k'};
const char MISO_ID = 'i';

} // namespace

void VcdWriter::open(const std::string &path)
{
    out_.open(path);
    open_ = true;
    out_.write("$comment\n"
               "  spitool: parallel port data lines and the chip's data-out line (MISO),\n"
               "  one time step per output byte; SPI mode 3, chip select active low\n"
               "$end\n"
               "$version spitool $end\n"
               "$timescale 1 us $end\n"
               "$scope module lpt $end\n");
    for (int b = 0; b < 8; b++)
        out_.print("$var wire 1 %c %s $end\n", LINE_IDS[b], LINE_NAMES[b]);
    out_.print("$var wire 1 %c MISO $end\n", MISO_ID);
    out_.write("$upscope $end\n$enddefinitions $end\n");
}

void VcdWriter::record(const uint8_t *out, const uint8_t *status, uint32_t n)
{
    if (!open_)
        return;
    for (uint32_t i = 0; i < n; i++, time_++) {
        int lines = out[i];
        int miso = (status[i] & STATUS_MISO) ? 1 : 0;
        if (lines_ < 0) {
            out_.write("#0\n$dumpvars\n");
            for (int b = 0; b < 8; b++)
                out_.print("%d%c\n", (lines >> b) & 1, LINE_IDS[b]);
            out_.print("%d%c\n$end\n", miso, MISO_ID);
        } else if (lines != lines_ || miso != miso_) {
            out_.print("#%llu\n", static_cast<unsigned long long>(time_));
            int changed = lines ^ lines_;
            for (int b = 0; b < 8; b++)
                if ((changed >> b) & 1)
                    out_.print("%d%c\n", (lines >> b) & 1, LINE_IDS[b]);
            if (miso != miso_)
                out_.print("%d%c\n", miso, MISO_ID);
        }
        lines_ = lines;
        miso_ = miso;
    }
}

void VcdWriter::close()
{
    if (!open_)
        return;
    if (lines_ < 0) {
        // Nothing was played: every line unknown.
        out_.write("#0\n$dumpvars\n");
        for (int b = 0; b < 8; b++)
            out_.print("x%c\n", LINE_IDS[b]);
        out_.print("x%c\n$end\n", MISO_ID);
    }
    // The last byte lasts one time step too.
    out_.print("#%llu\n", static_cast<unsigned long long>(time_ > 0 ? time_ : 1));
    open_ = false;
    out_.commit();
}

} // namespace spitool
