// SPDX-License-Identifier: MIT
// FTDI adapters on Windows through FTDI's D2XX driver interface. ftd2xx.dll is
// installed with the adapter's driver and loaded at run time, so that the
// library imports nothing beyond KERNEL32.dll and msvcrt.dll; without it
// there is no adapter.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/usb/d2xx.h"
#include "os/usb/usb_adapter.h"

struct usb_adapter {
    FT_HANDLE handle;
};

namespace {

// How long a read waits for samples, and a write for room in the chip.
constexpr ULONG TIMEOUT_MS = 1000;
// The lowest latency timer that every chip takes.
constexpr UCHAR LATENCY_MS = 2;

struct d2xx_api {
#define POINTER(name, params) FT_STATUS(WINAPI *name) params;
    D2XX_FUNCTIONS(POINTER)
#undef POINTER
};

// ftd2xx.dll's functions, resolved once; nullptr when it cannot be loaded.
const d2xx_api *d2xx()
{
    static d2xx_api api;
    static int state; // 0 not tried, 1 loaded, -1 missing
    static char why[160];
    if (state == 0) {
        HMODULE dll = LoadLibraryA("ftd2xx.dll");
        state = dll != nullptr ? 1 : -1;
        if (dll == nullptr)
            std::snprintf(why, sizeof why, "ftd2xx.dll, FTDI's D2XX driver, is not installed (Windows error %lu)",
                          GetLastError());
#define RESOLVE(name, params)                                                                          \
    if (state == 1 && (api.name = reinterpret_cast<decltype(api.name)>(                                \
                           reinterpret_cast<void (*)(void)>(GetProcAddress(dll, #name)))) == nullptr) { \
        std::snprintf(why, sizeof why, "ftd2xx.dll has no %s", #name);                                 \
        state = -1;                                                                                    \
    }
        D2XX_FUNCTIONS(RESOLVE)
#undef RESOLVE
    }
    if (state < 0) {
        usb_note("%s", why);
        return nullptr;
    }
    return &api;
}

bool multi_channel(ULONG type)
{
    return type == FT_DEVICE_2232C || type == FT_DEVICE_2232H || type == FT_DEVICE_4232H;
}

bool step(FT_STATUS status, const char *what)
{
    if (status == FT_OK)
        return true;
    usb_note("%s failed (D2XX status %lu)", what, status);
    return false;
}

} // namespace

bool usb_default_settings_file(char *path, size_t size)
{
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&usb_default_settings_file), &self))
        return false;
    char dll[MAX_PATH];
    const DWORD n = GetModuleFileNameA(self, dll, sizeof dll);
    if (n == 0 || n >= sizeof dll)
        return false;
    char *cut = std::strrchr(dll, '\\');
    if (cut != nullptr)
        cut[1] = '\0';
    std::snprintf(path, size, "%s%s", cut != nullptr ? dll : "", "spifns-usb.ini");
    return true;
}

int usb_adapter_list(usb_adapter_id *ids, int max)
{
    const d2xx_api *api = d2xx();
    if (api == nullptr)
        return -1;
    DWORD count = 0;
    if (!step(api->FT_CreateDeviceInfoList(&count), "FT_CreateDeviceInfoList"))
        return -1;
    if (count == 0) {
        usb_note("is one plugged in?");
        return 0;
    }
    FT_DEVICE_LIST_INFO_NODE *nodes =
        static_cast<FT_DEVICE_LIST_INFO_NODE *>(std::calloc(count, sizeof(FT_DEVICE_LIST_INFO_NODE)));
    if (nodes == nullptr) {
        usb_note("out of memory");
        return -1;
    }
    int n = -1;
    int busy = 0;
    if (step(api->FT_GetDeviceInfoList(nodes, &count), "FT_GetDeviceInfoList")) {
        n = 0;
        for (DWORD i = 0; i < count && n < max; i++) {
            FT_DEVICE_LIST_INFO_NODE &d = nodes[i];
            d.SerialNumber[sizeof d.SerialNumber - 1] = '\0';
            size_t len = std::strlen(d.SerialNumber);
            if (len == 0) { // open in another process: D2XX tells nothing more of it
                busy += (d.Flags & FT_FLAGS_OPENED) ? 1 : 0;
                continue;
            }
            int channel = 0;
            if (multi_channel(d.Type) && len > 1 && d.SerialNumber[len - 1] >= 'A' && d.SerialNumber[len - 1] <= 'D')
                channel = d.SerialNumber[--len] - 'A';
            std::snprintf(ids[n].serial, sizeof ids[n].serial, "%.*s", static_cast<int>(len), d.SerialNumber);
            std::snprintf(ids[n].device, sizeof ids[n].device, "%s", d.SerialNumber);
            ids[n].channel = channel;
            n++;
        }
        if (busy > 0)
            usb_note("%d more open in another program", busy);
    }
    std::free(nodes);
    return n;
}

usb_adapter *usb_adapter_open(const usb_adapter_id &id, uint8_t direction, uint32_t byte_rate)
{
    const d2xx_api *api = d2xx();
    if (api == nullptr)
        return nullptr;
    // By the serial number as D2XX lists it: with the channel letter on
    // multi-channel chips.
    FT_HANDLE h = nullptr;
    if (!step(api->FT_OpenEx(const_cast<char *>(id.device), FT_OPEN_BY_SERIAL_NUMBER, &h), "FT_OpenEx"))
        return nullptr;
    // The pin rate: the chip outputs 16 bytes per baud-rate period.
    const bool ok = step(api->FT_ResetDevice(h), "FT_ResetDevice") &&
                    step(api->FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), "FT_Purge") &&
                    step(api->FT_SetTimeouts(h, TIMEOUT_MS, TIMEOUT_MS), "FT_SetTimeouts") &&
                    step(api->FT_SetLatencyTimer(h, LATENCY_MS), "FT_SetLatencyTimer") &&
                    step(api->FT_SetBitMode(h, direction, FT_BITMODE_SYNC_BITBANG), "FT_SetBitMode") &&
                    step(api->FT_SetBaudRate(h, byte_rate / 16), "FT_SetBaudRate");
    usb_adapter *a = ok ? static_cast<usb_adapter *>(std::malloc(sizeof(usb_adapter))) : nullptr;
    if (a == nullptr) {
        if (ok)
            usb_note("out of memory");
        api->FT_SetBitMode(h, 0, FT_BITMODE_RESET);
        api->FT_Close(h);
        return nullptr;
    }
    a->handle = h;
    return a;
}

bool usb_adapter_write(usb_adapter *a, const uint8_t *bytes, uint32_t n)
{
    DWORD written = 0;
    if (!step(d2xx()->FT_Write(a->handle, const_cast<uint8_t *>(bytes), n, &written), "FT_Write"))
        return false;
    if (written == n)
        return true;
    usb_note("FT_Write took %lu of %u bytes", written, static_cast<unsigned>(n));
    return false;
}

// FT_Read returns once all the bytes came or the read time-out passed.
bool usb_adapter_read(usb_adapter *a, uint8_t *samples, uint32_t n)
{
    DWORD got = 0;
    if (!step(d2xx()->FT_Read(a->handle, samples, n, &got), "FT_Read"))
        return false;
    if (got == n)
        return true;
    usb_note("the adapter returned %lu of %u samples", got, static_cast<unsigned>(n));
    return false;
}

void usb_adapter_close(usb_adapter *a)
{
    if (a == nullptr)
        return;
    d2xx()->FT_SetBitMode(a->handle, 0, FT_BITMODE_RESET);
    d2xx()->FT_Close(a->handle);
    std::free(a);
}
