// SPDX-License-Identifier: MIT
#include "ftdi_chip.h"

#include <string.h>

namespace {

// Buffer sizes from the datasheets: FT232R 128-byte transmit (host to pins)
// and 256-byte receive buffers; FT232H 1 KiB each. The dual and quad H chips
// have larger buffers per channel; they are modelled with the FT232H's.
// Baud-rate limits: 3 MBd on the 48 MHz chips, 12 MBd on the H series.
const ftdi_chip_info INFO[] = {
    {"232R", "FT232R USB UART", 0x6001, 128, 256, 1, 64, 3000000},
    {"232H", "Single RS232-HS", 0x6014, 1024, 1024, 1, 512, 12000000},
    {"2232H", "Dual RS232-HS", 0x6010, 1024, 1024, 2, 512, 12000000},
    {"4232H", "Quad RS232-HS", 0x6011, 1024, 1024, 4, 512, 12000000},
};

uint8_t pins_now(const ftdi_chip *chip)
{
    uint8_t inputs = 0xFF;
    if (chip->board != nullptr && !chip->board_data_out)
        inputs = static_cast<uint8_t>(inputs & ~(1u << chip->data_out_pin));
    return static_cast<uint8_t>((chip->latch & chip->direction) | (inputs & ~chip->direction));
}

// Outputs bytes while there is room for their samples.
void run(ftdi_chip *chip)
{
    uint32_t taken = 0;
    while (taken < chip->byte_count && chip->sample_count < chip->info->sample_buffer) {
        const uint32_t slot = (chip->sample_first + chip->sample_count) % chip->info->sample_buffer;
        chip->samples[slot] = pins_now(chip); // just before the byte goes out
        chip->sample_count++;
        chip->latch = chip->bytes[taken++];
        const uint8_t driven = static_cast<uint8_t>(chip->latch & chip->direction);
        if (chip->board != nullptr)
            chip->board_data_out = (sim_board_step(chip->board, driven) & STATUS_MISO) ? 1 : 0;
        if (chip->pin_log != nullptr)
            chip->pin_log(chip->pin_log_context, driven);
        chip->stats.bytes_out++;
    }
    if (chip->sample_count > chip->stats.max_unread)
        chip->stats.max_unread = chip->sample_count;
    if (taken < chip->byte_count)
        chip->stats.stalls++;
    memmove(chip->bytes, chip->bytes + taken, chip->byte_count - taken);
    chip->byte_count -= taken;
}

} // namespace

const ftdi_chip_info *ftdi_chip_info_of(ftdi_chip_kind kind)
{
    return &INFO[kind];
}

void ftdi_chip_init(ftdi_chip *chip, ftdi_chip_kind kind, sim_board *board, uint8_t data_out_pin)
{
    memset(chip, 0, sizeof *chip);
    chip->info = ftdi_chip_info_of(kind);
    chip->board = board;
    chip->data_out_pin = data_out_pin;
    chip->board_data_out = 1;
    chip->baud = 9600;
    chip->latency_ms = 16;
}

void ftdi_chip_set_mode(ftdi_chip *chip, uint8_t direction, uint8_t mode)
{
    chip->mode = mode;
    chip->direction = mode == FTDI_MODE_RESET ? 0 : direction;
}

void ftdi_chip_purge(ftdi_chip *chip)
{
    chip->byte_count = 0;
    chip->sample_first = chip->sample_count = 0;
}

uint32_t ftdi_chip_write(ftdi_chip *chip, const uint8_t *bytes, uint32_t n)
{
    chip->stats.writes++;
    if (chip->mode != FTDI_MODE_SYNC_BITBANG) {
        chip->stats.serial_bytes += n;
        return n;
    }
    for (uint32_t i = 0; i < n; i++) {
        if (chip->byte_count == chip->info->byte_buffer) {
            run(chip);
            if (chip->byte_count == chip->info->byte_buffer) {
                chip->stats.failed_writes++;
                return i;
            }
        }
        chip->bytes[chip->byte_count++] = bytes[i];
    }
    run(chip);
    return n;
}

uint32_t ftdi_chip_read(ftdi_chip *chip, uint8_t *dst, uint32_t max)
{
    uint32_t n = 0;
    while (n < max && chip->sample_count > 0) {
        dst[n++] = chip->samples[chip->sample_first];
        chip->sample_first = (chip->sample_first + 1) % chip->info->sample_buffer;
        chip->sample_count--;
    }
    if (n > 0) {
        chip->stats.reads++;
        // Each packet carries two modem status bytes besides the samples.
        if (n % (chip->info->packet - 2) != 0)
            chip->stats.short_reads++;
    }
    run(chip); // room for samples again: stalled bytes go out
    return n;
}

double ftdi_chip_byte_rate(const ftdi_chip *chip)
{
    return 16.0 * chip->baud;
}
