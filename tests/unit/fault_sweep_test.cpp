// SPDX-License-Identifier: MIT
// Fault sweeps: every operation that talks to the port, run once cleanly and
// then with each platform call failing in turn (device open, the one-byte
// write at open, waveform allocation k, control call k). Each run must give
// the documented result and last error, release every waveform buffer and
// leave open exactly the device the library owns. In the asan preset
// LeakSanitizer watches the same runs.
#include "link_fixture.h"

namespace {

constexpr int BOARD_PORT = 1;
constexpr int OTHER_PORTS[] = {2, 3}; // attached for the enumeration to find
constexpr uint32_t PERIOD_BEFORE = 3;

class FaultSweepTest : public BoardTest {
protected:
    // Handles open over every attached port.
    static int32_t open_handles()
    {
        int32_t open = 0;
        for (int port : {BOARD_PORT, OTHER_PORTS[0], OTHER_PORTS[1]})
            open += port_stats(port).open_handles;
        return open;
    }
    static uint32_t controls() { return port_stats(BOARD_PORT).controls; }
};

void SPIFNS_CALL count_ports(int, const char *, void *context)
{
    ++*static_cast<int *>(context);
}

uint16_t words[2];

int transfer_record(int32_t command)
{
    const seq_record r = transfer(command, 0x100, 2, words);
    return spifns_sequence(&r, 1);
}

// One operation that talks to the port, with its documented results.
struct port_operation {
    const char *name;
    int (*run)();
    int ok;      // result with no fault
    int failed;  // result when an allocation or a control call fails
    int refused; // result when every device refuses its open or its one-byte write
    bool shifts; // moves bits: allocates a buffer pair and makes a control call per shift
    bool selects_port;
    uint32_t confirm_from; // probe: shifts before its confirming read, whose failure resets the period
};

const port_operation operations[] = {
    {"read", [] { return transfer_record(SEQ_READ); }, 0, 1, 0, true, false, 0},
    {"write", [] { return transfer_record(SEQ_WRITE); }, 0, 1, 0, true, false, 0},
    {"probe", [] { return spifns_halvane_xap_stopped(); }, 1, -1, 1, true, false, 4},
    {"SPIMUL", [] { return run_setvar("SPIMUL", "3"); }, 0, 0, 0, true, false, 0},
    {"SPIPORT", [] { return run_setvar("SPIPORT", "1"); }, 0, 0, 1, false, true, 0},
    {"enumeration", [] {
         int found = 0;
         spifns_enumerate_ports(count_ports, &found);
         return found;
     }, 3, 3, 1, false, false, 0},
};

TEST_F(FaultSweepTest, EveryPlatformCallFailingInTurn)
{
    // The same starting point for every run: port 1 open on the board with
    // chip 0 stopped, ports 2 and 3 present, the period at 3, no error.
    auto prepare = [&] {
        LinkTest::reset();
        sim_board_init(&drv->board, SIM_WIRING_DIRECT);
        drv->board.chips[0].stopped = 1;
        open_port(board_driver::play, drv.get());
        for (int port : OTHER_PORTS)
            simport_attach(port, nullptr, nullptr);
        simport_use_virtual_clock(1000, 1);
        link_state.shift_period = PERIOD_BEFORE;
    };
    auto expect_sound = [&](const char *what, uint32_t k) {
        EXPECT_EQ(simport_alloc_live_bytes(), 0u) << what << " " << k;
        EXPECT_EQ(open_handles(), link_state.port_handle != nullptr ? 1 : 0) << what << " " << k;
    };

    for (const port_operation &op : operations) {
        SCOPED_TRACE(op.name);
        prepare();

        // Clean run: the platform calls it makes, and the reference outcome.
        const uint32_t allocs_before = simport_alloc_count();
        const uint32_t controls_before = controls();
        ASSERT_EQ(op.run(), op.ok);
        const uint32_t allocs = simport_alloc_count() - allocs_before;
        const uint32_t calls = controls() - controls_before;
        ASSERT_EQ(last_error(), ERR_NONE);
        EXPECT_EQ(calls > 0, op.shifts);
        EXPECT_EQ(allocs, 2 * calls);
        expect_sound("clean", 0);

        // Each allocation, then each control call, failing in turn: a shift
        // allocates two buffers and makes one call.
        const struct {
            const char *what;
            uint32_t count;     // calls of this kind in the clean run
            uint32_t per_shift; // calls of this kind per shift
            void (*arm)(int k);
            int32_t code;
            const char *message;
        } kinds[] = {
            {"allocation", allocs, 2, [](int k) { simport_fail_alloc_after(k); }, ERR_MALLOC, "Malloc failed"},
            {"control call", calls, 1, [](int k) { simport_fail_control_after(BOARD_PORT, k); }, ERR_IOCTL,
             "IOCTL failed"},
        };
        for (const auto &kind : kinds) {
            for (uint32_t k = 0; k < kind.count; k++) {
                prepare();
                kind.arm(static_cast<int>(k));
                EXPECT_EQ(op.run(), op.failed) << kind.what << " " << k;
                EXPECT_EQ(recorded_error(), (error_record{kind.code, kind.message})) << kind.what << " " << k;
                EXPECT_NE(link_state.port_handle, nullptr);
                expect_sound(kind.what, k);
                if (op.confirm_from != 0) {
                    EXPECT_EQ(link_state.shift_period, k >= kind.per_shift * op.confirm_from ? 1u : PERIOD_BEFORE)
                        << kind.what << " " << k;
                }
            }
        }

        // Opens happen only in port selection and enumeration; a refused one
        // records no code, and only a failed selection leaves a message.
        for (unsigned fault : {SIMPORT_REFUSE_OPEN, SIMPORT_REFUSE_WRITE}) {
            const char *what = fault == SIMPORT_REFUSE_OPEN ? "open refused" : "write refused";
            prepare();
            for (int port : {BOARD_PORT, OTHER_PORTS[0], OTHER_PORTS[1]})
                simport_set_faults(port, fault);
            EXPECT_EQ(op.run(), op.refused) << what;
            EXPECT_EQ(recorded_error(), (error_record{ERR_NONE, op.selects_port ? "Couldn't find LPT port" : "No error"}))
                << what;
            EXPECT_EQ(link_state.port_handle == nullptr, op.selects_port) << what;
            if (op.selects_port) {
                EXPECT_EQ(link_state.port_number, 0) << what;
            }
            expect_sound(what, 0);
        }
    }
}

// With no port selected, transfers, the probe and multiplexer selection fail
// with ERR_NO_PORT before allocating anything.
TEST_F(FaultSweepTest, WithoutAPortNothingIsAllocated)
{
    for (const port_operation &op : operations) {
        if (!op.shifts)
            continue;
        SCOPED_TRACE(op.name);
        LinkTest::reset();
        simport_use_virtual_clock(1000, 1);
        EXPECT_EQ(op.run(), op.failed);
        EXPECT_EQ(last_error(), ERR_NO_PORT);
        EXPECT_EQ(simport_alloc_count(), 0u);
    }
}

} // namespace
