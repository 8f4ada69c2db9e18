// SPDX-License-Identifier: MIT
// The hardware back end's work on one PC parallel port, over injected port
// access: claim, set-up and check at arm, one data write and one status read
// per output byte, restore and hand back at release.
//
// Freestanding (only <stdint.h> and spifns_wire.h): the Windows driver plugs in
// WRITE_PORT_UCHAR and READ_PORT_UCHAR and the system parallel-port driver's
// allocate and free; the native tests plug in a model of the port. Access
// that some hosts lack is optional: a port with no reachable ECR has ecr 0,
// one whose status register cannot be written has status_writable false,
// and a claim may fail.
#pragma once

#include <stdint.h>

#include "spifns_wire.h"

// Registers at the I/O base.
constexpr uint32_t PP_DATA = 0;
constexpr uint32_t PP_STATUS = 1;
constexpr uint32_t PP_CONTROL = 2;

constexpr uint8_t CONTROL_DIRECTION = 0x20;  // set: data lines read, not driven
constexpr uint8_t CONTROL_IRQ_ENABLE = 0x10; // interrupt on ACK
constexpr uint8_t CONTROL_AUTOFD = 0x02;     // pin 14, not wired to the chips
// The control lines' idle state (INIT high, the others inactive), written
// where the control register's state is unknown.
constexpr uint8_t CONTROL_IDLE = 0x0C;
constexpr uint8_t STATUS_EPP_TIMEOUT = 0x01;

// Extended control register (ECR): mode in bits 7..5; bit 4 set masks the
// error interrupt, bit 2 set the service interrupt and DMA; bits 1 and 0
// (read only) show the FIFO full and empty.
constexpr uint8_t ECR_MODE_MASK = 0xE0;
constexpr uint8_t ECR_QUIET = 0x14;                 // interrupts and DMA off
constexpr uint8_t ECR_STANDARD = 0x00 | ECR_QUIET; // mode 000: lines driven from the data register
constexpr uint8_t ECR_PS2 = 0x20 | ECR_QUIET;      // mode 001: driven unless the direction bit is set
constexpr uint8_t ECR_FIFO_BITS = 0x03;
constexpr uint8_t ECR_FIFO_EMPTY = 0x01;
// The ECP registers of an ISA port sit 0x400 above its base; the ECR is the
// third of them.
constexpr uint32_t ECP_ISA_OFFSET = 0x400;
constexpr uint32_t ECP_ECR = 2;

// The data lines carry LINE_NEUTRAL (spifns_wire.h: no chip selected in
// either wiring, clock low) whenever the back end holds them outside a play.
// The read-back check: chip select, SEL2 and the clock as in the neutral
// byte, the five other lines each once high and once low.
constexpr uint8_t VERIFY_PATTERN_A = LINE_CS | 0x54;
constexpr uint8_t VERIFY_PATTERN_B = LINE_CS | 0x28;

struct hw_port_io {
    void (*out)(void *context, uint32_t address, uint8_t value);
    uint8_t (*in)(void *context, uint32_t address);
    // Claim the port from whoever shares it, and hand it back; both null
    // when nobody does. A claim may fail.
    bool (*claim)(void *context);
    void (*free)(void *context);
    void *context;
};

struct hw_port {
    hw_port_io io;
    uint32_t base; // data register; status at base + 1, control at base + 2
    uint32_t ecr;  // extended control register, 0 when the port has none or it is out of reach
    bool ecr_probe;       // ecr is only where an ECR would be: test that one answers before use
    bool status_writable; // the status register takes writes (clearing a pending EPP timeout)
    bool verify;          // refuse to arm a port whose data lines do not read back
    // While armed:
    bool armed;
    bool ecr_used; // an ECR answered at arm: it is restored at release
    uint8_t saved_control;
    uint8_t saved_ecr;
};

enum hw_arm_result : uint8_t {
    HW_ARMED,
    HW_NOT_HANDED_OVER, // the claim failed: the port is someone else's
    HW_NO_READBACK,     // the data lines did not read back: absent, tristated or not ours
};

// Claims the port and sets it up: the ECR (after the presence test when
// ecr_probe is set) to standard mode with interrupts off, the neutral byte
// on the data lines before their drivers go on, the control register's
// direction and interrupt bits cleared, a pending EPP timeout cleared; then
// the read-back check. On failure the port is restored and handed back, and
// is not armed. An armed port is left as it is.
hw_arm_result hw_port_arm(hw_port *port);

// The neutral byte on the data lines, the control register and the ECR back
// to the state found at arm (see hw_restore_control), and the port handed
// back. Does nothing unless armed.
void hw_port_release(hw_port *port);

// The control register written at arm and at release for one read at arm:
// its four line bits as found, the direction and interrupt bits never set;
// CONTROL_IDLE for 0xFF, which no port holds (nothing answers there).
uint8_t hw_restore_control(uint8_t found);

// The back end's two operations for port_play (context: the hw_port).
void hw_port_put(void *port, uint8_t data);
uint8_t hw_port_take(void *port);

// An I/O base the hardware back end accepts: a multiple of 4 from 0x100 to
// 0xFFFC (off the motherboard's fixed ports, all registers in I/O space).
bool hw_io_base_ok(uint32_t base);

// An ECP register base for a port at base: 0 (none), or from 0x100 with the
// ECR (ecp_base + 2) below 0x10000 and none of the three ECP registers on
// the port's own.
bool hw_ecp_base_ok(uint32_t base, uint32_t ecp_base);

// Where the ECR of a port at base would be when nothing else tells:
// base + 0x402 for the ISA ports at 0x378 and 0x278 (to be probed, since
// ports that decode 10 address bits answer there with their control
// register); none for 0x3BC (no ECP registers there) and for any other base
// (PCI cards keep them elsewhere).
uint32_t hw_default_ecr(uint32_t base);

// True when two ports' registers (base to base + 2, and the ECR) overlap.
bool hw_ports_overlap(const hw_port &a, const hw_port &b);
