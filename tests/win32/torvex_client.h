// SPDX-License-Identifier: MIT
// User-mode access to the torvex driver's control device, for the Win32
// tests: board memory, chip state, injected failures and statistics.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "torvex_ctl.h"

namespace torvex {

// One control request on a fresh handle; true when the driver accepted it
// and returned exactly out_n bytes.
inline bool control(DWORD code, const void *in, DWORD in_n, void *out, DWORD out_n)
{
    HANDLE h = CreateFileA(SPIFNS_DEVICE_PREFIX "CTL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    const BOOL ok =
        DeviceIoControl(h, code, const_cast<void *>(in), in_n, out, out_n, &returned, nullptr);
    CloseHandle(h);
    return ok != 0 && returned == out_n;
}

inline bool port_request(DWORD code, uint32_t port, uint32_t value)
{
    torvex_port_request r{port, value};
    return control(code, &r, sizeof r, nullptr, 0);
}

inline bool reset_board(uint32_t port, uint32_t wiring)
{
    return port_request(TORVEX_IOCTL_RESET_BOARD, port, wiring);
}

inline bool fail_plays(uint32_t port, uint32_t count)
{
    return port_request(TORVEX_IOCTL_FAIL_PLAYS, port, count);
}

inline bool set_chip(uint32_t port, uint32_t chip, uint32_t stopped, uint32_t faults)
{
    torvex_chip_request r{port, chip, stopped, faults};
    return control(TORVEX_IOCTL_SET_CHIP, &r, sizeof r, nullptr, 0);
}

inline bool mem_write(uint32_t port, uint32_t chip, uint32_t address,
                      const std::vector<uint16_t> &words)
{
    std::vector<uint8_t> in(sizeof(torvex_mem_request) + words.size() * 2);
    torvex_mem_request r{port, chip, address, static_cast<uint32_t>(words.size())};
    std::memcpy(in.data(), &r, sizeof r);
    if (!words.empty())
        std::memcpy(in.data() + sizeof r, words.data(), words.size() * 2);
    return control(TORVEX_IOCTL_MEM_WRITE, in.data(), static_cast<DWORD>(in.size()), nullptr, 0);
}

// The words, or an empty vector when the request was refused.
inline std::vector<uint16_t> mem_read(uint32_t port, uint32_t chip, uint32_t address,
                                      uint32_t count)
{
    torvex_mem_request r{port, chip, address, count};
    std::vector<uint16_t> words(count, 0xDEAD);
    if (!control(TORVEX_IOCTL_MEM_READ, &r, sizeof r, words.data(), count * 2))
        words.clear();
    return words;
}

// All fields 0xFFFFFFFF when the request was refused.
inline torvex_port_stats stats(uint32_t port)
{
    torvex_port_request r{port, 0};
    torvex_port_stats s;
    if (!control(TORVEX_IOCTL_GET_STATS, &r, sizeof r, &s, sizeof s))
        std::memset(&s, 0xFF, sizeof s);
    return s;
}

} // namespace torvex
