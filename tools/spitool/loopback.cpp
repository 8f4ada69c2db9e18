// SPDX-License-Identifier: MIT
// The loopback check's pattern and the diagnosis of what the status bytes
// show. Pure functions: the play itself is in loopback_port.cpp.
#include "loopback.h"

#include <cstdio>

#include "spifns_wire.h"

namespace spitool {

namespace {

// 512 bytes: one period of a 9-bit maximal-length sequence (511 bits) and
// one more. Shifted by any lag up to LOOPBACK_MAX_LAG, it differs from
// itself in about half the bits, so no lag fits by chance.
constexpr size_t PATTERN_BYTES = 512;

// Status bits a plug on another pin would show up on, with their pins.
struct StatusPin {
    int bit;
    int pin;
    const char *name;
};
constexpr StatusPin OTHER_INPUTS[] = {
    {7, 11, "BUSY, read inverted"}, {5, 12, "PAPER OUT"}, {4, 13, "SELECT"}, {3, 15, "ERROR"}};

bool d6(const uint8_t *out, size_t i)
{
    return (out[i] & LINE_MOSI) != 0;
}

// Status bit `bit` of every byte from `lag` on equals D6 of the byte `lag`
// earlier (inverted when asked).
bool follows(const uint8_t *out, const uint8_t *status, size_t n, int bit, bool inverted, size_t lag)
{
    for (size_t i = lag; i < n; i++)
        if ((((status[i] >> bit) & 1) != 0) != (d6(out, i - lag) != inverted))
            return false;
    return true;
}

std::string number(size_t n)
{
    return std::to_string(n);
}

} // namespace

std::vector<uint8_t> loopback_pattern()
{
    std::vector<uint8_t> out(PATTERN_BYTES);
    uint32_t lfsr = 0x1FF; // x^9 + x^5 + 1
    for (uint8_t &b : out) {
        uint32_t bit = ((lfsr >> 8) ^ (lfsr >> 4)) & 1;
        lfsr = ((lfsr << 1) | bit) & 0x1FF;
        b = static_cast<uint8_t>(LINE_NEUTRAL | (bit ? LINE_MOSI : 0));
    }
    return out;
}

LoopbackResult diagnose_loopback(const uint8_t *out, const uint8_t *status, size_t n)
{
    LoopbackResult r;
    r.samples = n;
    size_t high = 0;
    for (size_t i = 0; i < n; i++) {
        high += (status[i] & STATUS_MISO) ? 1 : 0;
        r.mismatches += ((status[i] & STATUS_MISO) != 0) != d6(out, i) ? 1 : 0;
    }
    if (n > 0 && (high == n || high == 0)) {
        r.kind = high ? LoopbackResult::AlwaysHigh : LoopbackResult::AlwaysLow;
        for (const StatusPin &p : OTHER_INPUTS)
            for (bool inverted : {false, true})
                if (r.other_bit < 0 && follows(out, status, n, p.bit, inverted, 0)) {
                    r.other_bit = p.bit;
                    r.other_inverted = inverted;
                }
        return r;
    }
    for (uint32_t lag = 0; lag <= LOOPBACK_MAX_LAG && lag < n; lag++)
        for (bool inverted : {false, true})
            if (follows(out, status, n, 6, inverted, lag)) {
                r.kind = lag == 0 && !inverted ? LoopbackResult::Ok : LoopbackResult::Follows;
                r.inverted = inverted;
                r.lag = lag;
                return r;
            }
    r.kind = LoopbackResult::Erratic;
    return r;
}

std::string describe_loopback(const LoopbackResult &r)
{
    const std::string samples = " (" + number(r.samples) + " samples)";
    std::string t;
    switch (r.kind) {
    case LoopbackResult::Ok:
        return "loopback ok: status bit 6 follows D6 in all " + number(r.samples) +
               " samples: port mode, polarity and sample position are right";
    case LoopbackResult::AlwaysHigh:
        t = "loopback failed: status bit 6 is always high" + samples +
            ": no plug, the plug on other pins, or the data lines not driven (the port in ECP "
            "or EPP mode, or the direction bit 0x20 of its control register set)";
        break;
    case LoopbackResult::AlwaysLow:
        t = "loopback failed: status bit 6 is always low" + samples +
            ": pin 10 held low, or these are not the port's registers (wrong I/O base)";
        break;
    case LoopbackResult::Follows: {
        t = "loopback failed: status bit 6 follows D6";
        if (r.inverted)
            t += r.lag ? " inverted and" : " inverted";
        if (r.lag)
            t += " " + number(r.lag) + " sample" + (r.lag == 1 ? "" : "s") + " late";
        t += samples;
        if (r.inverted)
            t += ": the plug reaches an inverted input (pin 11, BUSY, is status bit 7 and "
                 "reads inverted) or the wrong status bit is read";
        if (r.lag) {
            // Each bit is sampled 2 x period accesses after the write that
            // launched it: a lag of up to 2 x period - 1 still samples right.
            uint32_t period = (r.lag + 2) / 2;
            char clock[32];
            std::snprintf(clock, sizeof clock, "%.4g", CLOCK_FACTOR / period);
            t += std::string(r.inverted ? "; " : ": ") + "the status read comes " + number(r.lag) +
                 " access" + (r.lag == 1 ? "" : "es") + " before the line change shows; " +
                 (period == 1 ? std::string("every shift period still samples right")
                              : "shift periods " + number(period) +
                                    " and up still sample right (SPISHIFTPERIOD " +
                                    number(period) + ", --clock " + clock + " or lower)");
        }
        return t;
    }
    case LoopbackResult::Erratic:
        return "loopback failed: status bit 6 is erratic: " + number(r.mismatches) + " of " +
               number(r.samples) + " samples differ from D6 and no lag up to " +
               number(LOOPBACK_MAX_LAG) + " fits: another program driving the port, or a bad "
               "cable or plug";
    }
    if (r.other_bit >= 0)
        for (const StatusPin &p : OTHER_INPUTS)
            if (p.bit == r.other_bit)
                t += "; status bit " + number(static_cast<size_t>(p.bit)) + " (pin " +
                     number(static_cast<size_t>(p.pin)) + ", " + p.name + ") follows D6" +
                     (r.other_inverted ? " inverted" : "") + ": the plug is on pin " +
                     number(static_cast<size_t>(p.pin)) + ", not pin 10";
    return t;
}

} // namespace spitool
