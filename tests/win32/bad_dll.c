// SPDX-License-Identifier: MIT
/* Deliberately wrong DLLs for the negative checks of the DLL export, import
 * and format scripts. One flavour per build, chosen by a definition:
 *   BAD_EXTRA      the twelve exports and one more
 *   BAD_MISSPELT   spifns_getvarlist exported as spifns_getvarlst
 *   BAD_DECORATED  spifns_init exported as a stdcall name, spifns_init@0
 *   BAD_IMPORT     the twelve exports, importing user32.dll
 *   BAD_RUNTIME    the twelve exports, importing the GCC runtime DLL
 */
#include <windows.h>

#define EXPORT __declspec(dllexport)

#ifdef BAD_DECORATED
EXPORT int __stdcall spifns_init(void) { return 0; }
#else
EXPORT int spifns_init(void) { return 0; }
#endif
EXPORT void spifns_close(void) {}
EXPORT int spifns_get_version(void) { return 0x103; }
EXPORT int spifns_get_last_error(void *a, void *b) { (void)a; (void)b; return 0x100; }
EXPORT void spifns_set_debug_callback(void *f) { (void)f; }
#ifdef BAD_MISSPELT
EXPORT void spifns_getvarlst(void *a, void *b) { (void)a; (void)b; }
#else
EXPORT void spifns_getvarlist(void *a, void *b) { (void)a; (void)b; }
#endif
EXPORT const char *spifns_getvar(const char *n) { (void)n; return ""; }
EXPORT int spifns_command(const char *c) { (void)c; return 0; }
EXPORT void spifns_chip_select(int n) { (void)n; }
EXPORT void spifns_enumerate_ports(void *f, void *c) { (void)f; (void)c; }
EXPORT int spifns_sequence(const void *r, int n) { (void)r; (void)n; return 0; }
EXPORT int spifns_halvane_xap_stopped(void) { return -1; }

#ifdef BAD_EXTRA
EXPORT int spifns_extra(void) { return 1; }
#endif

#ifdef BAD_IMPORT
EXPORT int spifns_beep_import(void);
int spifns_beep_import(void) { return MessageBeep(0); }
#endif

#ifdef BAD_RUNTIME
/* 64-bit division comes from the GCC runtime; linked shared it is imported. */
volatile long long bad_runtime_a = 1234567890123LL, bad_runtime_b = 7;
BOOL WINAPI DllMain(HINSTANCE h, DWORD reason, LPVOID reserved)
{
    (void)h; (void)reason; (void)reserved;
    bad_runtime_a = bad_runtime_a / bad_runtime_b;
    return TRUE;
}
#endif
