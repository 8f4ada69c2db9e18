// SPDX-License-Identifier: MIT
// System services on Windows.
#include <windows.h>

#include <cstdlib>

#include "os/os.h"

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
