// SPDX-License-Identifier: MIT
/*
 * The twelve exports of spifns, in the order of the module-definition file:
 * X(export name, short name hosts give the function pointer).
 *
 *   #define RESOLVE(name, member) lib.member = lookup(#name);
 *   SPIFNS_EXPORTS(RESOLVE)
 *
 * The build reads the same list for the module-definition file and the export
 * checks (cmake/spifns_exports.cmake): keep one X(name, member) per export.
 */
#ifndef SPIFNS_EXPORTS_H
#define SPIFNS_EXPORTS_H

#define SPIFNS_EXPORTS(X)                                                                                        \
    X(spifns_init, init)                                                                                         \
    X(spifns_close, close)                                                                                       \
    X(spifns_get_version, get_version)                                                                           \
    X(spifns_get_last_error, get_last_error)                                                                     \
    X(spifns_set_debug_callback, set_debug_callback)                                                             \
    X(spifns_getvarlist, getvarlist)                                                                             \
    X(spifns_getvar, getvar)                                                                                     \
    X(spifns_command, command)                                                                                   \
    X(spifns_chip_select, chip_select)                                                                           \
    X(spifns_enumerate_ports, enumerate_ports)                                                                   \
    X(spifns_sequence, sequence)                                                                                 \
    X(spifns_halvane_xap_stopped, xap_stopped)

#endif /* SPIFNS_EXPORTS_H */
