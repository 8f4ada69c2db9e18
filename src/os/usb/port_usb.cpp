// SPDX-License-Identifier: MIT
// Port back end of the USB edition: port n is one channel of an FTDI USB
// adapter in synchronous bit-bang mode. Each output byte sets the eight bus
// pins (bit k drives Dk, as on the parallel port's data lines), except the
// data-out pin, an input whose level becomes status bit 6.
//
// The chip returns one sample per byte written, taken just before that byte
// is output, so its samples run one byte behind: a play writes its n bytes
// and then the last byte once more (the pins do not change), and status byte
// i is sample i + 1. Bytes go out in chunks whose samples are all read back
// before the next chunk is written, so that no more samples wait unread than
// the smallest chip buffer holds: the chip would stall the pins otherwise.
//
// Failures are told in one trace line each ("usb: ..."): the library's only
// channel to the host for them.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/frame.h"
#include "os/os.h"
#include "os/usb/usb_adapter.h"
#include "os/usb/usb_settings.h"
#include "spifns_wire.h"

namespace {

// Samples that may wait unread: the FT232R's 128-byte buffer, the smallest.
constexpr uint32_t CHUNK = 128;

struct usb_port {
    usb_adapter *adapter;
    uint8_t data_out_pin;
};

char note_text[256];

int compare_ids(const void *a, const void *b)
{
    const usb_adapter_id *x = static_cast<const usb_adapter_id *>(a);
    const usb_adapter_id *y = static_cast<const usb_adapter_id *>(b);
    const int by_serial = std::strcmp(x->serial, y->serial);
    return by_serial != 0 ? by_serial : x->channel - y->channel;
}

// Port n's adapter: the one its setting names, else the n-th present.
bool find_adapter(const usb_settings &s, int32_t port, usb_adapter_id *found)
{
    usb_adapter_id ids[USB_MAX_ADAPTERS];
    note_text[0] = '\0';
    const int n = usb_adapter_list(ids, USB_MAX_ADAPTERS);
    if (n < 0) {
        trace("usb: port %d: %s\n", static_cast<int>(port), note_text);
        return false;
    }
    std::qsort(ids, static_cast<size_t>(n), sizeof ids[0], compare_ids);
    const usb_adapter_id &named = s.port[port];
    for (int i = 0; i < n; i++) {
        const bool match = named.serial[0] != '\0' ? compare_ids(&ids[i], &named) == 0 : i == port - 1;
        if (match) {
            *found = ids[i];
            return true;
        }
    }
    if (named.serial[0] != '\0')
        trace("usb: port %d: no adapter %s channel %c among the %d present\n", static_cast<int>(port), named.serial,
              'A' + named.channel, n);
    else
        trace("usb: port %d: no FTDI adapter for it (%d present%s%s)\n", static_cast<int>(port), n,
              note_text[0] ? "; " : "", note_text);
    return false;
}

// Writes n bytes (at most one chunk) and reads their n samples back.
bool exchange(usb_port *p, const uint8_t *bytes, uint8_t *samples, uint32_t n)
{
    note_text[0] = '\0';
    if (usb_adapter_write(p->adapter, bytes, n) && usb_adapter_read(p->adapter, samples, n))
        return true;
    trace("usb: %s\n", note_text);
    return false;
}

} // namespace

void usb_note(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(note_text, sizeof note_text, format, args);
    va_end(args);
}

os_handle os_port_open(int32_t port)
{
    if (port < PORT_MIN || port > PORT_MAX)
        return nullptr;
    usb_settings s;
    if (!usb_settings_load(&s)) {
        trace("usb: %s\n", s.error);
        return nullptr;
    }
    usb_adapter_id id;
    if (!find_adapter(s, port, &id))
        return nullptr;
    usb_port *p = static_cast<usb_port *>(std::malloc(sizeof(usb_port)));
    if (p == nullptr)
        return nullptr;
    note_text[0] = '\0';
    p->data_out_pin = s.data_out_pin;
    p->adapter = usb_adapter_open(id, static_cast<uint8_t>(~(1u << s.data_out_pin)), s.rate);
    if (p->adapter == nullptr) {
        trace("usb: port %d (adapter %s channel %c): %s\n", static_cast<int>(port), id.serial, 'A' + id.channel,
              note_text);
        std::free(p);
        return nullptr;
    }
    return p;
}

// The probe byte checks that the adapter answers: one neutral byte out, its
// sample back. The probe byte's own value is never put on the pins.
bool os_port_write_byte(os_handle device, uint8_t byte)
{
    if (byte != OPEN_PROBE_BYTE)
        return false;
    const uint8_t neutral = LINE_NEUTRAL;
    uint8_t sample = 0;
    return exchange(static_cast<usb_port *>(device), &neutral, &sample, 1);
}

bool os_port_play(os_handle device, const uint8_t *out, uint8_t *status, uint32_t n)
{
    usb_port *p = static_cast<usb_port *>(device);
    if (n == 0)
        return true;
    // The data-out pin is an input: a waveform that needs it high (the
    // multiplexer's channel 16 with data-out on D5) would reach another chip.
    const uint8_t pin = static_cast<uint8_t>(1u << p->data_out_pin);
    for (uint32_t i = 0; i < n; i++)
        if (out[i] & pin) {
            trace("usb: D%d is the data-out input and cannot be driven high (multiplexer channel %d)\n",
                  p->data_out_pin, (out[i] & MUX_CHANNEL) >> 1);
            return false;
        }
    uint8_t bytes[CHUNK];
    uint8_t samples[CHUNK];
    // The stream is out[0..n-1] and out[n-1] again; sample k was taken before
    // byte k went out, so it shows the pins as byte k - 1 left them.
    const uint64_t total = static_cast<uint64_t>(n) + 1;
    for (uint64_t pos = 0; pos < total; pos += CHUNK) {
        const uint32_t count = static_cast<uint32_t>(total - pos < CHUNK ? total - pos : CHUNK);
        for (uint32_t j = 0; j < count; j++)
            bytes[j] = out[pos + j < n ? pos + j : n - 1];
        if (!exchange(p, bytes, samples, count))
            return false;
        for (uint32_t j = 0; j < count; j++)
            if (pos + j >= 1)
                status[pos + j - 1] = ((samples[j] >> p->data_out_pin) & 1) ? STATUS_MISO : 0;
    }
    return true;
}

// Hands the pins back neutral: every chip deselected, the clock low.
void os_port_close(os_handle device)
{
    usb_port *p = static_cast<usb_port *>(device);
    if (p == nullptr)
        return;
    const uint8_t neutral = LINE_NEUTRAL;
    uint8_t sample = 0;
    exchange(p, &neutral, &sample, 1);
    usb_adapter_close(p->adapter);
    std::free(p);
}
