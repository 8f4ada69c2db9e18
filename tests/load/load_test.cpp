// SPDX-License-Identifier: MIT
// Loads the shipped shared library the way a host does and checks the state
// that loading alone gives, including after an unload and a fresh load.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "load_replies.h"
#include "spifns.h"

namespace {

struct loaded_library {
    void *handle = dlopen(SPIFNS_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ~loaded_library()
    {
        if (handle != nullptr)
            dlclose(handle);
    }
    template <typename F> F get(const char *name)
    {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
};

void expect_load_state(loaded_library &lib)
{
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    auto get_version = lib.get<int (*)()>("spifns_get_version");
    auto get_last_error = lib.get<int (*)(uint16_t *, const char **)>("spifns_get_last_error");
    auto getvar = lib.get<const char *(*)(const char *)>("spifns_getvar");
    ASSERT_TRUE(get_version && get_last_error && getvar);

    EXPECT_EQ(get_version(), 0x103);
    uint16_t address = 0xABCD;
    const char *message = nullptr;
    EXPECT_EQ(get_last_error(&address, &message), ERR_NONE);
    EXPECT_EQ(address, 0);
    EXPECT_STREQ(message, "No error");
    for (const auto &[name, reply] : LOAD_REPLIES)
        EXPECT_STREQ(getvar(name), reply) << name;
}

} // namespace

TEST(SharedLibraryLoad, FreshLoadGivesInitialStateAgainAfterUnload)
{
    {
        loaded_library lib;
        expect_load_state(lib);
        // Disturb the state: a slower clock, a failure on record, a sink.
        lib.get<int (*)(const char *)>("spifns_command")("SPISLOWER");
        seq_record read{};
        read.command = SEQ_READ;
        EXPECT_EQ(lib.get<int (*)(const seq_record *, int)>("spifns_sequence")(&read, 1), 1);
        EXPECT_EQ(lib.get<int (*)(uint16_t *, const char **)>("spifns_get_last_error")(nullptr, nullptr),
                  ERR_NO_PORT);
        EXPECT_STREQ(lib.get<const char *(*)(const char *)>("spifns_getvar")("SPISHIFTPERIOD"), "2");
    }
    loaded_library again;
    expect_load_state(again);
}
