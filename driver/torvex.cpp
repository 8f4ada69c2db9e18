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
//   1  hardware: the data register at the port's I/O base and the status
//      register at base + 1, and nothing else.
// See README.md for the registry values, limits and refusals.
//
// Built freestanding (no exceptions, no RTTI, no global constructors) against
// the DDK headers; imports come from ntoskrnl.exe and hal.dll only.

// The DDK headers define these two themselves; keep the compiler's intrinsic
// header from defining them a second time.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "port_play.h"
#include "sim_board.h"
#include "torvex_ctl.h"

namespace {

constexpr ULONG POOL_TAG = 0x78767254; // 'Trvx'
constexpr ULONG KIND_PORT = 0x54524f50; // 'PORT'
constexpr ULONG KIND_CONTROL = 0x4c544354; // 'CTLL'
// Nonpaged memory (the boards): on x64 the no-execute pool, NonPagedPoolNx
// (512, not named in the MinGW headers), which memory integrity requires;
// 32-bit Windows before 8 does not know that pool type.
#ifdef _WIN64
constexpr POOL_TYPE NONPAGED_POOL = static_cast<POOL_TYPE>(512);
#else
constexpr POOL_TYPE NONPAGED_POOL = NonPagedPool;
#endif

// Registry defaults.
constexpr ULONG DEFAULT_PORTS = 1u << 1; // port 1 only
constexpr ULONG DEFAULT_BACKEND = TORVEX_BACKEND_SIM;
// Lowest and highest I/O base accepted for the hardware back end: keeps the
// driver off the motherboard's fixed ports below 0x100 and keeps base + 1
// inside the 16-bit I/O space.
constexpr ULONG MIN_IO_BASE = 0x100;
constexpr ULONG MAX_IO_BASE = 0xFFFE;

struct port_ext {
    ULONG kind; // KIND_PORT
    ULONG port;
    KMUTEX lock;         // serialises this port's requests and the control requests on its board
    bool open;           // a handle is open (exclusive)
    PFILE_OBJECT owner;  // that handle's file object
    bool armed;          // the probe write of this open was accepted
    bool refuse_probe;   // refuse every write (tests: a device that is present but unusable)
    ULONG fail_pending;  // play requests still to fail on purpose
    ULONG backend;
    sim_board *board;    // simulated back end
    uint8_t sim_status;  // status after the last simulated output byte
    ULONG io_base;       // hardware back end: data register; base + 1 is status
    torvex_port_stats stats;
    UNICODE_STRING link_name;
    WCHAR link_buffer[32];
};

struct control_ext {
    ULONG kind; // KIND_CONTROL
    UNICODE_STRING link_name;
    WCHAR link_buffer[32];
};

struct driver_state {
    ULONG backend;
    PDEVICE_OBJECT ports[TORVEX_MAX_PORT + 1];
    PDEVICE_OBJECT control;
};

driver_state g_driver; // zero-initialised storage, no constructor

// ---- small helpers (no C library in kernel mode) -------------------------

// Appends the decimal digits of value to a wide text of capacity cap
// (characters, terminator included); returns the new length.
size_t append_decimal(WCHAR *text, size_t length, size_t cap, ULONG value)
{
    WCHAR digits[12];
    size_t n = 0;
    do {
        digits[n++] = static_cast<WCHAR>(L'0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 12);
    while (n > 0 && length + 1 < cap)
        text[length++] = digits[--n];
    text[length] = 0;
    return length;
}

size_t append_text(WCHAR *text, size_t length, size_t cap, const WCHAR *tail)
{
    while (*tail != 0 && length + 1 < cap)
        text[length++] = *tail++;
    text[length] = 0;
    return length;
}

void set_unicode(UNICODE_STRING *s, WCHAR *buffer, size_t length, size_t cap)
{
    s->Buffer = buffer;
    s->Length = static_cast<USHORT>(length * sizeof(WCHAR));
    s->MaximumLength = static_cast<USHORT>(cap * sizeof(WCHAR));
}

// Holds one port's lock for a scope. Each port has its own, so a long play
// on one port never delays another port or the control requests of another.
struct port_lock {
    port_ext *ext;
    explicit port_lock(port_ext *e) : ext(e)
    {
        KeWaitForSingleObject(&ext->lock, Executive, KernelMode, FALSE, nullptr);
    }
    ~port_lock() { KeReleaseMutex(&ext->lock, FALSE); }
    port_lock(const port_lock &) = delete;
    port_lock &operator=(const port_lock &) = delete;
};

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// ---- registry -------------------------------------------------------------

// Opens <RegistryPath>\Parameters for reading; null when it does not exist.
HANDLE open_parameters(PUNICODE_STRING registry_path)
{
    static const WCHAR suffix[] = L"\\Parameters";
    const size_t suffix_chars = sizeof(suffix) / sizeof(WCHAR) - 1;
    if (registry_path == nullptr || registry_path->Buffer == nullptr)
        return nullptr;
    const size_t base_chars = registry_path->Length / sizeof(WCHAR);
    const size_t total = base_chars + suffix_chars;
    if (total * sizeof(WCHAR) > 0xFFF0)
        return nullptr;
    auto *buffer = static_cast<WCHAR *>(
        ExAllocatePoolWithTag(PagedPool, (total + 1) * sizeof(WCHAR), POOL_TAG));
    if (buffer == nullptr)
        return nullptr;
    for (size_t i = 0; i < base_chars; ++i)
        buffer[i] = registry_path->Buffer[i];
    for (size_t i = 0; i <= suffix_chars; ++i)
        buffer[base_chars + i] = suffix[i];
    UNICODE_STRING name;
    set_unicode(&name, buffer, total, total + 1);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    HANDLE key = nullptr;
    const NTSTATUS status = ZwOpenKey(&key, KEY_READ, &attributes);
    ExFreePoolWithTag(buffer, POOL_TAG);
    return NT_SUCCESS(status) ? key : nullptr;
}

// Reads a REG_DWORD value; false (and *value untouched) when it is missing
// or of another type or size.
bool read_dword(HANDLE key, const WCHAR *name, ULONG *value)
{
    if (key == nullptr)
        return false;
    UNICODE_STRING uname;
    RtlInitUnicodeString(&uname, name);
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8];
    } reply;
    ULONG length = 0;
    const NTSTATUS status = ZwQueryValueKey(key, &uname, KeyValuePartialInformation, &reply,
                                            sizeof(reply), &length);
    if (!NT_SUCCESS(status) || reply.info.Type != REG_DWORD || reply.info.DataLength != 4)
        return false;
    const UCHAR *d = reply.info.Data;
    *value = static_cast<ULONG>(d[0]) | static_cast<ULONG>(d[1]) << 8 |
             static_cast<ULONG>(d[2]) << 16 | static_cast<ULONG>(d[3]) << 24;
    return true;
}

// Reads the per-port value <prefix><port>, e.g. IoBase1.
bool read_port_dword(HANDLE key, const WCHAR *prefix, ULONG port, ULONG *value)
{
    WCHAR name[32];
    size_t n = append_text(name, 0, 32, prefix);
    append_decimal(name, n, 32, port);
    return read_dword(key, name, value);
}

// ---- back ends --------------------------------------------------------------

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

void play_on_port(port_ext *ext, const uint8_t *out, uint8_t *status, uint32_t n)
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

// ---- port devices -----------------------------------------------------------

NTSTATUS port_create(port_ext *ext, PIO_STACK_LOCATION sp)
{
    if (ext->open) {
        ++ext->stats.open_refusals;
        return STATUS_SHARING_VIOLATION;
    }
    ext->open = true;
    ext->owner = sp->FileObject;
    ext->armed = false;
    ++ext->stats.opens;
    return STATUS_SUCCESS;
}

void port_close(port_ext *ext, PIO_STACK_LOCATION sp)
{
    if (ext->open && sp->FileObject == ext->owner) {
        ext->open = false;
        ext->owner = nullptr;
        ext->armed = false;
    }
}

bool is_owner(const port_ext *ext, PIO_STACK_LOCATION sp)
{
    return ext->open && sp->FileObject == ext->owner;
}

NTSTATUS port_write(port_ext *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    const auto *data = static_cast<const UCHAR *>(irp->AssociatedIrp.SystemBuffer);
    const bool probe_byte = sp->Parameters.Write.Length == 1 && data != nullptr && data[0] == OPEN_PROBE_BYTE;
    // The port belongs to the first handle that arms it with the probe byte.
    // On Windows the device is exclusive, so a second handle never exists.
    // Wine hands out a handle even for a refused create, and it can deliver
    // the close of a handle closed right after its open later than the next
    // create, or even later than that handle's probe byte; such a stale open
    // never armed the port, so a probe byte from another handle claims a port
    // that is free or held only by an unarmed open.
    if (probe_byte && !ext->refuse_probe && (!ext->open || (!ext->armed && ext->owner != sp->FileObject))) {
        ext->open = true;
        ext->owner = sp->FileObject;
        ext->armed = false;
        ++ext->stats.opens;
    }
    if (!is_owner(ext, sp) || ext->refuse_probe || !probe_byte) {
        ++ext->stats.probe_refusals;
        return ext->refuse_probe ? STATUS_DEVICE_NOT_READY : STATUS_INVALID_PARAMETER;
    }
    ext->armed = true;
    ++ext->stats.probes;
    *info = 1;
    return STATUS_SUCCESS;
}

NTSTATUS port_control(port_ext *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in_length = sp->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out_length = sp->Parameters.DeviceIoControl.OutputBufferLength;
    auto *buffer = static_cast<uint8_t *>(irp->AssociatedIrp.SystemBuffer);
    if (code != PLAY_CONTROL_CODE) {
        ++ext->stats.play_refusals;
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (!is_owner(ext, sp) || !ext->armed) {
        ++ext->stats.play_refusals;
        return STATUS_DEVICE_NOT_READY;
    }
    if (in_length == 0 || in_length != out_length || in_length > TORVEX_MAX_PLAY ||
        buffer == nullptr) {
        ++ext->stats.play_refusals;
        return STATUS_INVALID_PARAMETER;
    }
    if (ext->fail_pending > 0) {
        --ext->fail_pending;
        ++ext->stats.plays_failed;
        return STATUS_IO_DEVICE_ERROR;
    }
    // METHOD_BUFFERED: one system buffer holds the input and receives the
    // output; the play loop reads each byte before it stores its status.
    play_on_port(ext, buffer, buffer, in_length);
    ++ext->stats.plays;
    const ULONG low = ext->stats.play_bytes_low + in_length;
    if (low < ext->stats.play_bytes_low)
        ++ext->stats.play_bytes_high;
    ext->stats.play_bytes_low = low;
    *info = in_length;
    return STATUS_SUCCESS;
}

// ---- control device (simulated back end only) -------------------------------

port_ext *sim_port(ULONG port)
{
    if (port < TORVEX_MIN_PORT || port > TORVEX_MAX_PORT || g_driver.ports[port] == nullptr)
        return nullptr;
    auto *ext = static_cast<port_ext *>(g_driver.ports[port]->DeviceExtension);
    return ext->board != nullptr ? ext : nullptr;
}

// Copies the request structure at the start of the input buffer; false when
// the input is shorter than the structure. Callers check the exact length.
template <typename T>
bool take_request(const uint8_t *buffer, ULONG in_length, T *request)
{
    if (buffer == nullptr || in_length < sizeof(T))
        return false;
    RtlCopyMemory(request, buffer, sizeof(T));
    return true;
}

bool mem_range_ok(const torvex_mem_request &r)
{
    return r.chip < SIM_MAX_CHIPS && r.address < SIM_MEM_WORDS &&
           r.count <= SIM_MEM_WORDS - r.address;
}

NTSTATUS control_request(PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info)
{
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in_length = sp->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out_length = sp->Parameters.DeviceIoControl.OutputBufferLength;
    auto *buffer = static_cast<uint8_t *>(irp->AssociatedIrp.SystemBuffer);

    switch (code) {
    case TORVEX_IOCTL_MEM_WRITE: {
        torvex_mem_request r;
        if (!take_request(buffer, in_length, &r) || !mem_range_ok(r) || out_length != 0 ||
            in_length != sizeof(r) + r.count * 2)
            return STATUS_INVALID_PARAMETER;
        port_ext *ext = sim_port(r.port);
        if (ext == nullptr)
            return STATUS_NO_SUCH_DEVICE;
        port_lock guard(ext);
        const uint8_t *words = buffer + sizeof(r);
        for (ULONG i = 0; i < r.count; ++i)
            ext->board->chips[r.chip].mem[r.address + i] =
                static_cast<uint16_t>(words[2 * i] | words[2 * i + 1] << 8);
        return STATUS_SUCCESS;
    }
    case TORVEX_IOCTL_MEM_READ: {
        torvex_mem_request r;
        if (!take_request(buffer, in_length, &r) || in_length != sizeof(r) || !mem_range_ok(r) ||
            out_length != r.count * 2)
            return STATUS_INVALID_PARAMETER;
        port_ext *ext = sim_port(r.port);
        if (ext == nullptr)
            return STATUS_NO_SUCH_DEVICE;
        port_lock guard(ext);
        for (ULONG i = 0; i < r.count; ++i) {
            const uint16_t w = ext->board->chips[r.chip].mem[r.address + i];
            buffer[2 * i] = static_cast<uint8_t>(w);
            buffer[2 * i + 1] = static_cast<uint8_t>(w >> 8);
        }
        *info = r.count * 2;
        return STATUS_SUCCESS;
    }
    case TORVEX_IOCTL_SET_CHIP: {
        torvex_chip_request r;
        if (!take_request(buffer, in_length, &r) || in_length != sizeof(r) || out_length != 0 ||
            r.chip >= SIM_MAX_CHIPS || (r.stopped != TORVEX_KEEP && r.stopped > 1) ||
            (r.faults != TORVEX_KEEP && (r.faults & ~0xFu) != 0))
            return STATUS_INVALID_PARAMETER;
        port_ext *ext = sim_port(r.port);
        if (ext == nullptr)
            return STATUS_NO_SUCH_DEVICE;
        port_lock guard(ext);
        sim_chip &chip = ext->board->chips[r.chip];
        if (r.stopped != TORVEX_KEEP)
            chip.stopped = static_cast<uint8_t>(r.stopped);
        if (r.faults != TORVEX_KEEP)
            chip.faults = r.faults;
        return STATUS_SUCCESS;
    }
    case TORVEX_IOCTL_FAIL_PLAYS:
    case TORVEX_IOCTL_REFUSE_PROBE:
    case TORVEX_IOCTL_RESET_BOARD:
    case TORVEX_IOCTL_GET_STATS: {
        torvex_port_request r;
        if (!take_request(buffer, in_length, &r) || in_length != sizeof(r))
            return STATUS_INVALID_PARAMETER;
        port_ext *ext = sim_port(r.port);
        if (ext == nullptr)
            return STATUS_NO_SUCH_DEVICE;
        port_lock guard(ext);
        if (code == TORVEX_IOCTL_GET_STATS) {
            if (out_length != sizeof(torvex_port_stats))
                return STATUS_INVALID_PARAMETER;
            torvex_port_stats s = ext->stats;
            s.fail_pending = ext->fail_pending;
            s.open_now = ext->open ? 1 : 0;
            s.wiring = ext->board->wiring;
            s.frames = ext->board->stats.frames;
            s.read_frames = ext->board->stats.read_frames;
            s.write_frames = ext->board->stats.write_frames;
            s.words_read = ext->board->stats.words_read;
            s.words_written = ext->board->stats.words_written;
            RtlCopyMemory(buffer, &s, sizeof(s));
            *info = sizeof(s);
            return STATUS_SUCCESS;
        }
        if (out_length != 0)
            return STATUS_INVALID_PARAMETER;
        if (code == TORVEX_IOCTL_FAIL_PLAYS) {
            ext->fail_pending = r.value;
        } else if (code == TORVEX_IOCTL_REFUSE_PROBE) {
            if (r.value > 1)
                return STATUS_INVALID_PARAMETER;
            ext->refuse_probe = r.value != 0;
        } else {
            if (r.value != SIM_WIRING_DIRECT && r.value != SIM_WIRING_MUX)
                return STATUS_INVALID_PARAMETER;
            sim_board_init(ext->board, static_cast<uint8_t>(r.value));
            RtlZeroMemory(&ext->stats, sizeof(ext->stats));
            ext->fail_pending = 0;
        }
        return STATUS_SUCCESS;
    }
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

// ---- dispatch -------------------------------------------------------------------

NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    const ULONG kind = *static_cast<const ULONG *>(device->DeviceExtension);
    ULONG_PTR info = 0;
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;

    if (kind == KIND_PORT) {
        auto *ext = static_cast<port_ext *>(device->DeviceExtension);
        port_lock guard(ext);
        switch (sp->MajorFunction) {
        case IRP_MJ_CREATE:
            status = port_create(ext, sp);
            break;
        case IRP_MJ_CLEANUP: // the last handle is closed: the port is free
        case IRP_MJ_CLOSE:
            port_close(ext, sp);
            status = STATUS_SUCCESS;
            break;
        case IRP_MJ_WRITE:
            status = port_write(ext, irp, sp, &info);
            break;
        case IRP_MJ_DEVICE_CONTROL:
            status = port_control(ext, irp, sp, &info);
            break;
        default:
            break;
        }
    } else if (kind == KIND_CONTROL) {
        switch (sp->MajorFunction) {
        case IRP_MJ_CREATE:
        case IRP_MJ_CLEANUP:
        case IRP_MJ_CLOSE:
            status = STATUS_SUCCESS;
            break;
        case IRP_MJ_DEVICE_CONTROL:
            status = control_request(irp, sp, &info);
            break;
        default:
            break;
        }
    }
    return complete(irp, status, info);
}

// ---- load and unload ------------------------------------------------------------

void delete_device(PDEVICE_OBJECT device)
{
    if (device == nullptr)
        return;
    const ULONG kind = *static_cast<const ULONG *>(device->DeviceExtension);
    if (kind == KIND_PORT) {
        auto *ext = static_cast<port_ext *>(device->DeviceExtension);
        if (ext->link_name.Buffer != nullptr)
            IoDeleteSymbolicLink(&ext->link_name);
        if (ext->board != nullptr)
            ExFreePoolWithTag(ext->board, POOL_TAG);
    } else if (kind == KIND_CONTROL) {
        auto *ext = static_cast<control_ext *>(device->DeviceExtension);
        if (ext->link_name.Buffer != nullptr)
            IoDeleteSymbolicLink(&ext->link_name);
    }
    IoDeleteDevice(device);
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

// Creates \Device\<base><n> (or \Device\<base> when not numbered) with a
// zeroed extension; the caller fills the extension, then publishes it.
// Exclusive devices are opened by one handle at a time: Windows' I/O manager
// refuses a second open before the driver sees it.
PDEVICE_OBJECT create_device(PDRIVER_OBJECT driver, ULONG extension_size, const WCHAR *base,
                             bool numbered, ULONG number, bool exclusive, UNICODE_STRING *device_name,
                             WCHAR *name_buffer, size_t cap)
{
    size_t n = append_text(name_buffer, 0, cap, L"\\Device\\");
    n = append_text(name_buffer, n, cap, base);
    if (numbered)
        n = append_decimal(name_buffer, n, cap, number);
    set_unicode(device_name, name_buffer, n, cap);

    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver, extension_size, device_name, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, exclusive ? TRUE : FALSE, &device)))
        return nullptr;
    RtlZeroMemory(device->DeviceExtension, extension_size);
    return device;
}

// Makes the \DosDevices link (kept in link_name/link_buffer for unload) and
// opens the device for requests. On failure the device is deleted.
bool publish_device(PDEVICE_OBJECT device, UNICODE_STRING *device_name, const WCHAR *link_base,
                    bool numbered, ULONG number, UNICODE_STRING *link_name, WCHAR *link_buffer,
                    size_t link_cap)
{
    size_t m = append_text(link_buffer, 0, link_cap, L"\\DosDevices\\");
    m = append_text(link_buffer, m, link_cap, link_base);
    if (numbered)
        m = append_decimal(link_buffer, m, link_cap, number);
    UNICODE_STRING link;
    set_unicode(&link, link_buffer, m, link_cap);
    if (!NT_SUCCESS(IoCreateSymbolicLink(&link, device_name)))
        return false;
    *link_name = link;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return true;
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

// Creates port n's device with its back end; false when the port cannot be
// served (bad I/O base, registers shared with another port, no memory).
bool add_port(PDRIVER_OBJECT driver, HANDLE key, ULONG port, ULONG refuse_probe_mask)
{
    ULONG io_base = 0;
    sim_board *board = nullptr;
    if (g_driver.backend == TORVEX_BACKEND_HARDWARE) {
        io_base = default_io_base(port);
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
                DbgPrint("torvex: port %lu: I/O base 0x%lx overlaps port %lu\n", port, io_base,
                         other);
                return false;
            }
        }
    } else {
        ULONG wiring = SIM_WIRING_DIRECT;
        read_port_dword(key, L"Wiring", port, &wiring);
        if (wiring != SIM_WIRING_DIRECT && wiring != SIM_WIRING_MUX)
            wiring = SIM_WIRING_DIRECT;
        board = static_cast<sim_board *>(
            ExAllocatePoolWithTag(NONPAGED_POOL, sizeof(sim_board), POOL_TAG));
        if (board == nullptr)
            return false;
        sim_board_init(board, static_cast<uint8_t>(wiring));
        ULONG stopped = 0;
        read_port_dword(key, L"StoppedChips", port, &stopped);
        for (ULONG c = 0; c < SIM_MAX_CHIPS; ++c)
            board->chips[c].stopped = (stopped >> c) & 1;
    }

