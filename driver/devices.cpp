// SPDX-License-Identifier: MIT
// Device objects of the driver, and the requests of the port devices: the
// exclusive open, the arming probe byte and the play request.
#include "torvex.h"

// Spells <prefix><base><n> (<prefix><base> when not numbered) into buffer
// and points name at it.
static void make_name(UNICODE_STRING *name, WCHAR *buffer, size_t cap, const WCHAR *prefix,
                      const WCHAR *base, bool numbered, ULONG number)
{
    size_t n = append_text(buffer, 0, cap, prefix);
    n = append_text(buffer, n, cap, base);
    if (numbered)
        n = append_decimal(buffer, n, cap, number);
    set_unicode(name, buffer, n, cap);
}

// A SID of the NT authority (S-1-5-...) with up to two subauthorities.
struct nt_sid {
    ULONG storage[4];
    nt_sid(ULONG first, ULONG second = 0)
    {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        RtlInitializeSid(storage, &nt, second != 0 ? 2 : 1);
        *RtlSubAuthoritySid(storage, 0) = first;
        if (second != 0)
            *RtlSubAuthoritySid(storage, 1) = second;
    }
};

// Sets the device's DACL before anyone can open it: SYSTEM and the
// Administrators all access; with users_may_open, the interactive users too,
// with the read and write access that hosts open a port with. Set through a
// kernel handle (ObOpenObjectByPointer, ZwSetSecurityObject), which needs no
// import library beyond ntoskrnl's.
static bool set_device_security(PDEVICE_OBJECT device, bool users_may_open)
{
    const nt_sid system(SECURITY_LOCAL_SYSTEM_RID);
    const nt_sid admins(SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    const nt_sid interactive(SECURITY_INTERACTIVE_RID);
    ULONG acl_storage[32];
    auto *acl = reinterpret_cast<PACL>(acl_storage);
    SECURITY_DESCRIPTOR sd;
    auto sid = [](const nt_sid &s) { return const_cast<PSID>(static_cast<const void *>(s.storage)); };
    if (!NT_SUCCESS(RtlCreateAcl(acl, sizeof(acl_storage), ACL_REVISION)) ||
        !NT_SUCCESS(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid(system))) ||
        !NT_SUCCESS(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid(admins))) ||
        (users_may_open && !NT_SUCCESS(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_WRITE,
                                                              sid(interactive)))) ||
        !NT_SUCCESS(RtlCreateSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) ||
        !NT_SUCCESS(RtlSetDaclSecurityDescriptor(&sd, TRUE, acl, FALSE)))
        return false;
    HANDLE handle = nullptr;
    NTSTATUS status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr,
                                            KernelMode, &handle);
    if (NT_SUCCESS(status)) {
        status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &sd);
        ZwClose(handle);
    }
    if (!NT_SUCCESS(status))
        DbgPrint("torvex: the access rights of a device cannot be set (status 0x%08lx)\n", status);
    return NT_SUCCESS(status);
}

// Creates \Device\<base><n> (or \Device\<base> when not numbered) with a
// zeroed extension that starts with its kind and the access rights of
// set_device_security; the caller fills the rest of the extension, then
// publishes it. Exclusive devices are opened by one handle at a time:
// Windows' I/O manager refuses a second open before the driver sees it.
PDEVICE_OBJECT create_device(PDRIVER_OBJECT driver, ULONG extension_size, ULONG kind,
                             const WCHAR *base, bool numbered, ULONG number, bool exclusive,
                             UNICODE_STRING *device_name, WCHAR *name_buffer, size_t cap)
{
    make_name(device_name, name_buffer, cap, L"\\Device\\", base, numbered, number);

    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver, extension_size, device_name, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, exclusive ? TRUE : FALSE, &device)))
        return nullptr;
    RtlZeroMemory(device->DeviceExtension, extension_size);
    *static_cast<ULONG *>(device->DeviceExtension) = kind;
    if (!set_device_security(device, kind == KIND_PORT)) {
        IoDeleteDevice(device);
        return nullptr;
    }
    return device;
}

// Makes the \DosDevices link (kept in link_name/link_buffer for unload) and
// opens the device for requests. On failure the device is deleted.
bool publish_device(PDEVICE_OBJECT device, UNICODE_STRING *device_name, const WCHAR *link_base,
                    bool numbered, ULONG number, UNICODE_STRING *link_name, WCHAR *link_buffer,
                    size_t link_cap)
{
    UNICODE_STRING link;
    make_name(&link, link_buffer, link_cap, L"\\DosDevices\\", link_base, numbered, number);
    if (!NT_SUCCESS(IoCreateSymbolicLink(&link, device_name)))
        return false;
    *link_name = link;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return true;
}

// Removes a \DosDevices link that publish_device made.
static void delete_link(UNICODE_STRING *link)
{
    if (link->Buffer != nullptr)
        IoDeleteSymbolicLink(link);
}

void delete_device(PDEVICE_OBJECT device)
{
    if (device == nullptr)
        return;
    const ULONG kind = *static_cast<const ULONG *>(device->DeviceExtension);
    if (kind == KIND_PORT) {
        auto *ext = static_cast<port_ext *>(device->DeviceExtension);
        delete_link(&ext->link_name);
        backend_free(ext);
    } else if (kind == KIND_CONTROL) {
        delete_link(&static_cast<control_ext *>(device->DeviceExtension)->link_name);
    }
    IoDeleteDevice(device);
}

