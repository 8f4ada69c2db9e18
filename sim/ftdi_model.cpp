// SPDX-License-Identifier: MIT
#include "ftdi_model.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

ftdi_model_adapter adapters[FTDI_MODEL_MAX_ADAPTERS];
uint32_t adapter_count;
bool configured;

void release_all()
{
    for (uint32_t i = 0; i < adapter_count; i++)
        delete[] adapters[i].channels;
    adapter_count = 0;
}

bool parse_kind(const char *text, size_t n, ftdi_chip_kind *kind)
{
    for (int k = FTDI_232R; k <= FTDI_4232H; k++) {
        const char *name = ftdi_chip_info_of(static_cast<ftdi_chip_kind>(k))->name;
        if (strlen(name) == n && strncmp(text, name, n) == 0) {
            *kind = static_cast<ftdi_chip_kind>(k);
            return true;
        }
    }
    return false;
}

bool parse_wiring(const char *text, size_t n, uint8_t *wiring)
{
    static const char *const NAMES[] = {"direct", "mux", "loopback"};
    for (uint8_t w = 0; w < 3; w++)
        if (strlen(NAMES[w]) == n && strncmp(text, NAMES[w], n) == 0) {
            *wiring = w;
            return true;
        }
    return false;
}

// One "SERIAL[:KIND[:WIRING]]" entry of n characters.
bool add_adapter(const char *entry, size_t n)
{
    const char *colon = static_cast<const char *>(memchr(entry, ':', n));
    const size_t serial_len = colon ? static_cast<size_t>(colon - entry) : n;
    if (serial_len == 0 || serial_len >= FTDI_MODEL_SERIAL_MAX || adapter_count == FTDI_MODEL_MAX_ADAPTERS)
        return false;
    ftdi_chip_kind kind = FTDI_232R;
    uint8_t wiring = SIM_WIRING_DIRECT;
    if (colon != nullptr) {
        const char *k = colon + 1;
        const char *end = entry + n;
        const char *colon2 = static_cast<const char *>(memchr(k, ':', static_cast<size_t>(end - k)));
        if (!parse_kind(k, static_cast<size_t>((colon2 ? colon2 : end) - k), &kind))
            return false;
        if (colon2 != nullptr && !parse_wiring(colon2 + 1, static_cast<size_t>(end - colon2 - 1), &wiring))
            return false;
    }
    ftdi_model_adapter &a = adapters[adapter_count++];
    memset(a.serial, 0, sizeof a.serial);
    memcpy(a.serial, entry, serial_len);
    a.kind = kind;
    const uint32_t channels = ftdi_chip_info_of(kind)->channels;
    a.channels = new ftdi_model_channel[channels];
    for (uint32_t c = 0; c < channels; c++) {
        ftdi_model_channel &ch = a.channels[c];
        sim_board_init(&ch.board, wiring);
        ftdi_chip_init(&ch.chip, kind, &ch.board, 5);
        ch.open = false;
    }
    return true;
}

const char *memory_file()
{
    const char *f = getenv("SPIFNS_FTDI_MODEL_MEMORY");
    return f != nullptr && *f != '\0' ? f : nullptr;
}

void load_memory(sim_chip *chip, const char *file)
{
    FILE *f = fopen(file, "rb");
    if (f == nullptr)
        return;
    uint8_t b[2];
    for (uint32_t i = 0; i < SIM_MEM_WORDS && fread(b, 1, 2, f) == 2; i++)
        chip->mem[i] = static_cast<uint16_t>(b[0] | b[1] << 8);
    fclose(f);
}

} // namespace

bool ftdi_model_configure(const char *config)
{
    release_all();
    configured = true;
    const char *p = config;
    while (p != nullptr && *p != '\0') {
        const char *comma = strchr(p, ',');
        const size_t n = comma ? static_cast<size_t>(comma - p) : strlen(p);
        if (!add_adapter(p, n)) {
            release_all();
            return false;
        }
        p = comma ? comma + 1 : nullptr;
    }
    return true;
}

void ftdi_model_from_environment()
{
    if (configured)
        return;
    if (!ftdi_model_configure(getenv("SPIFNS_FTDI_MODEL")))
        fprintf(stderr, "ftdi model: bad SPIFNS_FTDI_MODEL (SERIAL[:KIND[:WIRING]],...): no adapter\n");
    const char *stopped = getenv("SPIFNS_FTDI_MODEL_STOPPED");
    for (uint32_t i = 0; i < adapter_count; i++)
        for (uint32_t c = 0; c < ftdi_chip_info_of(adapters[i].kind)->channels; c++)
            for (sim_chip &chip : adapters[i].channels[c].board.chips)
                chip.stopped = stopped != nullptr && strcmp(stopped, "1") == 0;
    if (adapter_count > 0 && memory_file() != nullptr)
        load_memory(&adapters[0].channels[0].board.chips[0], memory_file());
}

uint32_t ftdi_model_count()
{
    return adapter_count;
}

ftdi_model_adapter *ftdi_model_adapter_at(uint32_t index)
{
    return index < adapter_count ? &adapters[index] : nullptr;
}

void ftdi_model_channel_closed(ftdi_model_channel *channel)
{
    const char *file = memory_file();
    if (file == nullptr || adapter_count == 0 || channel != &adapters[0].channels[0])
        return;
    FILE *f = fopen(file, "wb");
    if (f == nullptr)
        return;
    for (uint16_t w : channel->board.chips[0].mem) {
        const uint8_t b[2] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)};
        fwrite(b, 1, 2, f);
    }
    if (fclose(f) != 0)
        fprintf(stderr, "ftdi model: cannot save %s\n", file);
}
