// SPDX-License-Identifier: MIT
// The hardware back end's work on one PC parallel port, over injected port
// access: claim, set-up and check at arm, one data write and one status read
// per output byte, restore and free at release.
//
// Freestanding (only <stdint.h>): the driver plugs in WRITE_PORT_UCHAR and
// READ_PORT_UCHAR and the system parallel-port driver's allocate and free;
// the native tests plug in a model of the port.
#pragma once

#include <stdint.h>

// Registers at the I/O base.
constexpr uint32_t PP_DATA = 0;
constexpr uint32_t PP_STATUS = 1;
constexpr uint32_t PP_CONTROL = 2;

constexpr uint8_t CONTROL_DIRECTION = 0x20;  // set: data lines read, not driven
constexpr uint8_t CONTROL_IRQ_ENABLE = 0x10; // interrupt on ACK
constexpr uint8_t STATUS_EPP_TIMEOUT = 0x01;

// Extended control register (ECR): mode in bits 7..5. Arming selects the
// standard mode (000: data lines always driven from the data register) with
// the error and service interrupts off and DMA off.
constexpr uint8_t ECR_MODE_MASK = 0xE0;
constexpr uint8_t ECR_STANDARD = 0x14;
// The ECP registers of an ISA port sit 0x400 above its base; the ECR is the
// third of them.
constexpr uint32_t ECP_ISA_OFFSET = 0x400;
constexpr uint32_t ECP_ECR = 2;

// The read-back check: chip select (D0) stays high and SEL2 (D1) low in
// both, so neither wiring selects a chip and no chip sees a clock edge.
constexpr uint8_t VERIFY_PATTERN_A = 0x55;
constexpr uint8_t VERIFY_PATTERN_B = 0xA9;

struct hw_port_io {
    void (*out)(void *context, uint32_t address, uint8_t value);
    uint8_t (*in)(void *context, uint32_t address);
    // Claim the port from the system's parallel-port driver, and hand it
    // back; both null when no system driver serves the port.
    bool (*claim)(void *context);
    void (*free)(void *context);
    void *context;
};

struct hw_port {
    hw_port_io io;
    uint32_t base; // data register; status at base + 1, control at base + 2
    uint32_t ecr;  // extended control register, 0 when the port has none
    bool verify;   // refuse to arm a port whose data lines do not read back
    // While armed:
    bool armed;
    uint8_t saved_control;
    uint8_t saved_ecr;
};

enum hw_arm_result : uint8_t {
    HW_ARMED,
    HW_NOT_HANDED_OVER, // the system driver kept the port
    HW_NO_READBACK,     // the data lines did not read back: absent, tristated or not ours
};

// Claims the port, sets it up (ECR to standard mode, control register's
// direction and interrupt bits cleared, other lines kept, a pending EPP
// timeout cleared) and checks it. On failure everything is restored and
// handed back, and the port is not armed. An armed port is left as it is.
hw_arm_result hw_port_arm(hw_port *port);

// Writes back the saved control register and ECR, then frees the port.
// Does nothing unless armed.
void hw_port_release(hw_port *port);

// The back end's two operations for port_play (context: the hw_port).
void hw_port_put(void *port, uint8_t data);
uint8_t hw_port_take(void *port);

// An I/O base the hardware back end accepts: a multiple of 4 from 0x100 to
// 0xFFFC (off the motherboard's fixed ports, all registers in I/O space).
bool hw_io_base_ok(uint32_t base);

// The ECR of a port at base when nothing else tells: base + 0x402 for the
// ISA ports at 0x378 and 0x278; none for 0x3BC (no ECP registers there) and
// for any other base (PCI cards keep them elsewhere).
uint32_t hw_default_ecr(uint32_t base);

// True when two ports' registers (base to base + 2, and the ECR) overlap.
bool hw_ports_overlap(const hw_port &a, const hw_port &b);