    UNICODE_STRING device_name;
    WCHAR device_text[48];
    PDEVICE_OBJECT device = create_device(driver, sizeof(port_ext), L"Torvex", true, port, true,
                                          &device_name, device_text, 48);
    if (device == nullptr) {
        if (board != nullptr)
            ExFreePoolWithTag(board, POOL_TAG);
        return false;
    }
    auto *ext = static_cast<port_ext *>(device->DeviceExtension);
    ext->kind = KIND_PORT;
    ext->port = port;
    KeInitializeMutex(&ext->lock, 0);
    ext->backend = g_driver.backend;
    ext->board = board;
    ext->io_base = io_base;
    ext->refuse_probe = ((refuse_probe_mask >> port) & 1) != 0;
    if (!publish_device(device, &device_name, L"TORVEX", true, port, &ext->link_name,
                        ext->link_buffer, 32)) {
        delete_device(device);
        return false;
    }
    g_driver.ports[port] = device;
    return true;
}

} // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    RtlZeroMemory(&g_driver, sizeof(g_driver));

    HANDLE key = open_parameters(registry_path);
    ULONG ports = DEFAULT_PORTS;
    ULONG backend = DEFAULT_BACKEND;
    ULONG refuse_probe = 0;
    read_dword(key, L"Ports", &ports);
    read_dword(key, L"Backend", &backend);
    read_dword(key, L"RefuseProbe", &refuse_probe);
    ports &= ~1u; // bit 0 names no port

    NTSTATUS status = STATUS_SUCCESS;
    if (backend != TORVEX_BACKEND_SIM && backend != TORVEX_BACKEND_HARDWARE) {
        DbgPrint("torvex: unknown back end %lu\n", backend);
        status = STATUS_INVALID_PARAMETER;
    }
    g_driver.backend = backend;

    for (int i = 0; i < IRP_MJ_MAXIMUM_FUNCTION + 1; ++i)
        driver->MajorFunction[i] = dispatch;
    driver->DriverUnload = unload;

    // The control device comes first: once a port device is published a
    // program can use it, so nothing may fail after the ports are in place
    // but the check that at least one port is served.
    if (NT_SUCCESS(status) && backend == TORVEX_BACKEND_SIM) {
        UNICODE_STRING device_name;
        WCHAR device_text[48];
        PDEVICE_OBJECT control = create_device(driver, sizeof(control_ext), L"TorvexCtl", false, 0, false,
                                               &device_name, device_text, 48);
        if (control != nullptr) {
            auto *ext = static_cast<control_ext *>(control->DeviceExtension);
            ext->kind = KIND_CONTROL;
            if (publish_device(control, &device_name, L"TORVEXCTL", false, 0, &ext->link_name,
                               ext->link_buffer, 32))
                g_driver.control = control;
            else
                delete_device(control);
        }
        if (g_driver.control == nullptr)
            status = STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG served = 0;
    for (ULONG n = TORVEX_MIN_PORT; NT_SUCCESS(status) && n <= TORVEX_MAX_PORT; ++n) {
        if (((ports >> n) & 1) != 0 && add_port(driver, key, n, refuse_probe))
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
