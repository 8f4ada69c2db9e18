// SPDX-License-Identifier: MIT
// Port device access: one kernel driver device per port number, and the
// host's open count, whose last release closes the port.
#include <cstdio>

#include "frame/frame.h"
#include "link/link.h"

os_handle open_port_device(int32_t port)
{
    if (os_platform_id() != PLATFORM_NT)
        return nullptr;

    os_handle device = os_port_open(port);
    if (device == nullptr)
        return nullptr;
    if (!os_port_write_byte(device, OPEN_PROBE_BYTE)) {
        os_port_close(device);
        return nullptr;
    }
    return device;
}

void close_port()
{
    if (link_state.port_handle == nullptr)
        return;
    os_port_close(link_state.port_handle);
    link_state.port_handle = nullptr;
    link_state.port_number = 0;
}

bool select_port(int32_t port)
{
    close_port();
    os_handle device = open_port_device(port);
    if (device == nullptr)
        return false;
    link_state.port_handle = device;
    link_state.port_number = port;
    link_state.shift_period = 1;
    return true;
}

extern "C" SPIFNS_API int SPIFNS_CALL spifns_init(void)
{
    // Wrapping arithmetic: unbalanced calls must never overflow a signed int.
    link_state.open_count = static_cast<int32_t>(static_cast<uint32_t>(link_state.open_count) + 1u);
    return 0;
}

extern "C" SPIFNS_API void SPIFNS_CALL spifns_close(void)
{
    link_state.open_count = static_cast<int32_t>(static_cast<uint32_t>(link_state.open_count) - 1u);
    if (link_state.open_count == 0)
        close_port();
}

extern "C" SPIFNS_API void SPIFNS_CALL spifns_enumerate_ports(port_enum_fn callback, void *context)
{
    // Without a callback there is nobody to report to; probing would only
    // open and close devices for nothing.
    if (callback == nullptr)
        return;

    callback(link_state.port_number, "LPT1", context);
    for (int port = PORT_ENUM_FIRST; port <= PORT_ENUM_LAST; port++) {
        os_handle probe = open_port_device(port);
        if (probe == nullptr)
            continue;
        os_port_close(probe);
        char name[16];
        snprintf(name, sizeof name, "LPT%d", port);
        callback(port, name, context);
    }
}
