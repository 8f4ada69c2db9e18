// SPDX-License-Identifier: MIT
// The loopback check's pattern and the diagnosis of what the status bytes
// show. Pure functions: the play itself is in loopback_port.cpp.
#include "loopback.h"

#include "spifns_wire.h"
#include "text.h"

namespace spitool {

namespace {

// 512 bytes: one period of a 9-bit maximal-length sequence (511 bits) and
// one more. Shifted by any lag up to LOOPBACK_MAX_LAG, it differs from
// itself in about half the bits, so no lag fits by chance.
constexpr size_t PATTERN_BYTES = 512;

// The other input pins a plug could be on, with their status bits and how
// each reads the pin (BUSY inverted, the others straight).
struct StatusPin {
    int bit;
    int pin;
    const char *name;
    bool inverted;
};
constexpr StatusPin OTHER_INPUTS[] = {{7, 11, "BUSY, read inverted", true},
                                      {5, 12, "PAPER OUT", false},
                                      {4, 13, "SELECT", false},
                                      {3, 15, "ERROR", false}};

// Status bit `bit` of every byte from `lag` on equals D6 of the byte `lag`
// earlier (inverted when asked).
bool follows(const uint8_t *out, const uint8_t *status, size_t n, int bit, bool inverted, size_t lag)
{
    for (size_t i = lag; i < n; i++)
        if ((((status[i] >> bit) & 1) != 0) != (((out[i - lag] & LINE_MOSI) != 0) != inverted))
            return false;
    return true;
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
        r.mismatches += ((status[i] ^ out[i]) & STATUS_MISO) ? 1 : 0; // status bit 6 against D6
    }
    if (n > 0 && (high == n || high == 0)) {
        r.kind = high ? LoopbackResult::AlwaysHigh : LoopbackResult::AlwaysLow;
        for (const StatusPin &p : OTHER_INPUTS) // at any lag up to LOOPBACK_MAX_LAG
            for (uint32_t lag = 0; r.other_bit < 0 && lag <= LOOPBACK_MAX_LAG && lag < n; lag++)
                if (follows(out, status, n, p.bit, p.inverted, lag))
                    r.other_bit = p.bit;
        return r;
    }
    // The smallest lag first; at one lag the straight reading first.
    for (uint32_t lag = 0; lag <= LOOPBACK_MAX_LAG && lag < n; lag++)
        for (bool inverted : {false, true})
            if (follows(out, status, n, 6, inverted, lag)) {
                r.kind = lag == 0 && !inverted ? LoopbackResult::Ok : LoopbackResult::Follows;
                r.inverted = inverted;
                r.lag = lag;
                return r;
            }
    return r; // erratic
}

uint32_t loopback_min_period(uint32_t lag) { return lag > 1 ? lag : 1; }

std::string describe_loopback(const LoopbackResult &r)
{
    const unsigned n = unsigned(r.samples);
    const std::string samples = strprintf(" (%u samples)", n);
    const char *plural = r.lag == 1 ? "" : "s";
    std::string t;
    switch (r.kind) {
    case LoopbackResult::Ok:
        return strprintf("loopback ok: status bit 6 follows D6 in all %u samples: port mode, polarity and "
                         "sample position are right", n);
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
        const uint32_t period = loopback_min_period(r.lag);
        t = std::string("loopback failed: status bit 6 follows D6") +
            (r.inverted ? r.lag ? " inverted and" : " inverted" : "") +
            (r.lag ? strprintf(" %u output byte%s late", r.lag, plural) : "") + samples;
        if (r.inverted)
            t += ": pin 10 sees D6 inverted (an inverting adapter or buffer between pin 8 and "
                 "pin 10, or a port whose ACK input inverts); reads from a chip would come back "
                 "inverted";
        if (r.lag)
            t += strprintf("%s a line change shows in the status %u output byte%s after it was written; ",
                           r.inverted ? ";" : ":", r.lag, plural) +
                 (period == 1 ? "every shift period still samples right"
                              : strprintf("shift periods %u and up still sample right (SPISHIFTPERIOD %u, "
                                          "--clock %.4g or lower)", period, period, CLOCK_FACTOR / period));
        return t;
    }
    case LoopbackResult::Erratic:
        return strprintf("loopback failed: status bit 6 is erratic: %u of %u samples differ from D6 and no "
                         "lag up to %u fits: another program driving the port, or a bad cable or plug",
                         unsigned(r.mismatches), n, LOOPBACK_MAX_LAG);
    }
    for (const StatusPin &p : OTHER_INPUTS)
        if (p.bit == r.other_bit)
            t += strprintf("; status bit %d (pin %d, %s) follows D6%s: the plug is on pin %d, not pin 10",
                           p.bit, p.pin, p.name, p.inverted ? " inverted" : "", p.pin);
    return t;
}

} // namespace spitool
