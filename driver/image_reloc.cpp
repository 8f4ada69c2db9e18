// SPDX-License-Identifier: MIT
// Gives the x64 driver a base-relocation directory. The kernel loads every
// driver at an address of its own choosing, and an image without relocation
// data counts as one that cannot be moved. x64 code addresses everything
// relative to the instruction pointer, so without one absolute address the
// linker finds nothing to relocate and leaves the directory out.
extern "C" void *const torvex_relocation_anchor = const_cast<void **>(&torvex_relocation_anchor);
