// SPDX-License-Identifier: MIT
// A stand-in ftd2xx.dll over the FTDI chip model, for the Wine tests only
// (never shipped): FTDI's D2XX functions that the USB back end calls, WINAPI
// with undecorated export names like the real 32-bit DLL, with the adapters
// of SPIFNS_FTDI_MODEL (ftdi_model.h). Channels of multi-channel chips are
// listed as devices of their own, serial number and channel letter.
#include <cstdio>
#include <cstring>

#include "ftdi_model.h"
#include "os/usb/d2xx.h"

namespace {

ULONG type_of(ftdi_chip_kind kind)
{
    switch (kind) {
    case FTDI_232H: return FT_DEVICE_232H;
    case FTDI_2232H: return FT_DEVICE_2232H;
    case FTDI_4232H: return FT_DEVICE_4232H;
    default: return FT_DEVICE_232R;
    }
}

// Calls f(adapter, channel, listed serial) for every listed device in order.
template <typename F> void each_device(F f)
{
    ftdi_model_from_environment();
    for (uint32_t i = 0; i < ftdi_model_count(); i++) {
        ftdi_model_adapter *a = ftdi_model_adapter_at(i);
        const uint32_t channels = ftdi_chip_info_of(a->kind)->channels;
        for (uint32_t c = 0; c < channels; c++) {
            char serial[FTDI_MODEL_SERIAL_MAX + 2];
            std::snprintf(serial, sizeof serial, channels > 1 ? "%s%c" : "%s", a->serial, 'A' + c);
            if (!f(a, c, serial))
                return;
        }
    }
}

ftdi_model_channel *channel_of(FT_HANDLE h)
{
    return static_cast<ftdi_model_channel *>(h);
}

} // namespace

#define D2XX_EXPORT extern "C" __declspec(dllexport) FT_STATUS WINAPI

D2XX_EXPORT FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs)
{
    DWORD n = 0;
    each_device([&](ftdi_model_adapter *, uint32_t, const char *) { return ++n, true; });
    *lpdwNumDevs = n;
    return FT_OK;
}

D2XX_EXPORT FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *pDest, LPDWORD lpdwNumDevs)
{
    DWORD n = 0;
    each_device([&](ftdi_model_adapter *a, uint32_t c, const char *serial) {
        FT_DEVICE_LIST_INFO_NODE &d = pDest[n++];
        std::memset(&d, 0, sizeof d);
        const ftdi_chip_info *info = ftdi_chip_info_of(a->kind);
        d.Flags = (a->channels[c].open ? ULONG{FT_FLAGS_OPENED} : 0u) | (info->packet == 512 ? 2u : 0u);
        d.Type = type_of(a->kind);
        d.ID = 0x04030000u | info->product_id;
        std::snprintf(d.SerialNumber, sizeof d.SerialNumber, "%s", serial);
        std::snprintf(d.Description, sizeof d.Description, "%s", info->description);
        d.ftHandle = a->channels[c].open ? &a->channels[c] : nullptr;
        return true;
    });
    *lpdwNumDevs = n;
    return FT_OK;
}

D2XX_EXPORT FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE *pHandle)
{
    if (Flags != FT_OPEN_BY_SERIAL_NUMBER || pArg1 == nullptr || pHandle == nullptr)
        return FT_INVALID_PARAMETER;
    FT_STATUS status = FT_DEVICE_NOT_FOUND;
    each_device([&](ftdi_model_adapter *a, uint32_t c, const char *serial) {
        if (std::strcmp(serial, static_cast<const char *>(pArg1)) != 0)
            return true;
        ftdi_model_channel &ch = a->channels[c];
        if (ch.open) {
            status = FT_DEVICE_NOT_OPENED;
            return false;
        }
        ch.open = true;
        ftdi_chip_purge(&ch.chip);
        *pHandle = &ch;
        status = FT_OK;
        return false;
    });
    return status;
}

D2XX_EXPORT FT_Close(FT_HANDLE ftHandle)
{
    ftdi_model_channel *ch = channel_of(ftHandle);
    if (ch == nullptr || !ch->open)
        return FT_INVALID_HANDLE;
    ch->open = false;
    ftdi_model_channel_closed(ch);
    return FT_OK;
}

D2XX_EXPORT FT_ResetDevice(FT_HANDLE ftHandle)
{
    ftdi_chip_purge(&channel_of(ftHandle)->chip);
    return FT_OK;
}

D2XX_EXPORT FT_Purge(FT_HANDLE ftHandle, ULONG Mask)
{
    if (Mask & (FT_PURGE_RX | FT_PURGE_TX))
        ftdi_chip_purge(&channel_of(ftHandle)->chip);
    return FT_OK;
}

D2XX_EXPORT FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency)
{
    if (ucLatency < 2)
        return FT_INVALID_PARAMETER;
    channel_of(ftHandle)->chip.latency_ms = ucLatency;
    return FT_OK;
}

D2XX_EXPORT FT_SetBitMode(FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable)
{
    if (ucEnable != FT_BITMODE_RESET && ucEnable != FT_BITMODE_SYNC_BITBANG)
        return FT_INVALID_PARAMETER;
    ftdi_chip_set_mode(&channel_of(ftHandle)->chip, ucMask, ucEnable);
    return FT_OK;
}

D2XX_EXPORT FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate)
{
    ftdi_chip &chip = channel_of(ftHandle)->chip;
    if (BaudRate < FTDI_MIN_BAUD || BaudRate > chip.info->max_baud)
        return FT_INVALID_BAUD_RATE;
    chip.baud = BaudRate;
    return FT_OK;
}

D2XX_EXPORT FT_SetTimeouts(FT_HANDLE, ULONG, ULONG)
{
    return FT_OK;
}

// What the chip cannot take before the write time-out is left unwritten.
D2XX_EXPORT FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten)
{
    *lpBytesWritten = ftdi_chip_write(&channel_of(ftHandle)->chip, static_cast<const uint8_t *>(lpBuffer), dwBytesToWrite);
    return FT_OK;
}

// The samples there are: more never come before the read time-out.
D2XX_EXPORT FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned)
{
    *lpBytesReturned = ftdi_chip_read(&channel_of(ftHandle)->chip, static_cast<uint8_t *>(lpBuffer), dwBytesToRead);
    return FT_OK;
}
