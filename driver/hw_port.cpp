// SPDX-License-Identifier: MIT
// The hardware back end's register work; see hw_port.h.
#include "hw_port.h"

namespace {

void out(hw_port *p, uint32_t address, uint8_t value)
{
    p->io.out(p->io.context, address, value);
}

uint8_t in(hw_port *p, uint32_t address)
{
    return p->io.in(p->io.context, address);
}

uint32_t control_register(const hw_port *p)
{
    return p->base + PP_CONTROL;
}

// Modes 000 and 001, where a write of the data register lands in the latch
// that drives the lines (in the FIFO modes it would go to a FIFO).
bool latch_mode(uint8_t ecr)
{
    return (ecr & ECR_MODE_MASK) <= (ECR_PS2 & ECR_MODE_MASK);
}

// Reads the ECR into *ecr and, for an address nobody vouched for, tests that
// an ECR answers there: its FIFO bits must show an empty FIFO, and it must
// not be a mirror of the control register (a port that decodes 10 address
// bits answers at base + 0x402 with its control register). Only where the
// low bits of both match is anything written: AUTOFD (pin 14, not wired to
// the chips) toggled, the direction bit as found, interrupts off.
bool ecr_may_answer(hw_port *p, uint8_t control, uint8_t *ecr)
{
    *ecr = in(p, p->ecr);
    if (!p->ecr_probe)
        return true;
    if ((*ecr & ECR_FIFO_BITS) != ECR_FIFO_EMPTY)
        return false;
    if ((control & ECR_FIFO_BITS) != ECR_FIFO_EMPTY)
        return true;
    out(p, control_register(p), static_cast<uint8_t>((control ^ CONTROL_AUTOFD) & ~CONTROL_IRQ_ENABLE));
    const uint8_t toggled = in(p, control_register(p));
    return (in(p, p->ecr) & CONTROL_AUTOFD) != (toggled & CONTROL_AUTOFD);
}

// Puts the ECR in mode 001 with interrupts off without letting the lines
// show what the data latch held before: from modes 000 and 001 the neutral
// byte goes to the latch first; from the others the direction bit goes on
// first, so that the drivers stay off in mode 001 until the caller has
// written the neutral byte. True when an ECR took the mode: for a probed
// address, when it reads back 0x35 (mode 001, FIFO empty).
bool enter_ps2_mode(hw_port *p, uint8_t control, uint8_t ecr)
{
    if (latch_mode(ecr))
        out(p, p->base + PP_DATA, LINE_NEUTRAL);
    else
        out(p, control_register(p), static_cast<uint8_t>(hw_restore_control(control) | CONTROL_DIRECTION));
    out(p, p->ecr, ECR_PS2);
    return !p->ecr_probe || in(p, p->ecr) == (ECR_PS2 | ECR_FIFO_EMPTY);
}

// Chips differ in how a pending EPP timeout clears: some on a status read,
// some on writing the bit as 1, others as 0. Try all three where the status
// register can be written.
void clear_epp_timeout(hw_port *p)
{
    const uint32_t status = p->base + PP_STATUS;
    if ((in(p, status) & STATUS_EPP_TIMEOUT) == 0)
        return;
    const uint8_t s = in(p, status);
    if ((s & STATUS_EPP_TIMEOUT) == 0 || !p->status_writable)
        return;
    out(p, status, static_cast<uint8_t>(s | STATUS_EPP_TIMEOUT));
    out(p, status, static_cast<uint8_t>(s & ~STATUS_EPP_TIMEOUT));
}

bool reads_back(hw_port *p, uint8_t pattern)
{
    out(p, p->base + PP_DATA, pattern);
    return in(p, p->base + PP_DATA) == pattern;
}

// The neutral byte on the lines, the registers back to the state found at
// arm, and the port handed back.
void restore(hw_port *p)
{
    out(p, p->base + PP_DATA, LINE_NEUTRAL);
    out(p, control_register(p), hw_restore_control(p->saved_control));
    if (p->ecr_used)
        out(p, p->ecr, static_cast<uint8_t>((p->saved_ecr & ECR_MODE_MASK) | ECR_QUIET));
    if (p->io.free != nullptr)
        p->io.free(p->io.context);
}

bool in_registers(const hw_port &p, uint32_t address)
{
    return (address >= p.base && address <= p.base + PP_CONTROL) ||
           (p.ecr != 0 && address == p.ecr);
}

} // namespace

uint8_t hw_restore_control(uint8_t found)
{
    if (found == 0xFF)
        return CONTROL_IDLE;
    return static_cast<uint8_t>(found & 0x0F);
}

hw_arm_result hw_port_arm(hw_port *p)
{
    if (p->armed)
        return HW_ARMED;
    if (p->io.claim != nullptr && !p->io.claim(p->io.context))
        return HW_NOT_HANDED_OVER;
    p->saved_control = in(p, control_register(p));
    p->ecr_used = false;
    bool latched = false; // the neutral byte is in the data latch
    if (p->ecr != 0) {
        uint8_t ecr = 0;
        if (ecr_may_answer(p, p->saved_control, &ecr)) {
            latched = latch_mode(ecr);
            p->ecr_used = enter_ps2_mode(p, p->saved_control, ecr);
            p->saved_ecr = ecr;
        }
    }
    if (!latched)
        out(p, p->base + PP_DATA, LINE_NEUTRAL);
    // Direction and interrupt bits cleared: the drivers go on with the
    // neutral byte.
    out(p, control_register(p), hw_restore_control(p->saved_control));
    if (p->ecr_used)
        out(p, p->ecr, ECR_STANDARD);
    clear_epp_timeout(p);
    if (p->verify && !(reads_back(p, VERIFY_PATTERN_A) && reads_back(p, VERIFY_PATTERN_B) &&
                       reads_back(p, LINE_NEUTRAL))) {
        restore(p);
        return HW_NO_READBACK;
    }
    p->armed = true;
    return HW_ARMED;
}

void hw_port_release(hw_port *p)
{
    if (!p->armed)
        return;
    p->armed = false;
    restore(p);
}

void hw_port_put(void *port, uint8_t data)
{
    auto *p = static_cast<hw_port *>(port);
    out(p, p->base + PP_DATA, data);
}

uint8_t hw_port_take(void *port)
{
    auto *p = static_cast<hw_port *>(port);
    return in(p, p->base + PP_STATUS);
}

bool hw_io_base_ok(uint32_t base)
{
    return base >= 0x100 && base <= 0xFFFC && base % 4 == 0;
}

bool hw_ecp_base_ok(uint32_t base, uint32_t ecp_base)
{
    if (ecp_base == 0)
        return true;
    if (ecp_base < 0x100 || ecp_base > 0xFFFF - ECP_ECR)
        return false;
    return ecp_base + ECP_ECR < base || ecp_base > base + PP_CONTROL;
}

uint32_t hw_default_ecr(uint32_t base)
{
    return base == 0x378 || base == 0x278 ? base + ECP_ISA_OFFSET + ECP_ECR : 0;
}

bool hw_ports_overlap(const hw_port &a, const hw_port &b)
{
    for (uint32_t r = 0; r <= PP_CONTROL; ++r)
        if (in_registers(b, a.base + r) || in_registers(a, b.base + r))
            return true;
    return (a.ecr != 0 && in_registers(b, a.ecr)) || (b.ecr != 0 && in_registers(a, b.ecr));
}
