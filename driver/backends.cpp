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

// The claim at arm: a fresh reference to the system port, which must still
// be at the base found at start, then its allocation. Dropped again when
// either fails.
bool claim_system_port(void *context)
{
    auto *ext = static_cast<port_ext *>(context);
    system_port &sp = ext->system;
    const ULONG base = sp.base, ecr = sp.ecr;
    if (!system_port_open(sp.index, &sp)) {
        DbgPrint("torvex: port at 0x%lx: \\Device\\ParallelPort%lu is gone\n", ext->hw.base, sp.index);
        return false;
    }
    if (sp.base != base || sp.ecr != ecr) {
        DbgPrint("torvex: port at 0x%lx: \\Device\\ParallelPort%lu moved to 0x%lx\n", ext->hw.base,
                 sp.index, sp.base);
        system_port_close(&sp);
        sp.base = base;
        sp.ecr = ecr;
        return false;
    }
    if (!system_port_allocate(&sp)) {
        DbgPrint("torvex: port at 0x%lx: the system's parallel-port driver keeps it\n", ext->hw.base);
        system_port_close(&sp);
        return false;
    }
    return true;
}

void free_system_port(void *context)
{
    auto *ext = static_cast<port_ext *>(context);
    system_port_free(&ext->system);
    system_port_close(&ext->system);
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

// Finds the system port to claim: SystemPort<n> when set (it must exist),
// else the one that serves the port's base, if any. Only its index and
// registers are kept; the reference is dropped until an arm.
bool find_system_port(HANDLE key, ULONG port, ULONG base, system_port *found)
{
    const setting_name name("SystemPort", port);
    ULONG index = 0;
    bool named = false;
    if (!read_setting(key, name, 0, 0xFFFFFFFF, &index, &named))
        return false;
    if (named) {
        if (!system_port_open(index, found)) {
            DbgPrint("torvex: port %lu: %s names \\Device\\ParallelPort%lu, which is not there\n", port,
                     name.text, index);
            return false;
        }
    } else {
        for (index = 0; index < SYSTEM_PORTS_SCANNED; ++index) {
            if (!system_port_open(index, found))
                continue;
            if (found->base == base)
                break;
            system_port_close(found);
        }
        if (found->file == nullptr) {
            DbgPrint("torvex: port %lu: no system parallel port serves 0x%lx: its registers are used "
                     "directly\n", port, base);
            return true;
        }
    }
    found->serves = true;
    system_port_close(found);
    return true;
}

bool hw_init(port_ext *ext, HANDLE key, ULONG port)
{
    hw_port &hw = ext->hw;
    ULONG base = default_io_base(port), ecp_base = 0, verify = 1;
    bool forced_ecr = false;
    if (!read_setting(key, setting_name("IoBase", port), 0, 0xFFFF, &base) ||
        !read_setting(key, setting_name("EcrBase", port), 0, 0xFFFFFFFF, &ecp_base, &forced_ecr) ||
        !read_setting(key, setting_name("VerifyPort", port), 0, 1, &verify) ||
        !find_system_port(key, port, base, &ext->system))
        return false;
    ULONG ecr = hw_default_ecr(base);
    if (ext->system.serves) {
        base = ext->system.base;
        ecr = ext->system.ecr;
        hw.io.claim = claim_system_port;
        hw.io.free = free_system_port;
    }
    if (!hw_io_base_ok(base)) {
        DbgPrint("torvex: port %lu: I/O base 0x%lx refused: not a multiple of 4 from 0x100 to 0xfffc\n",
                 port, base);
        return false;
    }
    if (forced_ecr && !hw_ecp_base_ok(base, ecp_base)) {
        DbgPrint("torvex: EcrBase%lu refused: 0x%lx %s\n", port, ecp_base,
                 ecp_base < 0x100                ? "is below 0x100"
                 : ecp_base > 0xFFFF - ECP_ECR ? "puts the ECR past 0xffff"
                                               : "puts ECP registers on the port's own");
        return false;
    }
    if (forced_ecr)
        ecr = ecp_base != 0 ? ecp_base + ECP_ECR : 0;
    hw.io.out = io_out;
    hw.io.in = io_in;
    hw.io.context = ext;
    hw.base = base;
    hw.ecr = ecr;
    // Only the ISA default is a guess; the system driver's report and
    // EcrBase<n> are taken as they are.
    hw.ecr_probe = !forced_ecr && !ext->system.serves;
    hw.status_writable = true;
    hw.verify = verify != 0;
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
    ULONG wiring = SIM_WIRING_DIRECT, stopped = 0;
    if (!read_setting(key, setting_name("Wiring", port), SIM_WIRING_DIRECT, SIM_WIRING_LOOPBACK, &wiring) ||
        !read_setting(key, setting_name("StoppedChips", port), 0, (1u << SIM_MAX_CHIPS) - 1, &stopped))
        return false;
    auto *board = static_cast<sim_board *>(
        ExAllocatePoolWithTag(NONPAGED_POOL, sizeof(sim_board), POOL_TAG));
    if (board == nullptr)
        return false;
    sim_board_init(board, static_cast<uint8_t>(wiring));
    for (ULONG c = 0; c < SIM_MAX_CHIPS; ++c)
        board->chips[c].stopped = (stopped >> c) & 1;
    ext->board = board;
    return true;
}

// A play stops when its request is cancelled or its thread is terminating.
bool play_stopped(void *context)
{
    auto *irp = static_cast<PIRP>(context);
    return irp->Cancel || (g_driver.thread_terminating != nullptr && irp->Tail.Overlay.Thread != nullptr &&
                           g_driver.thread_terminating(irp->Tail.Overlay.Thread));
}

PVOID system_routine(const WCHAR *name)
{
    UNICODE_STRING u;
    RtlInitUnicodeString(&u, name);
    return MmGetSystemRoutineAddress(&u);
}

} // namespace

