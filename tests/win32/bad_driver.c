/* A kernel-mode image with two faults the image check must name: its entry
 * address is 0 (linked with --entry 0, as a wrong entry name leaves it), and
 * it holds no absolute address, so it has no base-relocation directory. */
long not_the_entry(void *driver, void *registry_path)
{
    (void)driver;
    (void)registry_path;
    return 0;
}
