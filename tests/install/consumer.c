// SPDX-License-Identifier: MIT
/* A host program built against an installed spifns: the public header, the
 * simulated port drivers of the native library, and a port enumeration that
 * opens the simulated device through the library. */
#include <simport.h>
#include <spifns.h>
#include <stdio.h>

static void SPIFNS_CALL print_port(int number, const char *name, void *context)
{
    (void)context;
    printf(" %d:%s", number, name);
}

int main(void)
{
    if (simport_attach(3, NULL, NULL) != 0)
        return 1;
    spifns_init();
    printf("interface 0x%X, ports", (unsigned)spifns_get_version());
    spifns_enumerate_ports(print_port, NULL);
    printf("\n");
    spifns_close();
    return spifns_get_version() == SPIFNS_VERSION ? 0 : 1;
}
