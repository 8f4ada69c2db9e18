// SPDX-License-Identifier: MIT
// The back ends behind a port device: a simulated board, or a PC parallel
// port (hw_port.cpp), claimed from the system's parallel-port driver where
// that driver serves it. Both play through the one loop of port_play.h.
#include "port_play.h"
#include "torvex.h"

namespace {

// System parallel ports looked at for a port at a given base.
constexpr ULONG SYSTEM_PORTS_SCANNED = 8;

void sim_put(void *context, uint8_t data)
{
    auto *ext = static_cast<port_ext *>(context);
    ext->sim_status = sim_board_step(ext->board, data);
}

uint8_t sim_take(void *context)
{
    return static_cast<port_ext *>(context)->sim_status;
}

void io_out(void *, uint32_t address, uint8_t value)
{
    WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(address)), value);
}

uint8_t io_in(void *, uint32_t address)
{
    return READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(address)));
}

bool claim_system_port(void *context)
{
    return system_port_allocate(&static_cast<port_ext *>(context)->system);
}

void free_system_port(void *context)
{
    system_port_free(&static_cast<port_ext *>(context)->system);
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

// The system port to claim: SystemPort<n> when set (it must exist), else
// the one that serves the port's base, if any. False when SystemPort<n>
// names a port that the system driver does not serve.
bool find_system_port(HANDLE key, ULONG port, ULONG base, system_port *found)
{
    ULONG index = 0;
    if (read_port_dword(key, L"SystemPort", port, &index)) {
        if (system_port_open(index, found))
            return true;
        DbgPrint("torvex: port %lu: system parallel port %lu not found\n", port, index);
        return false;
    }
    for (index = 0; index < SYSTEM_PORTS_SCANNED; ++index) {
        if (!system_port_open(index, found))
            continue;
        if (found->base == base)
            return true;
        system_port_close(found);
    }
    return true;
}

bool hw_init(port_ext *ext, HANDLE key, ULONG port)
{
    hw_port &hw = ext->hw;
    ULONG base = default_io_base(port);
    read_port_dword(key, L"IoBase", port, &base);
    if (!find_system_port(key, port, base, &ext->system))
        return false;
    ULONG ecr = hw_default_ecr(base);
    if (ext->system.file != nullptr) {
        base = ext->system.base;
        ecr = ext->system.ecr;
        hw.io.claim = claim_system_port;
        hw.io.free = free_system_port;
    }
    ULONG ecp_base = 0;
    if (read_port_dword(key, L"EcrBase", port, &ecp_base))
        ecr = ecp_base != 0 ? ecp_base + ECP_ECR : 0;
    ULONG verify = 1;
    read_port_dword(key, L"VerifyPort", port, &verify);
    hw.io.out = io_out;
    hw.io.in = io_in;
    hw.io.context = ext;
    hw.base = base;
    hw.ecr = ecr;
    hw.ecr_probe = ext->system.file == nullptr && ecr == hw_default_ecr(base);
    hw.status_writable = true;
    hw.verify = verify != 0;
    if (!hw_io_base_ok(base) || (ecr != 0 && (ecr < 0x100 || ecr > 0xFFFF))) {
        DbgPrint("torvex: port %lu: I/O base 0x%lx or ECR 0x%lx refused\n", port, base, ecr);
        return false;
    }
    // A port's registers belong to that port alone.
    for (ULONG other = TORVEX_MIN_PORT; other < port; ++other) {
        if (g_driver.ports[other] != nullptr &&
            hw_ports_overlap(hw, static_cast<port_ext *>(g_driver.ports[other]->DeviceExtension)->hw)) {
            DbgPrint("torvex: port %lu: registers overlap port %lu\n", port, other);
            return false;
        }
    }
    return true;
}

bool sim_init(port_ext *ext, HANDLE key, ULONG port)
{
    ULONG wiring = SIM_WIRING_DIRECT;
    if (read_port_dword(key, L"Wiring", port, &wiring) && !known_wiring(wiring)) {
        DbgPrint("torvex: port %lu: unknown wiring %lu, taken as direct\n", port, wiring);
        wiring = SIM_WIRING_DIRECT;
    }
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
// cannot be served (bad I/O base, registers shared with another port, a
// named system port missing, no memory).
bool backend_init(port_ext *ext, HANDLE key, ULONG port)
{
    ext->backend = g_driver.backend;
    return ext->backend == TORVEX_BACKEND_HARDWARE ? hw_init(ext, key, port)
                                                   : sim_init(ext, key, port);
}

void backend_free(port_ext *ext)
{
    backend_release(ext);
    system_port_close(&ext->system);
    if (ext->board != nullptr)
        ExFreePoolWithTag(ext->board, POOL_TAG);
    ext->board = nullptr;
}

bool backend_arm(port_ext *ext)
{
    if (ext->backend != TORVEX_BACKEND_HARDWARE)
        return true;
    const hw_arm_result result = hw_port_arm(&ext->hw);
    if (result != HW_ARMED)
        DbgPrint("torvex: port at 0x%lx not armed: %s\n", ext->hw.base,
                 result == HW_NOT_HANDED_OVER ? "the system driver keeps it"
                                              : "data lines do not read back");
    return result == HW_ARMED;
}

void backend_release(port_ext *ext)
{
    if (ext->backend == TORVEX_BACKEND_HARDWARE)
        hw_port_release(&ext->hw);
}

void backend_play(port_ext *ext, const uint8_t *out, uint8_t *status, uint32_t n)
{
    port_ops ops{};
    ops.context = ext;
    if (ext->backend == TORVEX_BACKEND_HARDWARE) {
        ops.put = hw_port_put;
        ops.take = hw_port_take;
        ops.context = &ext->hw;
    } else {
        ops.put = sim_put;
        ops.take = sim_take;
    }
    port_play(&ops, out, status, n);
}