// Creates port n's device with its back end; false, with a debug message,
// when the port cannot be served (a setting refused, registers shared with
// another port, no memory).
bool add_port(PDRIVER_OBJECT driver, HANDLE key, ULONG port, bool refuse_probe)
{
    UNICODE_STRING device_name;
    WCHAR device_text[48];
    PDEVICE_OBJECT device = create_device(driver, sizeof(port_ext), KIND_PORT, L"Torvex", true,
                                          port, true, &device_name, device_text, 48);
    auto *ext = device != nullptr ? static_cast<port_ext *>(device->DeviceExtension) : nullptr;
    if (ext != nullptr) {
        KeInitializeMutex(&ext->lock, 0);
        ext->refuse_probe = refuse_probe;
    }
    if (ext == nullptr || !backend_init(ext, key, port) ||
        !publish_device(device, &device_name, WIDE(SPIFNS_DEVICE_NAME), true, port, &ext->link_name,
                        ext->link_buffer, 32)) {
        delete_device(device);
        DbgPrint("torvex: port %lu not created\n", port);
        return false;
    }
    g_driver.ports[port] = device;
    return true;
}

request request_of(PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    request r;
    r.buffer = static_cast<uint8_t *>(irp->AssociatedIrp.SystemBuffer);
    r.in_length = sp->Parameters.DeviceIoControl.InputBufferLength;
    r.out_length = sp->Parameters.DeviceIoControl.OutputBufferLength;
    r.info = info;
    return r;
}

// Gives the port to the request's handle, not yet armed.
static void claim(port_ext *ext, PIO_STACK_LOCATION sp)
{
    ext->open = true;
    ext->owner = sp->FileObject;
    ext->armed = false;
    ++ext->stats.opens;
}

NTSTATUS port_create(port_ext *ext, PIO_STACK_LOCATION sp)
{
    if (ext->open) {
        ++ext->stats.open_refusals;
        return STATUS_SHARING_VIOLATION;
    }
    claim(ext, sp);
    return STATUS_SUCCESS;
}

void port_close(port_ext *ext, PIO_STACK_LOCATION sp)
{
    if (ext->open && sp->FileObject == ext->owner) {
        if (ext->armed)
            backend_release(ext);
        ext->open = false;
        ext->owner = nullptr;
        ext->armed = false;
    }
}

static bool is_owner(const port_ext *ext, PIO_STACK_LOCATION sp)
{
    return ext->open && sp->FileObject == ext->owner;
}

NTSTATUS port_write(port_ext *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    const auto *data = static_cast<const UCHAR *>(irp->AssociatedIrp.SystemBuffer);
    const bool probe_byte = sp->Parameters.Write.Length == 1 && data != nullptr && data[0] == OPEN_PROBE_BYTE;
    // The port belongs to the first handle that arms it: a probe byte claims
    // a port that is free or held only by an open that never armed it (Wine
    // can deliver opens and closes out of order; README.md, Open).
    if (probe_byte && !ext->refuse_probe && (!ext->open || (!ext->armed && ext->owner != sp->FileObject)))
        claim(ext, sp);
    if (!is_owner(ext, sp) || ext->refuse_probe || !probe_byte) {
        ++ext->stats.probe_refusals;
        return ext->refuse_probe ? STATUS_DEVICE_NOT_READY : STATUS_INVALID_PARAMETER;
    }
    // The port is set up once per open; a port that cannot be is absent.
    if (!ext->armed && !backend_arm(ext)) {
        ++ext->stats.probe_refusals;
        return STATUS_DEVICE_NOT_READY;
    }
    ext->armed = true;
    ++ext->stats.probes;
    *info = 1;
    return STATUS_SUCCESS;
}

NTSTATUS port_control(port_ext *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    const request r = request_of(irp, sp, info);
    if (sp->Parameters.DeviceIoControl.IoControlCode != PLAY_CONTROL_CODE) {
        ++ext->stats.play_refusals;
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (!is_owner(ext, sp) || !ext->armed) {
        ++ext->stats.play_refusals;
        return STATUS_DEVICE_NOT_READY;
    }
    if (r.in_length == 0 || r.in_length != r.out_length || r.in_length > TORVEX_MAX_PLAY ||
        r.buffer == nullptr) {
        ++ext->stats.play_refusals;
        return STATUS_INVALID_PARAMETER;
    }
    if (ext->fail_pending > 0) {
        --ext->fail_pending;
        ++ext->stats.plays_failed;
        return STATUS_IO_DEVICE_ERROR;
    }
    // One system buffer holds the input and receives the output; the play
    // loop reads each byte before it stores its status.
    if (!backend_play(ext, irp, r.buffer, r.buffer, r.in_length))
        return STATUS_CANCELLED;
    ++ext->stats.plays;
    const ULONG low = ext->stats.play_bytes_low + r.in_length;
    if (low < ext->stats.play_bytes_low)
        ++ext->stats.play_bytes_high;
    ext->stats.play_bytes_low = low;
    *r.info = r.in_length;
    return STATUS_SUCCESS;
}
