// SPDX-License-Identifier: MIT
// A model of a PC parallel port's registers; see pc_port.h.
#include "pc_port.h"

bool pc_port_model::drives_data() const
{
    if (mode != PC_MODE_SPP && mode != PC_MODE_PS2)
        return false;
    return !(mode == PC_MODE_PS2 && (control & 0x20));
}

uint8_t pc_port_model::pins() const
{
    return drives_data() ? data : 0xFF;
}

// The board follows the pins at every access; its data-out, or the pull-up
// when nothing is connected, is kept per access for the delayed status.
void pc_port_model::tick()
{
    uint8_t level = 1;
    if (board != nullptr)
        level = (sim_board_step(board, pins()) & STATUS_MISO) ? 1 : 0;
    miso_.push_back(level);
}

void pc_port_model::out(uint32_t address, uint8_t value)
{
    log.push_back({true, address, value});
    if (address == base) {
        if (!epp_timeout)
            data = value;
    } else if (address == base + 1) {
        if (epp_timeout && timeout_clear != PC_CLEAR_ON_READ)
            epp_timeout = (value & 1) != (timeout_clear == PC_CLEAR_ON_WRITE_1 ? 1 : 0);
    } else if (address == base + 2) {
        control = value & 0x3F;
    } else if (ecr != 0 && address == ecr) {
        mode = value >> 5;
        ecr_low = (ecr_low & 0x03) | (value & 0x1C);
    }
    tick();
}

uint8_t pc_port_model::in(uint32_t address)
{
    uint8_t value = 0xFF; // nothing at that address
    if (address == base) {
        value = pins();
    } else if (address == base + 1) {
        const size_t now = miso_.size();
        const uint8_t ack = now == 0 ? 1 : miso_[now > delay ? now - 1 - delay : 0];
        value = static_cast<uint8_t>((ack ? 0x40 : 0) | (~input_pins & 0x80) | (input_pins & 0x38) |
                                     (reserved_bits & 0x06) | (epp_timeout ? 1 : reserved_bits & 1));
        if (epp_timeout && timeout_clear == PC_CLEAR_ON_READ)
            epp_timeout = false;
    } else if (address == base + 2) {
        value = static_cast<uint8_t>(control | 0xC0);
    } else if (ecr != 0 && address == ecr) {
        value = static_cast<uint8_t>(mode << 5 | ecr_low);
    }
    log.push_back({false, address, value});
    tick();
    return value;
}
