// SPDX-License-Identifier: MIT
// A loadable module that is not the spifns library: spitool must refuse it.
extern "C" __attribute__((visibility("default"))) int not_spifns(void)
{
    return 1;
}
