// SPDX-License-Identifier: MIT
// The control device \\.\TORVEXCTL (simulated back end only): one function
// per request, each checking its lengths and fields, then working on one
// port's board under that port's lock.
#include "torvex.h"

namespace {

// Copies the request structure at the start of the input buffer; false when
// the input is shorter than the structure. Callers check the exact length.
template <typename T>
bool take(const request &c, T *r)
{
    if (c.buffer == nullptr || c.in_length < sizeof(T))
        return false;
    RtlCopyMemory(r, c.buffer, sizeof(T));
    return true;
}

// The port extension of a configured port that has a simulated board.
port_ext *port_with_board(ULONG port)
{
    if (port < TORVEX_MIN_PORT || port > TORVEX_MAX_PORT || g_driver.ports[port] == nullptr)
        return nullptr;
    auto *ext = static_cast<port_ext *>(g_driver.ports[port]->DeviceExtension);
    return ext->board != nullptr ? ext : nullptr;
}

// Runs fn(ext) on the port's board under the port's lock.
template <typename Fn>
NTSTATUS on_board(ULONG port, Fn fn)
{
    port_ext *ext = port_with_board(port);
    if (ext == nullptr)
        return STATUS_NO_SUCH_DEVICE;
    port_lock guard(ext);
    return fn(ext);
}

bool mem_range_ok(const torvex_mem_request &r)
{
    return r.chip < SIM_MAX_CHIPS && r.address < SIM_MEM_WORDS &&
           r.count <= SIM_MEM_WORDS - r.address;
}

NTSTATUS mem_write(const request &c)
{
    torvex_mem_request r;
    if (!take(c, &r) || !mem_range_ok(r) || c.out_length != 0 ||
        c.in_length != sizeof(r) + r.count * 2)
        return STATUS_INVALID_PARAMETER;
    return on_board(r.port, [&](port_ext *ext) {
        const uint8_t *words = c.buffer + sizeof(r);
        for (ULONG i = 0; i < r.count; ++i)
            ext->board->chips[r.chip].mem[r.address + i] =
                static_cast<uint16_t>(words[2 * i] | words[2 * i + 1] << 8);
        return STATUS_SUCCESS;
    });
}

NTSTATUS mem_read(const request &c)
{
    torvex_mem_request r;
    if (!take(c, &r) || c.in_length != sizeof(r) || !mem_range_ok(r) ||
        c.out_length != r.count * 2)
        return STATUS_INVALID_PARAMETER;
    return on_board(r.port, [&](port_ext *ext) {
        for (ULONG i = 0; i < r.count; ++i) {
            const uint16_t w = ext->board->chips[r.chip].mem[r.address + i];
            c.buffer[2 * i] = static_cast<uint8_t>(w);
            c.buffer[2 * i + 1] = static_cast<uint8_t>(w >> 8);
        }
        *c.info = r.count * 2;
        return STATUS_SUCCESS;
    });
}

NTSTATUS set_chip(const request &c)
{
    torvex_chip_request r;
    if (!take(c, &r) || c.in_length != sizeof(r) || c.out_length != 0 ||
        r.chip >= SIM_MAX_CHIPS || (r.stopped != TORVEX_KEEP && r.stopped > 1) ||
        (r.faults != TORVEX_KEEP && (r.faults & ~0xFu) != 0))
        return STATUS_INVALID_PARAMETER;
    return on_board(r.port, [&](port_ext *ext) {
        sim_chip &chip = ext->board->chips[r.chip];
        if (r.stopped != TORVEX_KEEP)
            chip.stopped = static_cast<uint8_t>(r.stopped);
        if (r.faults != TORVEX_KEEP)
            chip.faults = r.faults;
        return STATUS_SUCCESS;
    });
}

// The requests on a whole port: torvex_port_request in, out_length out.
bool take_port_request(const request &c, torvex_port_request *r, ULONG out_length)
{
    return take(c, r) && c.in_length == sizeof(*r) && c.out_length == out_length;
}

NTSTATUS fail_plays(const request &c)
{
    torvex_port_request r;
    if (!take_port_request(c, &r, 0))
        return STATUS_INVALID_PARAMETER;
    return on_board(r.port, [&](port_ext *ext) {
        ext->fail_pending = r.value;
        return STATUS_SUCCESS;
    });
}

NTSTATUS refuse_probe(const request &c)
{
    torvex_port_request r;
    if (!take_port_request(c, &r, 0) || r.value > 1)
        return STATUS_INVALID_PARAMETER;
    return on_board(r.port, [&](port_ext *ext) {
        ext->refuse_probe = r.value != 0;
        return STATUS_SUCCESS;
    });
}

NTSTATUS reset_board(const request &c)
{
    torvex_port_request r;
    if (!take_port_request(c, &r, 0) || !known_wiring(r.value))
        return STATUS_INVALID_PARAMETER;
    return on_board(r.port, [&](port_ext *ext) {
        sim_board_init(ext->board, static_cast<uint8_t>(r.value));
        RtlZeroMemory(&ext->stats, sizeof(ext->stats));
        ext->fail_pending = 0;
        return STATUS_SUCCESS;
    });
}

NTSTATUS get_stats(const request &c)
{
    torvex_port_request r;
    if (!take_port_request(c, &r, sizeof(torvex_port_stats)))
        return STATUS_INVALID_PARAMETER;
    return on_board(r.port, [&](port_ext *ext) {
        torvex_port_stats s = ext->stats;
        const sim_stats &b = ext->board->stats;
        s.fail_pending = ext->fail_pending;
        s.open_now = ext->open ? 1 : 0;
        s.wiring = ext->board->wiring;
        s.transactions = b.transactions;
        s.read_transactions = b.read_transactions;
        s.write_transactions = b.write_transactions;
        s.words_read = b.words_read;
        s.words_written = b.words_written;
        RtlCopyMemory(c.buffer, &s, sizeof(s));
        *c.info = sizeof(s);
        return STATUS_SUCCESS;
    });
}

// The control codes and the function that serves each.
struct handler {
    ULONG code;
    NTSTATUS (*run)(const request &c);
};
constexpr handler HANDLERS[] = {
    {TORVEX_IOCTL_MEM_WRITE, mem_write},       {TORVEX_IOCTL_MEM_READ, mem_read},
    {TORVEX_IOCTL_SET_CHIP, set_chip},         {TORVEX_IOCTL_FAIL_PLAYS, fail_plays},
    {TORVEX_IOCTL_REFUSE_PROBE, refuse_probe}, {TORVEX_IOCTL_RESET_BOARD, reset_board},
    {TORVEX_IOCTL_GET_STATS, get_stats},
};

} // namespace

bool create_control_device(PDRIVER_OBJECT driver)
{
    UNICODE_STRING device_name;
    WCHAR device_text[48];
    PDEVICE_OBJECT control = create_device(driver, sizeof(control_ext), KIND_CONTROL, L"TorvexCtl",
                                           false, 0, false, &device_name, device_text, 48);
    if (control == nullptr)
        return false;
    auto *ext = static_cast<control_ext *>(control->DeviceExtension);
    if (!publish_device(control, &device_name, WIDE(SPIFNS_DEVICE_NAME "CTL"), false, 0, &ext->link_name,
                        ext->link_buffer, 32)) {
        delete_device(control);
        return false;
    }
    g_driver.control = control;
    return true;
}

NTSTATUS control_request(PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    for (const handler &h : HANDLERS)
        if (h.code == code)
            return h.run(request_of(irp, sp, info));
    return STATUS_INVALID_DEVICE_REQUEST;
}
