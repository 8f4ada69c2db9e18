// SPDX-License-Identifier: MIT
#include "os/usb/usb_settings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t RATE_MIN = 3000;
constexpr uint32_t RATE_MAX = 12000000;
constexpr size_t FILE_MAX = 65536;

bool same_word(const char *a, const char *b)
{
    for (; *a && *b; a++, b++)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// A decimal number filling all of text, within [lo, hi].
bool read_number(const char *text, long lo, long hi, long *out)
{
    if (!std::isdigit(static_cast<unsigned char>(*text)))
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// "SERIAL" or "SERIAL:CH", CH a channel letter A to D.
bool read_adapter(const char *text, usb_adapter_id *id)
{
    const char *colon = std::strrchr(text, ':');
    const size_t n = colon ? static_cast<size_t>(colon - text) : std::strlen(text);
    if (n == 0 || n >= USB_SERIAL_MAX)
        return false;
    int channel = 0;
    if (colon != nullptr) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(colon[1])));
        if (c < 'A' || c > 'D' || colon[2] != '\0')
            return false;
        channel = c - 'A';
    }
    std::memset(id->serial, 0, sizeof id->serial);
    std::memcpy(id->serial, text, n);
    id->channel = channel;
    return true;
}

char *trim(char *s)
{
    while (std::isspace(static_cast<unsigned char>(*s)))
        s++;
    char *end = s + std::strlen(s);
    while (end > s && std::isspace(static_cast<unsigned char>(end[-1])))
        *--end = '\0';
    return s;
}

bool refuse(usb_settings *s, const char *origin, const char *what)
{
    std::snprintf(s->error, sizeof s->error, "%.100s: %.150s", origin, what);
    return false;
}

} // namespace

void usb_settings_defaults(usb_settings *s)
{
    std::memset(s, 0, sizeof *s);
    s->data_out_pin = 5;
    s->rate = 1000000;
}

bool usb_settings_apply(usb_settings *s, const char *key, const char *value, const char *origin)
{
    char what[160];
    long v = 0;
    if (same_word(key, "data_out_pin")) {
        // Chip select, data to the chip and the clock (D0, D6, D7) are always driven.
        if (!read_number(value, 1, 5, &v)) {
            std::snprintf(what, sizeof what, "data_out_pin '%.40s' is not a pin from 1 to 5", value);
            return refuse(s, origin, what);
        }
        s->data_out_pin = static_cast<uint8_t>(v);
        return true;
    }
    if (same_word(key, "rate")) {
        if (!read_number(value, RATE_MIN, RATE_MAX, &v)) {
            std::snprintf(what, sizeof what, "rate '%.40s' is not a byte rate from %u to %u", value,
                          static_cast<unsigned>(RATE_MIN), static_cast<unsigned>(RATE_MAX));
            return refuse(s, origin, what);
        }
        s->rate = static_cast<uint32_t>(v);
        return true;
    }
    if (std::strlen(key) > 4 && same_word(std::string(key, 4).c_str(), "port")) {
        if (!read_number(key + 4, PORT_MIN, PORT_MAX, &v)) {
            std::snprintf(what, sizeof what, "no port '%.40s' (port1 to port%d)", key, static_cast<int>(PORT_MAX));
            return refuse(s, origin, what);
        }
        if (!read_adapter(value, &s->port[v])) {
            std::snprintf(what, sizeof what, "%.20s '%.60s' is not SERIAL or SERIAL:A to SERIAL:D", key, value);
            return refuse(s, origin, what);
        }
        return true;
    }
    std::snprintf(what, sizeof what, "unknown setting '%.40s' (data_out_pin, rate, port<n>)", key);
    return refuse(s, origin, what);
}

bool usb_settings_parse(usb_settings *s, const char *text, const char *origin)
{
    int number = 0;
    while (*text != '\0') {
        const char *nl = std::strchr(text, '\n');
        const size_t n = nl ? static_cast<size_t>(nl - text) : std::strlen(text);
        const char *start = text;
        text += nl ? n + 1 : n;
        number++;
        char line[256];
        char where[200];
        std::snprintf(where, sizeof where, "%.160s:%d", origin, number);
        if (n >= sizeof line)
            return refuse(s, where, "line too long");
        std::memcpy(line, start, n);
        line[n] = '\0';
        if (char *comment = std::strpbrk(line, "#;"))
            *comment = '\0';
        char *t = trim(line);
        if (*t == '\0' || *t == '[')
            continue;
        char *eq = std::strchr(t, '=');
        if (eq == nullptr)
            return refuse(s, where, "not 'key = value'");
        *eq = '\0';
        if (!usb_settings_apply(s, trim(t), trim(eq + 1), where))
            return false;
    }
    return true;
}

bool usb_settings_load(usb_settings *s)
{
    usb_settings_defaults(s);
    char path[512];
    const char *named = std::getenv("SPIFNS_USB_CONFIG");
    if (named != nullptr && *named != '\0')
        std::snprintf(path, sizeof path, "%s", named);
    else if (!usb_default_settings_file(path, sizeof path))
        path[0] = '\0';
    if (path[0] != '\0') {
        if (std::FILE *f = std::fopen(path, "rb")) {
            char *text = static_cast<char *>(std::malloc(FILE_MAX + 1));
            const size_t n = text ? std::fread(text, 1, FILE_MAX + 1, f) : 0;
            const bool read_error = std::ferror(f) != 0;
            std::fclose(f);
            if (text == nullptr || read_error || n > FILE_MAX) {
                std::free(text);
                return refuse(s, path, text == nullptr ? "out of memory" : read_error ? "cannot be read" : "larger than 64 KiB");
            }
            text[n] = '\0';
            const bool ok = usb_settings_parse(s, text, path);
            std::free(text);
            if (!ok)
                return false;
        } else if (named != nullptr && *named != '\0') {
            return refuse(s, path, "cannot be opened (SPIFNS_USB_CONFIG)");
        }
    }
    // The environment overrides the file, key by key.
    for (int k = -1; k <= PORT_MAX; k++) {
        char key[16];
        if (k <= 0)
            std::snprintf(key, sizeof key, "%s", k < 0 ? "data_out_pin" : "rate");
        else
            std::snprintf(key, sizeof key, "port%d", k);
        char name[32];
        std::snprintf(name, sizeof name, "SPIFNS_USB_%s", key);
        for (char *c = name; *c; c++)
            *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        const char *value = std::getenv(name);
        if (value != nullptr && !usb_settings_apply(s, key, value, name))
            return false;
    }
    return true;
}
