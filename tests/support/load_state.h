// SPDX-License-Identifier: MIT
// Returning the library to the state loading gives it, between tests, fuzz
// inputs and benchmarks. Native builds only: it reaches the library's internals
// and the in-process stand-in.
#pragma once

#include "frame/frame.h"
#include "link/link.h"
#include "os/sim_hooks.h"
#include "simport.h"

// No port open and the link state as loaded; simulated drivers stay attached.
inline void reset_library()
{
    close_port();
    frame_reset_state();
}

// The same with no simulated driver attached and no fault armed.
inline void return_to_load_state()
{
    reset_library();
    simport_reset();
}
