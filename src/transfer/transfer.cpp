// SPDX-License-Identifier: MIT
// Word transfers, the read echo check, the transfer dump lines and the
// processor probe.
#include "transfer/transfer.h"

#include "frame/frame.h"
#include "link/link.h"

// Dump line formats by word count; counts of 9 and more share the last.
static const char *const dump_formats[10] = {
    "%04X     %c ????\n",
    "%04X     %c %04X\n",
    "%04X-%04X%c %04X %04X\n",
    "%04X-%04X%c %04X %04X %04X\n",
    "%04X-%04X%c %04X %04X %04X %04X\n",
    "%04X-%04X%c %04X %04X %04X %04X %04X\n",
    "%04X-%04X%c %04X %04X %04X %04X %04X %04X\n",
    "%04X-%04X%c %04X %04X %04X %04X %04X %04X %04X\n",
    "%04X-%04X%c %04X %04X %04X %04X %04X %04X %04X %04X\n",
    "%04X-%04X%c %04X %04X %04X %04X %04X %04X %04X %04X ...\n",
};

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif

void trace_transfer(uint32_t address, char letter, uint32_t count, const uint16_t *words)
{
    if (link_state.debug_callback == nullptr)
        return;

    unsigned slot[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    if (words != nullptr)
        for (uint32_t i = 0; i < count && i < 8; i++)
            slot[i] = words[i];

    // Each format prints only the words it has fields for; the last address
    // is the plain sum, so a range may end at 10000 or beyond.
    if (count < 2)
        trace(dump_formats[count], address, letter, slot[0]);
    else
        trace(dump_formats[count < 9 ? count : 9], address, address + count - 1, letter, slot[0], slot[1],
              slot[2], slot[3], slot[4], slot[5], slot[6], slot[7]);
}

int write_words(uint16_t address, uint16_t count, const uint16_t *words)
{
    trace_transfer(address, 'w', count, words);
    if (!cs_pulse())
        return 1;
    const uint32_t command = static_cast<uint32_t>(link_state.write_cmd_bits | CHIP_CMD_WRITE) & 0xFF;
    if (!shift_bits(command, 8, nullptr, false))
        return 1;
    if (!shift_bits(address, 16, nullptr, false))
        return 1;
    for (uint32_t i = 0; i < count; i++)
        if (!shift_bits(words[i], 16, nullptr, false))
            return 1;
    return 0;
}

bool read_command(uint16_t address)
{
    const uint32_t command = static_cast<uint32_t>(link_state.read_cmd_bits | CHIP_CMD_READ) & 0xFF;
    if (!shift_bits(command, 8, nullptr, false))
        return false;
    if (!shift_bits(address, 16, nullptr, false))
        return false;
    uint32_t echo = 0;
    if (!shift_bits(0, 16, &echo, false))
        return false;
    if ((echo & 0xFFFF) == chip_read_echo(static_cast<uint8_t>(command), address))
        return true;
    trace_transfer(address, 'r', 0, nullptr);
    record_error(ERR_READ, "Unable to read");
    link_state.error_address = address;
    return false;
}

int read_words(uint16_t address, uint16_t count, uint16_t *words)
{
    if (!cs_pulse())
        return 1;
    if (!read_command(address))
        return 1;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t word = 0;
        if (!shift_bits(0, 16, &word, i + 1 == count))
            return 1;
        words[i] = static_cast<uint16_t>(word);
    }
    trace_transfer(address, 'r', count, words);
    return 0;
}

extern "C" SPIFNS_API int SPIFNS_CALL spifns_halvane_xap_stopped(void)
{
    uint32_t level = 0;
    if (!cs_pulse() || !shift_bits(0, 0, nullptr, false) || !shift_bits(0, 0, &level, false) || !cs_pulse())
        return -1;
    link_state.line_byte &= static_cast<uint8_t>(~LINE_CLK);
    if (level == 0)
        return 0;
    uint16_t scratch = 0;
    if (read_words(PROBE_CONFIRM_ADDRESS, 1, &scratch) == 1) {
        link_state.shift_period = 1;
        return -1;
    }
    return 1;
}
