// SPDX-License-Identifier: MIT
// libftdi1's functions over the FTDI chip model: built into an LD_PRELOAD
// library (or linked into a test), so that a program linked to the real
// libftdi1.so.2 reaches modelled adapters instead of USB. Only the functions
// the USB back end calls are here, each with the results and error strings
// that libftdi1 1.5 documents for the cases the model can meet.
#include <libftdi1/ftdi.h>

#include <stdlib.h>
#include <string.h>

#include "ftdi_model.h"

namespace {

// A modelled USB device stands where libftdi1 has a libusb_device: the
// adapter's index + 1, never dereferenced.
libusb_device *device_of(uint32_t index)
{
    return reinterpret_cast<libusb_device *>(static_cast<uintptr_t>(index) + 1);
}

ftdi_model_adapter *adapter_of(libusb_device *dev)
{
    const uintptr_t v = reinterpret_cast<uintptr_t>(dev);
    return v == 0 ? nullptr : ftdi_model_adapter_at(static_cast<uint32_t>(v - 1));
}

// An open channel stands where libftdi1 keeps its libusb device handle.
ftdi_model_channel *channel_of(ftdi_context *ftdi)
{
    return ftdi == nullptr ? nullptr : reinterpret_cast<ftdi_model_channel *>(ftdi->usb_dev);
}

int fail(ftdi_context *ftdi, int code, const char *message)
{
    if (ftdi != nullptr)
        ftdi->error_str = message;
    return code;
}

ftdi_chip_type type_of(ftdi_chip_kind kind)
{
    switch (kind) {
    case FTDI_232H: return TYPE_232H;
    case FTDI_2232H: return TYPE_2232H;
    case FTDI_4232H: return TYPE_4232H;
    default: return TYPE_R;
    }
}

void copy_string(char *dst, int len, const char *src)
{
    if (dst != nullptr && len > 0) {
        strncpy(dst, src, static_cast<size_t>(len) - 1);
        dst[len - 1] = '\0';
    }
}

} // namespace

