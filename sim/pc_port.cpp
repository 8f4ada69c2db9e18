// SPDX-License-Identifier: MIT
// A model of a PC parallel port's registers; see pc_port.h.
#include "pc_port.h"

namespace {
constexpr uint8_t FIFO_DEPTH = 16;
}

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

bool pc_port_model::at(uint32_t address, uint32_t reg) const
{
    return decode_10bit ? ((address ^ reg) & 0x3FF) == 0 : address == reg;
}

// The board follows the pins at every access; its data-out, or the pull-up
// when nothing is connected, is kept per access for the delayed status.
void pc_port_model::tick()
{
    uint8_t level = 1;
    if (board != nullptr)
        level = (sim_board_step(board, pins()) & STATUS_MISO) ? 1 : 0;
    miso_.push_back(level);
    pin_log.push_back(drives_data() ? data : -1);
    // Only the last delay + 1 levels are ever looked at: a long-lived model
    // drops the older ones now and then.
    if (miso_.size() > 4096 + delay)
        miso_.erase(miso_.begin(), miso_.end() - static_cast<ptrdiff_t>(delay + 1));
}

void pc_port_model::out(uint32_t address, uint8_t value)
{
    log.push_back({true, address, value});
    if (at(address, base)) {
        if (mode == PC_MODE_FIFO || mode == PC_MODE_ECP) {
            if (fifo < FIFO_DEPTH)
                ++fifo;
        } else if (!epp_timeout) {
            data = value;
        }
    } else if (at(address, base + 1)) {
        if (epp_timeout && timeout_clear != PC_CLEAR_ON_READ)
            epp_timeout = (value & 1) != (timeout_clear == PC_CLEAR_ON_WRITE_1 ? 1 : 0);
    } else if (at(address, base + 2)) {
        control = value & 0x3F;
    } else if (ecr != 0 && at(address, ecr)) {
        mode = value >> 5;
        ecr_bits = value & 0x1C;
        if (mode == PC_MODE_SPP || mode == PC_MODE_PS2)
            fifo = 0;
    }
    tick();
}

uint8_t pc_port_model::in(uint32_t address)
{
    uint8_t value = 0xFF; // nothing at that address
    if (at(address, base)) {
        value = pins();
    } else if (at(address, base + 1)) {
        const size_t now = miso_.size();
        const uint8_t miso = now == 0 ? 1 : miso_[now > delay ? now - 1 - delay : 0];
        const uint8_t busy = miso_on_busy ? static_cast<uint8_t>(miso << 7) : (input_pins & 0x80);
        const uint8_t ack = miso_on_busy ? 1 : miso;
        const bool bit0 = epp_timeout || (timeout_bit_outside_epp && mode != PC_MODE_EPP);
        value = static_cast<uint8_t>((ack ? 0x40 : 0) | (~busy & 0x80) | (input_pins & 0x38) |
                                     (reserved_bits & 0x06) | (bit0 ? 1 : reserved_bits & 1));
        if (epp_timeout && timeout_clear == PC_CLEAR_ON_READ)
            epp_timeout = false;
    } else if (at(address, base + 2)) {
        value = static_cast<uint8_t>(control | control_reads_high);
    } else if (ecr != 0 && at(address, ecr)) {
        value = static_cast<uint8_t>(mode << 5 | ecr_bits | (fifo == 0 ? 1 : 0) |
                                     (fifo >= FIFO_DEPTH ? 2 : 0));
    }
    log.push_back({false, address, value});
    tick();
    return value;
}
