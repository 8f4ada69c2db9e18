// SPDX-License-Identifier: MIT
// Settings of the USB port back end, which the library proper never reads:
// which adapter is which port, the data-out pin and the pin rate.
//
// A text file of "key = value" lines ('#' or ';' starts a comment; a
// "[section]" line is ignored), each key overridable by an environment
// variable SPIFNS_USB_<KEY in upper case>:
//   data_out_pin = 5        the bus pin Dn wired to the chip's data-out (1 to 5)
//   rate = 1000000          output bytes per second (3000 to 12000000)
//   port<n> = SERIAL[:CH]   port n is the adapter with that serial number,
//                           channel CH (A to D, default A); ports not named
//                           are the n-th adapter present, ordered by serial
//                           number, then channel
// The file: SPIFNS_USB_CONFIG when set; otherwise /etc/spifns-usb.conf on
// Linux, spifns-usb.ini beside the DLL on Windows. A missing file is no error.
#pragma once

#include <cstdint>

#include "os/usb/usb_adapter.h"
#include "spifns_wire.h"

struct usb_settings {
    uint8_t data_out_pin;
    uint32_t rate;
    usb_adapter_id port[PORT_MAX + 1]; // serial "" where not named
    char error[256];                   // why the settings were refused
};

// The defaults: data-out on D5, one million output bytes per second, no port named.
void usb_settings_defaults(usb_settings *s);

// Applies one setting; false with s->error set for an unknown key or a bad value.
bool usb_settings_apply(usb_settings *s, const char *key, const char *value, const char *origin);

// Applies every line of text; origin names it in messages. Stops at the first
// bad line (false, s->error says which).
bool usb_settings_parse(usb_settings *s, const char *text, const char *origin);

// Defaults, then the file, then the environment. False with s->error set when
// a value is refused or the file cannot be read.
bool usb_settings_load(usb_settings *s);
