// SPDX-License-Identifier: MIT
// Platform layer on Windows: the Win32 calls the library makes.
#include <windows.h>

#include <cstdlib>

#include "os/os.h"
#include "spifns_wire.h"

uint32_t os_platform_id()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info; // 148: the ANSI record
    static_assert(sizeof(OSVERSIONINFOA) == 148, "ANSI version record is 148 bytes");
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    if (!GetVersionExA(&info))
        return 0;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return info.dwPlatformId;
}

os_handle os_open_device(const char *path)
{
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

bool os_write_byte(os_handle device, uint8_t byte)
{
    DWORD written = 0;
    return WriteFile(device, &byte, 1, &written, nullptr) != 0;
}

bool os_port_control(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n)
{
    DWORD returned = 0;
    return DeviceIoControl(device, PLAY_CONTROL_CODE, const_cast<uint8_t *>(out), n, status, n, &returned, nullptr) != 0;
}

void os_close_device(os_handle device)
{
    CloseHandle(device);
}

void *os_alloc(size_t size)
{
    return malloc(size);
}

void os_free(void *block)
{
    free(block);
}

int64_t os_counter_frequency()
{
    LARGE_INTEGER f;
    if (!QueryPerformanceFrequency(&f))
        return 0;
    return f.QuadPart;
}

int64_t os_counter_now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

void os_yield()
{
    Sleep(0);
}

void os_sleep_ms(uint32_t ms)
{
    Sleep(ms);
}