// Wine's ntoskrnl has PsIsThreadTerminating only as a stub that aborts the
// request that calls it; there a play runs on a thread of the device host,
// and the end of the caller's thread reaches it as a cancel.
void backend_setup()
{
    if (system_routine(L"wine_ntoskrnl_main_loop") == nullptr)
        g_driver.thread_terminating =
            reinterpret_cast<BOOLEAN(NTAPI *)(PETHREAD)>(system_routine(L"PsIsThreadTerminating"));
}

// Sets up port n's back end in its (zeroed) extension; false when the port
// cannot be served (a setting of the wrong type or out of range, registers
// shared with another port, a named system port missing, no memory).
bool backend_init(port_ext *ext, HANDLE key, ULONG port)
{
    ext->backend = g_driver.backend;
    return ext->backend == TORVEX_BACKEND_HARDWARE ? hw_init(ext, key, port)
                                                   : sim_init(ext, key, port);
}

void backend_free(port_ext *ext)
{
    backend_release(ext);
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
                 result == HW_NOT_HANDED_OVER ? "the system's parallel-port driver did not hand it over"
                                              : "data lines do not read back");
    return result == HW_ARMED;
}

void backend_release(port_ext *ext)
{
    if (ext->backend == TORVEX_BACKEND_HARDWARE)
        hw_port_release(&ext->hw);
}

bool backend_play(port_ext *ext, PIRP irp, const uint8_t *out, uint8_t *status, uint32_t n)
{
    port_ops ops{};
    ops.stop = play_stopped;
    ops.stop_context = irp;
    if (ext->backend == TORVEX_BACKEND_HARDWARE) {
        ops.put = hw_port_put;
        ops.take = hw_port_take;
        ops.context = &ext->hw;
    } else {
        ops.put = sim_put;
        ops.take = sim_take;
        ops.context = ext;
    }
    if (port_play(&ops, out, status, n) == n)
        return true;
    // Cut short, maybe in the middle of a frame: no chip stays selected.
    if (ext->backend == TORVEX_BACKEND_HARDWARE)
        hw_port_put(&ext->hw, LINE_NEUTRAL);
    return false;
}
