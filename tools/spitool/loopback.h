// SPDX-License-Identifier: MIT
// The loopback check: with a plug from pin 8 (D6, data to the chip) to
// pin 10 (ACK, status bit 6) and no chip selected, status bit 6 must follow
// D6 in every status byte of a play. spitool plays a pseudo-random D6
// pattern straight through the port device (the library never returns raw
// status bytes) and says what the status bytes show: the port's mode, the
// polarity of the data-out input and the sample position, checked without
// a chip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace spitool {

class Session;

// Output bytes of the check: chip select high throughout (no chip selected),
// clock low, D6 a pseudo-random bit sequence, the other lines as the
// library leaves them at load.
std::vector<uint8_t> loopback_pattern();

// Lags tried, in output bytes, when status bit 6 does not follow D6 at once.
constexpr uint32_t LOOPBACK_MAX_LAG = 64;

struct LoopbackResult {
    enum Kind { Ok, AlwaysHigh, AlwaysLow, Follows, Erratic } kind = Erratic;
    size_t samples = 0;     // status bytes compared
    bool inverted = false;  // Follows: bit 6 is D6 inverted
    uint32_t lag = 0;       // Follows: bit 6 shows D6 of this many output bytes earlier
    size_t mismatches = 0;  // Erratic: samples that differ from D6 (no lag)
    int other_bit = -1;     // always high or low: the status bit of another input pin that
                            // follows D6 as a plug on that pin would show it (-1: none)
};

// Compares status bit 6 of status[i] with D6 of out[i] (i < n), at lags of
// 0 to LOOPBACK_MAX_LAG bytes, straight and inverted.
LoopbackResult diagnose_loopback(const uint8_t *out, const uint8_t *status, size_t n);

// The smallest shift period that still samples right when the status shows
// a line change lag output bytes late. The library samples each bit at the
// first byte of its clock's high half, one shift period after the byte that
// changed the chip's data-out, so a lag of up to one period is still right.
uint32_t loopback_min_period(uint32_t lag);

// The one line spitool prints for a result: "loopback ok: ..." or
// "loopback failed: ...".
std::string describe_loopback(const LoopbackResult &r);

// Why the port numbered by the text does not open, from its device: "; "
// and the reason (on Windows: no device, the open refused, the probe byte
// refused; on Linux: no device and the modules to load, permission and the
// lp group, busy, claim timed out, read-back failed); empty when it opens
// now or spitool cannot tell.
std::string port_trouble(const std::string &number);

// spitool loopback: plays the pattern on --port's device (on the simulated
// board with --sim) and prints the line when bit 6 follows D6; throws
// Failure for a failed check or an unusable port.
void cmd_loopback(Session &s);

} // namespace spitool
