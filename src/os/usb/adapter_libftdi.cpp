// SPDX-License-Identifier: MIT
// FTDI adapters on Linux through libftdi1 (its API alone: no libusb call).
#include <libftdi1/ftdi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "os/usb/usb_adapter.h"

struct usb_adapter {
    ftdi_context *ftdi;
};

namespace {

// How long a read waits for samples that do not come.
constexpr long READ_TIMEOUT_MS = 1000;
// The lowest latency timer that every chip takes: a partly filled sample
// packet goes to the host after this long.
constexpr unsigned char LATENCY_MS = 2;

// FTDI's own product ids (vendor 0x0403) and their channels: the list asks
// for each id in turn, so that no adapter is opened just to learn its type
// (an open detaches the serial driver from it).
struct product {
    int id;
    int channels;
};
constexpr product PRODUCTS[] = {
    {0x6001, 1}, // FT232R, FT245R
    {0x6010, 2}, // FT2232C/D, FT2232H
    {0x6011, 4}, // FT4232H
    {0x6014, 1}, // FT232H
    {0x6015, 1}, // FT-X series
};

long elapsed_ms(const timespec &since)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000;
}

bool step(ftdi_context *ftdi, int result, const char *what)
{
    if (result >= 0)
        return true;
    usb_note("%s failed: %s", what, ftdi_get_error_string(ftdi));
    return false;
}

} // namespace

bool usb_default_settings_file(char *path, size_t size)
{
    std::snprintf(path, size, "%s", "/etc/spifns-usb.conf");
    return true;
}

int usb_adapter_list(usb_adapter_id *ids, int max)
{
    ftdi_context *scratch = ftdi_new();
    if (scratch == nullptr) {
        usb_note("libftdi1: out of memory");
        return -1;
    }
    int n = 0;
    int unreadable = 0;
    for (const product &p : PRODUCTS) {
        ftdi_device_list *devices = nullptr;
        if (ftdi_usb_find_all(scratch, &devices, 0x0403, p.id) < 0) {
            usb_note("libftdi1 cannot list USB devices: %s", ftdi_get_error_string(scratch));
            ftdi_free(scratch);
            return -1;
        }
        for (ftdi_device_list *d = devices; d != nullptr; d = d->next) {
            char serial[USB_SERIAL_MAX] = "";
            if (ftdi_usb_get_strings(scratch, d->dev, nullptr, 0, nullptr, 0, serial, sizeof serial) != 0) {
                unreadable++; // no permission to open it, most likely
                continue;
            }
            for (int c = 0; c < p.channels && n < max; c++, n++) {
                std::snprintf(ids[n].serial, sizeof ids[n].serial, "%s", serial);
                ids[n].channel = c;
                ids[n].device[0] = '\0';
            }
        }
        ftdi_list_free(&devices);
    }
    ftdi_free(scratch);
    if (unreadable > 0)
        usb_note("%d more that cannot be opened: no permission? see the udev rule in docs/usb.md", unreadable);
    else if (n == 0)
        usb_note("is one plugged in?");
    return n;
}

usb_adapter *usb_adapter_open(const usb_adapter_id &id, uint8_t direction, uint32_t byte_rate)
{
    ftdi_context *ftdi = ftdi_new();
    if (ftdi == nullptr) {
        usb_note("libftdi1: out of memory");
        return nullptr;
    }
    ftdi_device_list *devices = nullptr;
    libusb_device *dev = nullptr;
    if (ftdi_usb_find_all(ftdi, &devices, 0, 0) >= 0)
        for (ftdi_device_list *d = devices; d != nullptr && dev == nullptr; d = d->next) {
            char serial[USB_SERIAL_MAX] = "";
            if (ftdi_usb_get_strings(ftdi, d->dev, nullptr, 0, nullptr, 0, serial, sizeof serial) == 0 &&
                std::strcmp(serial, id.serial) == 0)
                dev = d->dev;
        }
    // The pin rate: libftdi1 multiplies the baud rate by 4 in bit-bang mode,
    // and the chip outputs 16 bytes per baud-rate period, 64 in all.
    const bool ok = dev != nullptr &&
                    step(ftdi, ftdi_set_interface(ftdi, static_cast<ftdi_interface>(INTERFACE_A + id.channel)),
                         "ftdi_set_interface") &&
                    step(ftdi, ftdi_usb_open_dev(ftdi, dev), "ftdi_usb_open_dev") &&
                    step(ftdi, ftdi_usb_reset(ftdi), "ftdi_usb_reset") &&
                    step(ftdi, ftdi_tcioflush(ftdi), "ftdi_tcioflush") &&
                    step(ftdi, ftdi_set_latency_timer(ftdi, LATENCY_MS), "ftdi_set_latency_timer") &&
                    step(ftdi, ftdi_set_bitmode(ftdi, direction, BITMODE_SYNCBB), "ftdi_set_bitmode") &&
                    step(ftdi, ftdi_set_baudrate(ftdi, static_cast<int>(byte_rate / 64)), "ftdi_set_baudrate");
    if (dev == nullptr)
        usb_note("the adapter is gone");
    ftdi_list_free(&devices);
    if (!ok) {
        ftdi_usb_close(ftdi);
        ftdi_free(ftdi);
        return nullptr;
    }
    usb_adapter *a = static_cast<usb_adapter *>(std::malloc(sizeof(usb_adapter)));
    if (a == nullptr) {
        usb_note("out of memory");
        ftdi_set_bitmode(ftdi, 0, BITMODE_RESET);
        ftdi_usb_close(ftdi);
        ftdi_free(ftdi);
        return nullptr;
    }
    a->ftdi = ftdi;
    return a;
}

bool usb_adapter_write(usb_adapter *a, const uint8_t *bytes, uint32_t n)
{
    const int written = ftdi_write_data(a->ftdi, bytes, static_cast<int>(n));
    if (written == static_cast<int>(n))
        return true;
    if (written >= 0)
        usb_note("ftdi_write_data took %d of %u bytes", written, static_cast<unsigned>(n));
    else
        usb_note("ftdi_write_data failed: %s", ftdi_get_error_string(a->ftdi));
    return false;
}

bool usb_adapter_read(usb_adapter *a, uint8_t *samples, uint32_t n)
{
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    uint32_t got = 0;
    while (got < n) {
        const int r = ftdi_read_data(a->ftdi, samples + got, static_cast<int>(n - got));
        if (r < 0) {
            usb_note("ftdi_read_data failed: %s", ftdi_get_error_string(a->ftdi));
            return false;
        }
        got += static_cast<uint32_t>(r);
        if (r == 0 && got < n && elapsed_ms(start) > READ_TIMEOUT_MS) {
            usb_note("the adapter returned %u of %u samples", static_cast<unsigned>(got), static_cast<unsigned>(n));
            return false;
        }
    }
    return true;
}

void usb_adapter_close(usb_adapter *a)
{
    if (a == nullptr)
        return;
    ftdi_set_bitmode(a->ftdi, 0, BITMODE_RESET);
    ftdi_usb_close(a->ftdi);
    ftdi_free(a->ftdi);
    std::free(a);
}
