// SPDX-License-Identifier: MIT
// The system's parallel-port driver: finding the port it serves at a given
// base, its register addresses, and allocating and freeing the port through
// its internal requests, so that it leaves the registers alone (no printer
// polling) while one of our handles holds the port. Each request carries our
// file object on its device.
#include "torvex.h"

#include <parallel.h> // needs the DDK types that torvex.h brings

namespace {

// How long arming waits for the system driver to hand the port over.
constexpr LONGLONG ALLOCATE_WAIT_100NS = 10 * 1000 * 1000; // 1 s

NTSTATUS NTAPI request_done(PDEVICE_OBJECT, PIRP, PVOID done)
{
    KeSetEvent(static_cast<PKEVENT>(done), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED; // the IRP is ours to free
}

// Sends one internal request (METHOD_BUFFERED, output in buffer) and waits
// for it, at most wait_100ns when nonzero; a request still pending then is
// cancelled. The IRP is our own, so cancelling it cannot race its freeing.
NTSTATUS internal_request(const system_port *port, ULONG code, void *buffer, ULONG length,
                          LONGLONG wait_100ns)
{
    PIRP irp = IoAllocateIrp(port->device->StackSize, FALSE);
    if (irp == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->AssociatedIrp.SystemBuffer = buffer;
    PIO_STACK_LOCATION sp = IoGetNextIrpStackLocation(irp);
    sp->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    sp->FileObject = port->file;
    sp->Parameters.DeviceIoControl.IoControlCode = code;
    sp->Parameters.DeviceIoControl.OutputBufferLength = length;
    IoSetCompletionRoutine(irp, request_done, &done, TRUE, TRUE, TRUE);
    IoCallDriver(port->device, irp);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -wait_100ns;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE,
                              wait_100ns != 0 ? &timeout : nullptr) == STATUS_TIMEOUT) {
        IoCancelIrp(irp);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    const NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

} // namespace

bool system_port_open(ULONG index, system_port *port)
{
    WCHAR text[48];
    size_t n = append_text(text, 0, 48, L"\\Device\\" DD_PARALLEL_PORT_BASE_NAME_U);
    n = append_decimal(text, n, 48, index);
    UNICODE_STRING name;
    set_unicode(&name, text, n, 48);
    // A stand-in that reports success without a file object (Wine's does,
    // with a device that serves nothing) finds no port.
    port->file = nullptr;
    if (!NT_SUCCESS(IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &port->file,
                                             &port->device)) ||
        port->file == nullptr) {
        port->file = nullptr;
        return false;
    }
    port->index = index;
    PARALLEL_PORT_INFORMATION info;
    RtlZeroMemory(&info, sizeof(info));
    if (!NT_SUCCESS(internal_request(port, IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, &info,
                                     sizeof(info), 0)) ||
        info.SpanOfController < 3) {
        ObDereferenceObject(port->file);
        port->file = nullptr;
        return false;
    }
    port->base = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(info.Controller));
    // The ECP registers, where the system driver found an ECR (PCI cards
    // keep them apart from the base).
    PARALLEL_PNP_INFORMATION pnp;
    RtlZeroMemory(&pnp, sizeof(pnp));
    port->ecr = 0;
    if (NT_SUCCESS(internal_request(port, IOCTL_INTERNAL_GET_PARALLEL_PNP_INFO, &pnp, sizeof(pnp), 0)) &&
        (pnp.HardwareCapabilities & PPT_ECP_PRESENT) != 0 && pnp.SpanOfEcpController > ECP_ECR &&
        pnp.EcpController != nullptr)
        port->ecr = static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(pnp.EcpController)) + ECP_ECR;
    return true;
}

void system_port_close(system_port *port)
{
    if (port->file == nullptr)
        return;
    internal_request(port, IOCTL_INTERNAL_RELEASE_PARALLEL_PORT_INFO, nullptr, 0, 0);
    ObDereferenceObject(port->file);
    port->file = nullptr;
    port->device = nullptr;
}

bool system_port_allocate(system_port *port)
{
    return NT_SUCCESS(internal_request(port, IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE, nullptr, 0,
                                       ALLOCATE_WAIT_100NS));
}

void system_port_free(system_port *port)
{
    internal_request(port, IOCTL_INTERNAL_PARALLEL_PORT_FREE, nullptr, 0, 0);
}