extern "C" {

struct ftdi_context *ftdi_new(void)
{
    ftdi_model_from_environment();
    ftdi_context *ftdi = static_cast<ftdi_context *>(calloc(1, sizeof(ftdi_context)));
    if (ftdi == nullptr)
        return nullptr;
    ftdi->usb_read_timeout = 5000;
    ftdi->usb_write_timeout = 5000;
    ftdi->type = TYPE_BM;
    ftdi->baudrate = -1;
    ftdi->interface = 0;
    ftdi->index = INTERFACE_A;
    ftdi->max_packet_size = 64;
    ftdi->error_str = nullptr;
    return ftdi;
}

int ftdi_usb_close(struct ftdi_context *ftdi)
{
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return 0;
    ch->open = false;
    ftdi->usb_dev = nullptr;
    ftdi_model_channel_closed(ch);
    return 0;
}

void ftdi_free(struct ftdi_context *ftdi)
{
    if (ftdi == nullptr)
        return;
    ftdi_usb_close(ftdi);
    free(ftdi);
}

int ftdi_set_interface(struct ftdi_context *ftdi, enum ftdi_interface interface)
{
    if (ftdi == nullptr)
        return fail(ftdi, -2, "USB device unavailable");
    if (ftdi->usb_dev != nullptr)
        return fail(ftdi, -3, "Interface can not be changed on an already open device");
    if (interface < INTERFACE_ANY || interface > INTERFACE_D)
        return fail(ftdi, -1, "Unknown interface");
    const int index = interface == INTERFACE_ANY ? INTERFACE_A : interface;
    ftdi->interface = index - 1;
    ftdi->index = index;
    ftdi->in_ep = 2 * index;
    ftdi->out_ep = 0x81 + 2 * (index - 1);
    return 0;
}

int ftdi_usb_find_all(struct ftdi_context *ftdi, struct ftdi_device_list **devlist, int vendor, int product)
{
    if (devlist == nullptr)
        return fail(ftdi, -3, "out of memory");
    *devlist = nullptr;
    ftdi_device_list **tail = devlist;
    int count = 0;
    for (uint32_t i = 0; i < ftdi_model_count(); i++) {
        const ftdi_chip_info *info = ftdi_chip_info_of(ftdi_model_adapter_at(i)->kind);
        // Vendor and product 0 stand for FTDI's own ids.
        if (!(vendor == 0 && product == 0) && !(vendor == 0x0403 && product == info->product_id))
            continue;
        ftdi_device_list *node = static_cast<ftdi_device_list *>(malloc(sizeof(ftdi_device_list)));
        if (node == nullptr) {
            ftdi_list_free(devlist);
            return fail(ftdi, -3, "out of memory");
        }
        node->next = nullptr;
        node->dev = device_of(i);
        *tail = node;
        tail = &node->next;
        count++;
    }
    return count;
}

void ftdi_list_free(struct ftdi_device_list **devlist)
{
    if (devlist == nullptr)
        return;
    for (ftdi_device_list *n = *devlist; n != nullptr;) {
        ftdi_device_list *next = n->next;
        free(n);
        n = next;
    }
    *devlist = nullptr;
}

// libftdi1 opens the device for the strings and closes the context after.
int ftdi_usb_get_strings(struct ftdi_context *ftdi, struct libusb_device *dev, char *manufacturer, int mnf_len,
                         char *description, int desc_len, char *serial, int serial_len)
{
    if (ftdi == nullptr || dev == nullptr)
        return fail(ftdi, -1, "ftdi or dev are NULL");
    const ftdi_model_adapter *a = adapter_of(dev);
    if (a == nullptr)
        return fail(ftdi, -4, "usb_open() failed");
    copy_string(manufacturer, mnf_len, "FTDI");
    copy_string(description, desc_len, ftdi_chip_info_of(a->kind)->description);
    copy_string(serial, serial_len, a->serial);
    ftdi_usb_close(ftdi);
    return 0;
}

int ftdi_usb_open_dev(struct ftdi_context *ftdi, struct libusb_device *dev)
{
    if (ftdi == nullptr)
        return fail(ftdi, -8, "ftdi context invalid");
    ftdi_model_adapter *a = adapter_of(dev);
    if (a == nullptr)
        return fail(ftdi, -4, "usb_open() failed");
    const ftdi_chip_info *info = ftdi_chip_info_of(a->kind);
    const int channel = ftdi->index - INTERFACE_A;
    if (channel < 0 || static_cast<uint32_t>(channel) >= info->channels || a->channels[channel].open)
        return fail(ftdi, -5,
                    "unable to claim usb device. Make sure the default FTDI driver is not in use");
    ftdi_model_channel *ch = &a->channels[channel];
    ch->open = true;
    ftdi->usb_dev = reinterpret_cast<libusb_device_handle *>(ch);
    ftdi->type = type_of(a->kind);
    ftdi->max_packet_size = info->packet;
    ftdi->bitbang_enabled = 0;
    // libftdi1 resets the device and sets 9600 baud on open.
    ftdi_chip_purge(&ch->chip);
    ch->chip.baud = 9600;
    ftdi->baudrate = 9600;
    return 0;
}

int ftdi_usb_reset(struct ftdi_context *ftdi)
{
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return fail(ftdi, -2, "USB device unavailable");
    ftdi_chip_purge(&ch->chip);
    return 0;
}

int ftdi_tcioflush(struct ftdi_context *ftdi)
{
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return fail(ftdi, -3, "USB device unavailable");
    ftdi_chip_purge(&ch->chip);
    return 0;
}

int ftdi_set_latency_timer(struct ftdi_context *ftdi, unsigned char latency)
{
    if (latency < 1)
        return fail(ftdi, -1, "latency out of range. Only valid for 1-255");
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return fail(ftdi, -3, "USB device unavailable");
    ch->chip.latency_ms = latency;
    return 0;
}

int ftdi_set_bitmode(struct ftdi_context *ftdi, unsigned char bitmask, unsigned char mode)
{
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return fail(ftdi, -2, "USB device unavailable");
    if (mode != BITMODE_RESET && mode != BITMODE_SYNCBB)
        return fail(ftdi, -1, "unable to configure bitbang mode. Perhaps not a BM/2232C type chip?");
    ftdi_chip_set_mode(&ch->chip, bitmask, mode);
    ftdi->bitbang_mode = mode;
    ftdi->bitbang_enabled = mode == BITMODE_RESET ? 0 : 1;
    return 0;
}

// libftdi1 multiplies the rate by 4 while bit-bang mode is on.
int ftdi_set_baudrate(struct ftdi_context *ftdi, int baudrate)
{
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return fail(ftdi, -3, "USB device unavailable");
    if (ftdi->bitbang_enabled)
        baudrate = baudrate * 4;
    if (baudrate <= 0)
        return fail(ftdi, -1, "Silly baudrate <= 0.");
    if (static_cast<uint32_t>(baudrate) < FTDI_MIN_BAUD || static_cast<uint32_t>(baudrate) > ch->chip.info->max_baud)
        return fail(ftdi, -1, "Unsupported baudrate. Note: bitbang baudrates are automatically multiplied by 4");
    ch->chip.baud = static_cast<uint32_t>(baudrate);
    ftdi->baudrate = baudrate;
    return 0;
}

int ftdi_write_data(struct ftdi_context *ftdi, const unsigned char *buf, int size)
{
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return fail(ftdi, -666, "USB device unavailable");
    if (size < 0 || ftdi_chip_write(&ch->chip, buf, static_cast<uint32_t>(size)) != static_cast<uint32_t>(size))
        return fail(ftdi, -1, "usb bulk write failed");
    return size;
}

int ftdi_read_data(struct ftdi_context *ftdi, unsigned char *buf, int size)
{
    ftdi_model_channel *ch = channel_of(ftdi);
    if (ch == nullptr)
        return fail(ftdi, -666, "USB device unavailable");
    if (size <= 0)
        return 0;
    return static_cast<int>(ftdi_chip_read(&ch->chip, buf, static_cast<uint32_t>(size)));
}

const char *ftdi_get_error_string(struct ftdi_context *ftdi)
{
    return ftdi == nullptr ? "" : ftdi->error_str;
}

} // extern "C"
