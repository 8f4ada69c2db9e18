// SPDX-License-Identifier: MIT
// Port back end on Windows: the kernel-mode port driver's devices, one per
// port number, reached through plain Win32 file and control calls.
#include <windows.h>

#include <cstdio>

#include "os/os.h"
#include "spifns_wire.h"

// Any port number is formatted into a path: the driver decides which
// devices exist.
os_handle os_port_open(int32_t port)
{
    char path[32];
    snprintf(path, sizeof path, SPIFNS_DEVICE_PREFIX "%d", static_cast<int>(port));
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

bool os_port_write_byte(os_handle device, uint8_t byte)
{
    DWORD written = 0;
    return WriteFile(device, &byte, 1, &written, nullptr) != 0;
}

bool os_port_play(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n)
{
    DWORD returned = 0;
    return DeviceIoControl(device, PLAY_CONTROL_CODE, const_cast<uint8_t *>(out), n, status, n, &returned, nullptr) != 0;
}

void os_port_close(os_handle device)
{
    CloseHandle(device);
}
