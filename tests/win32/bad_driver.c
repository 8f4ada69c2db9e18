// SPDX-License-Identifier: MIT
/* A kernel-mode image with three faults the image check must name: its
 * entry address is 0 (linked with --entry 0, as a wrong entry name leaves
 * it); it holds no absolute address, so it has no base-relocation directory;
 * and it has a section that is both writable and executable. */
__asm__(".section .wx,\"wx\"\n\tret\n\t.text");
long not_the_entry(void *driver, void *registry_path)
{
    (void)driver;
    (void)registry_path;
    return 0;
}
