// The back ends behind a port device: a simulated board, or the port's two
// registers. Both play through the one loop of port_play.h.
#include "port_play.h"
#include "torvex.h"

namespace {

// Lowest and highest I/O base accepted for the hardware back end: keeps the
// driver off the motherboard's fixed ports below 0x100 and keeps base + 1
// inside the 16-bit I/O space.
constexpr ULONG MIN_IO_BASE = 0x100;
constexpr ULONG MAX_IO_BASE = 0xFFFE;

void sim_put(void *context, uint8_t data)
{
    auto *ext = static_cast<port_ext *>(context);
    ext->sim_status = sim_board_step(ext->board, data);
}

uint8_t sim_take(void *context)
{
    return static_cast<port_ext *>(context)->sim_status;
}

// The hardware back end touches exactly two I/O ports: the data register at
// io_base and the status register at io_base + 1.
void hw_put(void *context, uint8_t data)
{
    auto *ext = static_cast<port_ext *>(context);
    WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(ext->io_base)), data);
}

uint8_t hw_take(void *context)
{
    auto *ext = static_cast<port_ext *>(context);
    return READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(ext->io_base + 1)));
}

ULONG default_io_base(ULONG port)
{
    switch (port) {
    case 1:
        return 0x378;
    case 2:
        return 0x278;
    case 3:
        return 0x3BC;
    default:
        return 0;
    }
}

bool hw_init(port_ext *ext, HANDLE key, ULONG port)
{
    ULONG io_base = default_io_base(port);
    read_port_dword(key, L"IoBase", port, &io_base);
    if (io_base < MIN_IO_BASE || io_base > MAX_IO_BASE) {
        DbgPrint("torvex: port %lu: I/O base 0x%lx refused\n", port, io_base);
        return false;
    }
    // The two registers of a port belong to that port alone.
    for (ULONG other = TORVEX_MIN_PORT; other < port; ++other) {
        if (g_driver.ports[other] == nullptr)
            continue;
        const ULONG b = static_cast<port_ext *>(g_driver.ports[other]->DeviceExtension)->io_base;
        if (io_base + 1 >= b && io_base <= b + 1) {
            DbgPrint("torvex: port %lu: I/O base 0x%lx overlaps port %lu\n", port, io_base, other);
            return false;
        }
    }
    ext->io_base = io_base;
    return true;
}

bool sim_init(port_ext *ext, HANDLE key, ULONG port)
{
    ULONG wiring = SIM_WIRING_DIRECT;
    read_port_dword(key, L"Wiring", port, &wiring);
    if (wiring != SIM_WIRING_DIRECT && wiring != SIM_WIRING_MUX)
        wiring = SIM_WIRING_DIRECT;
    auto *board = static_cast<sim_board *>(
        ExAllocatePoolWithTag(NONPAGED_POOL, sizeof(sim_board), POOL_TAG));
    if (board == nullptr)
        return false;
    sim_board_init(board, static_cast<uint8_t>(wiring));
    ULONG stopped = 0;
    read_port_dword(key, L"StoppedChips", port, &stopped);
    for (ULONG c = 0; c < SIM_MAX_CHIPS; ++c)
        board->chips[c].stopped = (stopped >> c) & 1;
    ext->board = board;
    return true;
}

} // namespace

// Sets up port n's back end in its (zeroed) extension; false when the port
// cannot be served (bad I/O base, registers shared with another port, no
// memory).
bool backend_init(port_ext *ext, HANDLE key, ULONG port)
{
    ext->backend = g_driver.backend;
    return ext->backend == TORVEX_BACKEND_HARDWARE ? hw_init(ext, key, port)
                                                   : sim_init(ext, key, port);
}

void backend_free(port_ext *ext)
{
    if (ext->board != nullptr)
        ExFreePoolWithTag(ext->board, POOL_TAG);
    ext->board = nullptr;
}

void backend_play(port_ext *ext, const uint8_t *out, uint8_t *status, uint32_t n)
{
    port_ops ops;
    ops.context = ext;
    if (ext->backend == TORVEX_BACKEND_HARDWARE) {
        ops.put = hw_put;
        ops.take = hw_take;
    } else {
        ops.put = sim_put;
        ops.take = sim_take;
    }
    port_play(&ops, out, status, n);
}
