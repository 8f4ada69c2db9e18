// SPDX-License-Identifier: MIT
// The few things the USB port back end (port_usb.cpp) needs from an FTDI
// driver interface, one implementation per platform: libftdi1 on Linux
// (adapter_libftdi.cpp), FTDI's D2XX on Windows (adapter_d2xx.cpp). Each
// failure leaves a one-line reason through usb_note.
#pragma once

#include <cstddef>
#include <cstdint>

enum : uint32_t { USB_SERIAL_MAX = 64, USB_MAX_ADAPTERS = 32 };

// One channel of one adapter: an eight-pin bus.
struct usb_adapter_id {
    char serial[USB_SERIAL_MAX]; // the adapter's serial number, without a channel letter
    int channel;                 // 0 for channel A (the only one of single-channel chips)
    char device[USB_SERIAL_MAX]; // the driver's own name for it, where it has one
};

struct usb_adapter;

// Lists the channels of the adapters present, at most max of them, in the
// driver's order; how many, or -1 when the driver cannot be reached.
int usb_adapter_list(usb_adapter_id *ids, int max);

// Opens the channel, resets it, empties its buffers, sets the latency timer
// low, synchronous bit-bang mode with the direction mask (1 bits outputs)
// and the pin rate in output bytes per second. nullptr on failure.
usb_adapter *usb_adapter_open(const usb_adapter_id &id, uint8_t direction, uint32_t byte_rate);

// Writes n bytes; true when all were taken.
bool usb_adapter_write(usb_adapter *a, const uint8_t *bytes, uint32_t n);
// Reads exactly n samples, waiting for them up to a time-out; true when all came.
bool usb_adapter_read(usb_adapter *a, uint8_t *samples, uint32_t n);
// Leaves bit-bang mode and closes the channel.
void usb_adapter_close(usb_adapter *a);

// Records the reason of a failure for the back end's trace line (printf-style).
void usb_note(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The settings file used where SPIFNS_USB_CONFIG names none; false if there is none.
bool usb_default_settings_file(char *path, size_t size);
