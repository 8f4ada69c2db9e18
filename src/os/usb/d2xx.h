// SPDX-License-Identifier: MIT
// The part of FTDI's D2XX interface (ftd2xx.dll) that the USB back end uses,
// declared from FTDI's public D2XX programmer's guide. The 32-bit DLL's
// functions are WINAPI (__stdcall) with undecorated export names.
#pragma once

#include <windows.h>

typedef PVOID FT_HANDLE;
typedef ULONG FT_STATUS;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
};

// FT_OpenEx flags, FT_Purge masks, FT_SetBitMode modes, device-list flags.
enum : DWORD { FT_OPEN_BY_SERIAL_NUMBER = 1 };
enum : ULONG { FT_PURGE_RX = 1, FT_PURGE_TX = 2 };
enum : UCHAR { FT_BITMODE_RESET = 0x00, FT_BITMODE_SYNC_BITBANG = 0x04 };
enum : ULONG { FT_FLAGS_OPENED = 1 };

// FT_DEVICE values of the multi-channel chips: their channels are listed as
// devices of their own, serial number and a channel letter.
enum : ULONG { FT_DEVICE_2232C = 4, FT_DEVICE_232R = 5, FT_DEVICE_2232H = 6, FT_DEVICE_4232H = 7, FT_DEVICE_232H = 8 };

typedef struct _ft_device_list_info_node {
    ULONG Flags;
    ULONG Type;
    ULONG ID;
    DWORD LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
} FT_DEVICE_LIST_INFO_NODE;

// The functions, as pointer types for GetProcAddress and as the stand-in
// DLL's definitions: X(name, parameter list).
#define D2XX_FUNCTIONS(X)                                                                               \
    X(FT_CreateDeviceInfoList, (LPDWORD lpdwNumDevs))                                                   \
    X(FT_GetDeviceInfoList, (FT_DEVICE_LIST_INFO_NODE * pDest, LPDWORD lpdwNumDevs))                    \
    X(FT_OpenEx, (PVOID pArg1, DWORD Flags, FT_HANDLE * pHandle))                                       \
    X(FT_Close, (FT_HANDLE ftHandle))                                                                   \
    X(FT_ResetDevice, (FT_HANDLE ftHandle))                                                             \
    X(FT_Purge, (FT_HANDLE ftHandle, ULONG Mask))                                                       \
    X(FT_SetLatencyTimer, (FT_HANDLE ftHandle, UCHAR ucLatency))                                        \
    X(FT_SetBitMode, (FT_HANDLE ftHandle, UCHAR ucMask, UCHAR ucEnable))                                \
    X(FT_SetBaudRate, (FT_HANDLE ftHandle, ULONG BaudRate))                                             \
    X(FT_SetTimeouts, (FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout))                      \
    X(FT_Write, (FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite, LPDWORD lpBytesWritten))    \
    X(FT_Read, (FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead, LPDWORD lpBytesReturned))
