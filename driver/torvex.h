// SPDX-License-Identifier: MIT
// torvex driver internals shared by its source files: the device extensions,
// the driver's global state and the helpers each part offers the others.
#pragma once

// The DDK headers define these two themselves; keep the compiler's intrinsic
// header from defining them a second time.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "hw_port.h"
#include "sim_board.h"
#include "torvex_ctl.h"

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

// A port served by the system's parallel-port driver (\Device\ParallelPort<k>).
struct system_port {
    PFILE_OBJECT file; // our reference to its device, null when none
    PDEVICE_OBJECT device;
    ULONG base; // its registers, as that driver reports them
    ULONG ecr;  // 0 when it reports no ECP registers
};

struct port_ext {
    ULONG kind;          // KIND_PORT
    KMUTEX lock;         // serialises this port's requests and the control requests on its board
    bool open;           // a handle is open (exclusive)
    PFILE_OBJECT owner;  // that handle's file object
    bool armed;          // the probe write of this open was accepted
    bool refuse_probe;   // refuse every write (tests: a device that is present but unusable)
    ULONG fail_pending;  // play requests still to fail on purpose
    ULONG backend;
    sim_board *board;    // simulated back end
    uint8_t sim_status;  // status after the last simulated output byte
    hw_port hw;          // hardware back end
    system_port system;  // hardware back end: the system driver serving the port, if any
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

extern driver_state g_driver;

// A wiring the simulated board models: direct, multiplexed or the loopback plug.
inline bool known_wiring(ULONG wiring)
{
    return wiring == SIM_WIRING_DIRECT || wiring == SIM_WIRING_MUX || wiring == SIM_WIRING_LOOPBACK;
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

// The buffered request in hand: one system buffer for input and output.
struct request {
    uint8_t *buffer;
    ULONG in_length;
    ULONG out_length;
    ULONG_PTR *info; // bytes returned
};

request request_of(PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info);

// registry.cpp: text helpers (no C library in kernel mode) and parameters.
size_t append_decimal(WCHAR *text, size_t length, size_t cap, ULONG value);
size_t append_text(WCHAR *text, size_t length, size_t cap, const WCHAR *tail);
void set_unicode(UNICODE_STRING *s, WCHAR *buffer, size_t length, size_t cap);
HANDLE open_parameters(PUNICODE_STRING registry_path);
bool read_dword(HANDLE key, const WCHAR *name, ULONG *value);
bool read_port_dword(HANDLE key, const WCHAR *prefix, ULONG port, ULONG *value);

// devices.cpp: device objects and the port devices' requests.
PDEVICE_OBJECT create_device(PDRIVER_OBJECT driver, ULONG extension_size, ULONG kind,
                             const WCHAR *base, bool numbered, ULONG number, bool exclusive,
                             UNICODE_STRING *device_name, WCHAR *name_buffer, size_t cap);
bool publish_device(PDEVICE_OBJECT device, UNICODE_STRING *device_name, const WCHAR *link_base,
                    bool numbered, ULONG number, UNICODE_STRING *link_name, WCHAR *link_buffer,
                    size_t link_cap);
void delete_device(PDEVICE_OBJECT device);
bool add_port(PDRIVER_OBJECT driver, HANDLE key, ULONG port, bool refuse_probe);
NTSTATUS port_create(port_ext *ext, PIO_STACK_LOCATION sp);
void port_close(port_ext *ext, PIO_STACK_LOCATION sp);
NTSTATUS port_write(port_ext *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info);
NTSTATUS port_control(port_ext *ext, PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info);

// control.cpp: the control device of the simulated back end.
bool create_control_device(PDRIVER_OBJECT driver);
NTSTATUS control_request(PIRP irp, PIO_STACK_LOCATION sp, ULONG_PTR *info);

// backends.cpp: what stands behind a port. backend_arm makes a port ready
// for plays when a handle arms it, backend_release undoes that.
bool backend_init(port_ext *ext, HANDLE key, ULONG port);
void backend_free(port_ext *ext);
bool backend_arm(port_ext *ext);
void backend_release(port_ext *ext);
void backend_play(port_ext *ext, const uint8_t *out, uint8_t *status, uint32_t n);

// parport.cpp: the system's parallel-port driver.
bool system_port_open(ULONG index, system_port *port);
void system_port_close(system_port *port);
bool system_port_allocate(system_port *port);
void system_port_free(system_port *port);
