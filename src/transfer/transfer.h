// SPDX-License-Identifier: MIT
// SPI transactions: word transfers, the processor probe, the dump lines.
#pragma once

#include <cstdint>

constexpr uint16_t PROBE_CONFIRM_ADDRESS = 0xFF9A;

int write_words(uint16_t address, uint16_t count, const uint16_t *words);
int read_words(uint16_t address, uint16_t count, uint16_t *words);
bool read_command(uint16_t address);
void trace_transfer(uint32_t address, char letter, uint32_t count, const uint16_t *words);
