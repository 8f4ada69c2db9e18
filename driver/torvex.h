// SPDX-License-Identifier: MIT
// torvex driver internals shared by its source files: the device extensions,
// the driver's global state and the helpers each part offers the others.
#pragma once

// The DDK headers define these two themselves; keep the compiler's intrinsic
// header from defining them a second time.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h> // ntddk.h and the security and thread routines

#include "hw_port.h"
#include "sim_board.h"
#include "torvex_ctl.h"

// A narrow string literal as a wide one (device and link names).
#define WIDE_(text) L##text
#define WIDE(text) WIDE_(text)

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
// Its device is referenced only while the port is armed (or while it is
// looked up at start), so that Device Manager can disable or remove it.
struct system_port {
    bool serves;        // the port is claimed from that driver at each arm
    ULONG index;        // k
    ULONG base;         // its registers, as that driver reports them
    ULONG ecr;          // 0 when it reports no ECP registers (PPT_ECP_PRESENT)
    PFILE_OBJECT file;  // our reference to its device, null when none
    PDEVICE_OBJECT device;
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
    BOOLEAN(NTAPI *thread_terminating)(PETHREAD); // PsIsThreadTerminating, where usable
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
// A setting's name, as the registry and the debug output spell it: the
// prefix, followed by the port number unless it is 0 (IoBase1, Backend).
struct setting_name {
    char text[32];
    setting_name(const char *prefix, ULONG port = 0);
};
enum setting_read : uint8_t { SETTING_MISSING, SETTING_READ, SETTING_BAD };
// Reads a REG_DWORD value; SETTING_BAD, with a debug message naming it,
// when the value is there but of another type or size, or cannot be read.
setting_read read_dword(HANDLE key, const setting_name &name, ULONG *value);
// Reads a setting that must lie in lo..hi: a missing one leaves *value as
// it is; false, with a debug message naming it, when it is of another type
// or out of range. *present, when given, tells whether it was set.
bool read_setting(HANDLE key, const setting_name &name, ULONG lo, ULONG hi, ULONG *value,
                  bool *present = nullptr);

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
void backend_setup(); // once, at driver start
bool backend_init(port_ext *ext, HANDLE key, ULONG port);
void backend_free(port_ext *ext);
bool backend_arm(port_ext *ext);
void backend_release(port_ext *ext);
// Plays n bytes; false when the request was cancelled or its thread is
// terminating (checked every 64 KiB), with the hardware's lines left neutral.
bool backend_play(port_ext *ext, PIRP irp, const uint8_t *out, uint8_t *status, uint32_t n);

// parport.cpp: the system's parallel-port driver. open takes a reference
// to \Device\ParallelPort<index> and reads its registers (base and ECR);
// close drops it.
bool system_port_open(ULONG index, system_port *port);
void system_port_close(system_port *port);
bool system_port_allocate(system_port *port);
void system_port_free(system_port *port);
