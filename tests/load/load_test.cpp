// SPDX-License-Identifier: MIT
// Loads the shipped shared library the way a host does and checks the state
// that loading alone gives, including after an unload and a fresh load.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "load_replies.h"
#include "loaded_library.h"
#include "spifns.h"

namespace {

void expect_load_state(loaded_library &lib)
{
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_TRUE(lib.get_version && lib.get_last_error && lib.getvar);

    EXPECT_EQ(lib.get_version(), 0x103);
    uint16_t address = 0xABCD;
    const char *message = nullptr;
    EXPECT_EQ(lib.get_last_error(&address, &message), ERR_NONE);
    EXPECT_EQ(address, 0);
    EXPECT_STREQ(message, "No error");
    for (const auto &[name, reply] : LOAD_REPLIES)
        EXPECT_STREQ(lib.getvar(name), reply) << name;
}

} // namespace

TEST(SharedLibraryLoad, FreshLoadGivesInitialStateAgainAfterUnload)
{
    {
        loaded_library lib(SPIFNS_SO_PATH);
        expect_load_state(lib);
        // Disturb the state: a slower clock, a failure on record, a sink.
        lib.command("SPISLOWER");
        seq_record read{};
        read.command = SEQ_READ;
        EXPECT_EQ(lib.sequence(&read, 1), 1);
        EXPECT_EQ(lib.get_last_error(nullptr, nullptr),
                  ERR_NO_PORT);
        EXPECT_STREQ(lib.getvar("SPISHIFTPERIOD"), "2");
    }
    loaded_library again(SPIFNS_SO_PATH);
    expect_load_state(again);
}
