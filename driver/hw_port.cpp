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

// Chips differ in how a pending EPP timeout clears: some on a status read,
// some on writing the bit as 1, others as 0. Try all three.
void clear_epp_timeout(hw_port *p)
{
    const uint32_t status = p->base + PP_STATUS;
    if ((in(p, status) & STATUS_EPP_TIMEOUT) == 0)
        return;
    const uint8_t s = in(p, status);
    out(p, status, static_cast<uint8_t>(s | STATUS_EPP_TIMEOUT));
    out(p, status, static_cast<uint8_t>(s & ~STATUS_EPP_TIMEOUT));
}

bool reads_back(hw_port *p, uint8_t pattern)
{
    out(p, p->base + PP_DATA, pattern);
    return in(p, p->base + PP_DATA) == pattern;
}

// Writes back what arming changed, and hands the port back.
void restore(hw_port *p)
{
    out(p, p->base + PP_CONTROL, p->saved_control);
    if (p->ecr != 0)
        out(p, p->ecr, p->saved_ecr);
    if (p->io.free != nullptr)
        p->io.free(p->io.context);
}

bool in_registers(const hw_port &p, uint32_t address)
{
    return (address >= p.base && address <= p.base + PP_CONTROL) ||
           (p.ecr != 0 && address == p.ecr);
}

} // namespace

hw_arm_result hw_port_arm(hw_port *p)
{
    if (p->armed)
        return HW_ARMED;
    if (p->io.claim != nullptr && !p->io.claim(p->io.context))
        return HW_NOT_HANDED_OVER;
    if (p->ecr != 0) {
        p->saved_ecr = in(p, p->ecr);
        out(p, p->ecr, ECR_STANDARD);
    }
    p->saved_control = in(p, p->base + PP_CONTROL);
    out(p, p->base + PP_CONTROL,
        static_cast<uint8_t>(p->saved_control & ~(CONTROL_DIRECTION | CONTROL_IRQ_ENABLE)));
    clear_epp_timeout(p);
    if (p->verify) {
        const uint8_t before = in(p, p->base + PP_DATA);
        const bool ok = reads_back(p, VERIFY_PATTERN_A) && reads_back(p, VERIFY_PATTERN_B);
        out(p, p->base + PP_DATA, before);
        if (!ok) {
            restore(p);
            return HW_NO_READBACK;
        }
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
