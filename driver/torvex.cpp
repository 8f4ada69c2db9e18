// SPDX-License-Identifier: MIT
// torvex: legacy (non-PnP) kernel-mode driver that plays SPI waveforms on the
// data lines of PC parallel ports and samples the status lines.
//
// One device per configured port, \Device\Torvex<n> with the link
// \DosDevices\TORVEX<n>. Each port device opens exclusively, is armed by the
// one-byte write of 0xCB, and then serves control code 0: the input buffer is
// played on the port's data lines, one byte per output step, and the status
// byte taken after each step is returned at the same index.
//
// Back ends, chosen by the registry value Parameters\Backend:
//   0  simulated: a simulated board (sim/sim_board) behind each port, steered
//      for tests through the control device \\.\TORVEXCTL;
//   1  hardware: the port's registers.
// README.md describes the registry values, limits and refusals.
//
// The sources: registry.cpp (parameters), devices.cpp (device objects, port
// requests), control.cpp (control device), backends.cpp (back ends),
// hw_port.cpp (the hardware back end's register work over injected port
// access), parport.cpp (claiming a port from the system's parallel-port
// driver); this file holds the entry points. Built freestanding (no
// exceptions, no RTTI, no global constructors) against the DDK headers;
// imports come from ntoskrnl.exe and, on x86, hal.dll only.
#include "torvex.h"

driver_state g_driver; // zero-initialised storage, no constructor

namespace {

constexpr ULONG DEFAULT_PORTS = 1u << 1; // port 1 only
constexpr ULONG DEFAULT_BACKEND = TORVEX_BACKEND_SIM;

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS port_dispatch(port_ext *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    port_lock guard(ext);
    switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
        return port_create(ext, sp);
    case IRP_MJ_CLEANUP: // the last handle is closed: the port is free
    case IRP_MJ_CLOSE:
        port_close(ext, sp);
        return STATUS_SUCCESS;
    case IRP_MJ_WRITE:
        return port_write(ext, irp, sp, info);
    case IRP_MJ_DEVICE_CONTROL:
        return port_control(ext, irp, sp, info);
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS control_dispatch(PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    switch (sp->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
        return STATUS_SUCCESS;
    case IRP_MJ_DEVICE_CONTROL:
        return control_request(irp, sp, info);
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG kind = *static_cast<const ULONG *>(device->DeviceExtension);
    ULONG_PTR info = 0;
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    if (kind == KIND_PORT)
        status = port_dispatch(static_cast<port_ext *>(device->DeviceExtension), irp, sp, &info);
    else if (kind == KIND_CONTROL)
        status = control_dispatch(irp, sp, &info);
    return complete(irp, status, info);
}

void NTAPI unload(PDRIVER_OBJECT)
{
    for (ULONG n = 0; n <= TORVEX_MAX_PORT; ++n) {
        delete_device(g_driver.ports[n]);
        g_driver.ports[n] = nullptr;
    }
    delete_device(g_driver.control);
    g_driver.control = nullptr;
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    RtlZeroMemory(&g_driver, sizeof(g_driver));

    HANDLE key = open_parameters(registry_path);
    ULONG ports = DEFAULT_PORTS;
    ULONG backend = DEFAULT_BACKEND;
    ULONG refuse_probe = 0;
    // A setting that cannot be read as meant stops the driver: never a
    // default in its place (a Backend of the wrong type would otherwise give
    // the simulated boards where hardware was asked for).
    NTSTATUS status = STATUS_SUCCESS;
    if (!read_setting(key, setting_name("Ports"), 0, 0xFFFFFFFF, &ports) ||
        !read_setting(key, setting_name("Backend"), TORVEX_BACKEND_SIM, TORVEX_BACKEND_HARDWARE, &backend) ||
        !read_setting(key, setting_name("RefuseProbe"), 0, 0xFFFFFFFF, &refuse_probe)) {
        DbgPrint("torvex: not started\n");
        status = STATUS_INVALID_PARAMETER;
    }
    ports &= ~1u; // bit 0 names no port
    g_driver.backend = backend;
    backend_setup();

    for (int i = 0; i < IRP_MJ_MAXIMUM_FUNCTION + 1; ++i)
        driver->MajorFunction[i] = dispatch;
    driver->DriverUnload = unload;

    // The control device comes first: once a port device is published a
    // program can use it, so nothing may fail after the ports are in place
    // but the check that at least one port is served.
    if (NT_SUCCESS(status) && backend == TORVEX_BACKEND_SIM && !create_control_device(driver))
        status = STATUS_INSUFFICIENT_RESOURCES;
    ULONG served = 0;
    for (ULONG n = TORVEX_MIN_PORT; NT_SUCCESS(status) && n <= TORVEX_MAX_PORT; ++n) {
        if (((ports >> n) & 1) != 0 && add_port(driver, key, n, ((refuse_probe >> n) & 1) != 0))
            ++served;
    }
    if (key != nullptr)
        ZwClose(key);
    if (NT_SUCCESS(status) && served == 0)
        status = STATUS_NO_SUCH_DEVICE;

    if (!NT_SUCCESS(status))
        unload(driver);
    return status;
}
