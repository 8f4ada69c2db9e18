// SPDX-License-Identifier: MIT
// The loopback check's diagnosis on status bytes made up from its pattern:
// one row for each way a port can answer.
#include <gtest/gtest.h>

#include <functional>

#include "loopback.h"

namespace {

using spitool::LoopbackResult;

TEST(LoopbackDiagnosis, NamesEachWayThePortAnswers)
{
    const std::vector<uint8_t> out = spitool::loopback_pattern();
    ASSERT_GE(out.size(), 256u);
    auto d6 = [&](size_t i) { return static_cast<uint8_t>(out[i] & 0x40); };
    // Status bit 6 showing D6 `lag` bytes late; before that, the line high.
    auto late = [&](size_t lag, uint8_t flip) {
        return [=](size_t i) { return static_cast<uint8_t>(i < lag ? 0x40 : d6(i - lag) ^ flip); };
    };
    struct Row {
        const char *name;
        std::function<uint8_t(size_t)> status;
        LoopbackResult::Kind kind;
        bool inverted;
        uint32_t lag;
        const char *line; // what the printed line holds
    };
    const Row rows[] = {
        {"follows", late(0, 0), LoopbackResult::Ok, false, 0,
         "loopback ok: status bit 6 follows D6 in all 512 samples: port mode, polarity and sample "
         "position are right"},
        // Other status bits never matter.
        {"follows, other bits set", [&](size_t i) { return static_cast<uint8_t>(d6(i) | 0xB8); },
         LoopbackResult::Ok, false, 0, "status bit 6 follows D6 in all 512 samples"},
        {"high", [](size_t) { return uint8_t{0xF8}; }, LoopbackResult::AlwaysHigh, false, 0,
         "loopback failed: status bit 6 is always high (512 samples): no plug, the plug on other "
         "pins, or the data lines not driven (the port in ECP or EPP mode, or the direction bit "
         "0x20 of its control register set)"},
        {"high, plug on pin 11", [&](size_t i) { return static_cast<uint8_t>(0x40 | (d6(i) ? 0 : 0x80)); },
         LoopbackResult::AlwaysHigh, false, 0,
         "; status bit 7 (pin 11, BUSY, read inverted) follows D6 inverted: the plug is on pin 11, not pin 10"},
        {"high, plug on pin 12, 2 bytes late",
         [&](size_t i) { return static_cast<uint8_t>(0x40 | (i < 2 ? 0 : d6(i - 2) >> 1)); },
         LoopbackResult::AlwaysHigh, false, 0, "; status bit 5 (pin 12, PAPER OUT) follows D6: the plug is on pin 12"},
        // A plug on pin 11 reads inverted, on pin 12 straight: no hint for the other polarity.
        {"high, bit 7 straight", [&](size_t i) { return static_cast<uint8_t>(0x40 | d6(i) << 1); },
         LoopbackResult::AlwaysHigh, false, 0,
         "loopback failed: status bit 6 is always high (512 samples): no plug, the plug on other "
         "pins, or the data lines not driven (the port in ECP or EPP mode, or the direction bit "
         "0x20 of its control register set)"},
        {"low", [](size_t) { return uint8_t{0}; }, LoopbackResult::AlwaysLow, false, 0,
         "loopback failed: status bit 6 is always low (512 samples): pin 10 held low, or these "
         "are not the port's registers (wrong I/O base)"},
        {"inverted", late(0, 0x40), LoopbackResult::Follows, true, 0,
         "loopback failed: status bit 6 follows D6 inverted (512 samples): pin 10 sees D6 inverted "
         "(an inverting adapter or buffer between pin 8 and pin 10, or a port whose ACK input "
         "inverts); reads from a chip would come back inverted"},
        {"lag 1", late(1, 0), LoopbackResult::Follows, false, 1,
         "follows D6 1 output byte late (512 samples): a line change shows in the status 1 output "
         "byte after it was written; every shift period still samples right"},
        {"lag 3", late(3, 0), LoopbackResult::Follows, false, 3,
         "3 output bytes late (512 samples): a line change shows in the status 3 output bytes after "
         "it was written; shift periods 3 and up still sample right (SPISHIFTPERIOD 3, --clock 57.47 "
         "or lower)"},
        {"lag 64, inverted", late(64, 0x40), LoopbackResult::Follows, true, 64,
         "follows D6 inverted and 64 output bytes late (512 samples): pin 10 sees D6 inverted"},
        {"lag beyond the range", late(65, 0), LoopbackResult::Erratic, false, 0, "no lag up to 64 fits"},
        {"glitches", [&](size_t i) { return static_cast<uint8_t>(d6(i) ^ (i == 100 || i == 300 ? 0x40 : 0)); },
         LoopbackResult::Erratic, false, 0,
         "loopback failed: status bit 6 is erratic: 2 of 512 samples differ from D6 and no lag up "
         "to 64 fits: another program driving the port, or a bad cable or plug"},
    };
    for (const Row &row : rows) {
        std::vector<uint8_t> status(out.size());
        for (size_t i = 0; i < out.size(); i++)
            status[i] = row.status(i);
        LoopbackResult r = spitool::diagnose_loopback(out.data(), status.data(), out.size());
        EXPECT_EQ(r.kind, row.kind) << row.name;
        EXPECT_EQ(r.inverted, row.inverted) << row.name;
        EXPECT_EQ(r.lag, row.lag) << row.name;
        // A row's text is the whole line when it starts it, else a part of it.
        const std::string line = spitool::describe_loopback(r), want = row.line;
        if (want.rfind("loopback", 0) == 0)
            EXPECT_EQ(line, want) << row.name;
        else
            EXPECT_NE(line.find(want), std::string::npos) << row.name << ": " << line;
    }
}

} // namespace
