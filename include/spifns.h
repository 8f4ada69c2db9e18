// SPDX-License-Identifier: MIT
/*
 * spifns: SPI transport over the data lines of a PC parallel port.
 *
 * Public interface of the library, for C (C99 or later) and C++ hosts.
 * Every export uses the cdecl calling convention and an undecorated name.
 * On 32-bit targets seq_record and var_entry are the 12-byte records that
 * hosts build and read by hand; the checks at the end of this file hold
 * the layout to that.
 */
#ifndef SPIFNS_H
#define SPIFNS_H

#include <stddef.h>
#include <stdint.h>

/* seq_record's members overlap through anonymous structs and a union, as
 * hosts name them (record.address, record.name). ISO C has anonymous members
 * from C11 and ISO C++ anonymous unions only; GCC and Clang take them in C99
 * and C++ without a -pedantic warning when marked as an extension. */
#if defined(__GNUC__)
#define SPIFNS_ANONYMOUS __extension__
#else
#define SPIFNS_ANONYMOUS
#endif

#if defined(_WIN32)
#define SPIFNS_CALL __cdecl
#define SPIFNS_API
#else
#define SPIFNS_CALL
#define SPIFNS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Interface version reported by spifns_get_version(). */
#define SPIFNS_VERSION 0x103

/* Last-error codes (spifns_get_last_error). */
#define ERR_NONE 0x100
#define ERR_MALLOC 0x101
#define ERR_NO_PORT 0x102
#define ERR_READ 0x103
#define ERR_IOCTL 0x104

/* Command codes of a seq_record. */
#define SEQ_READ 0
#define SEQ_WRITE 1
#define SEQ_SETVAR 2

/* Receives one trace line (terminated, ends in "\n"); valid during the call only. */
typedef void(SPIFNS_CALL *debug_callback_fn)(const char *line);

/* Receives one port: its number, its name ("LPTn", valid during the call only)
 * and the context the host passed to spifns_enumerate_ports. */
typedef void(SPIFNS_CALL *port_enum_fn)(int port_number, const char *name, void *context);

/* One record of a spifns_sequence list. The command selects which member of
 * the union is meaningful: a transfer (SEQ_READ, SEQ_WRITE) or a variable
 * assignment (SEQ_SETVAR). Any other command is skipped. */
typedef struct seq_record {
    int32_t command;
    SPIFNS_ANONYMOUS union {
        SPIFNS_ANONYMOUS struct {
            uint16_t address;    /* chip address of the first word */
            uint16_t word_count; /* 0 to 65535 words */
            uint16_t *words;     /* filled by a read, sent by a write */
        };
        SPIFNS_ANONYMOUS struct {
            const char *name;  /* variable name, e.g. "SPICLOCK" */
            const char *value; /* new value as text */
        };
    };
} seq_record;

/* One entry of the variable table handed out by spifns_getvarlist. */
typedef struct var_entry {
    const char *name;
    const char *default_text;
    uint32_t flags;
} var_entry;

SPIFNS_API int SPIFNS_CALL spifns_init(void);
SPIFNS_API void SPIFNS_CALL spifns_close(void);
SPIFNS_API int SPIFNS_CALL spifns_get_version(void);
SPIFNS_API int SPIFNS_CALL spifns_get_last_error(uint16_t *address, const char **message);
SPIFNS_API void SPIFNS_CALL spifns_set_debug_callback(debug_callback_fn callback);
SPIFNS_API void SPIFNS_CALL spifns_getvarlist(const var_entry **list, int *count);
SPIFNS_API const char *SPIFNS_CALL spifns_getvar(const char *name);
SPIFNS_API int SPIFNS_CALL spifns_command(const char *command);
SPIFNS_API void SPIFNS_CALL spifns_chip_select(int chip_number);
SPIFNS_API void SPIFNS_CALL spifns_enumerate_ports(port_enum_fn callback, void *context);
SPIFNS_API int SPIFNS_CALL spifns_sequence(const seq_record *records, int count);
SPIFNS_API int SPIFNS_CALL spifns_halvane_xap_stopped(void);

#ifdef __cplusplus
}
#define SPIFNS_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define SPIFNS_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else /* C99: an array type of negative size when cond is false */
#define SPIFNS_CHECK_NAME(line) spifns_layout_check_##line
#define SPIFNS_CHECK_AT(line) SPIFNS_CHECK_NAME(line)
#define SPIFNS_STATIC_ASSERT(cond, msg) typedef char SPIFNS_CHECK_AT(__LINE__)[(cond) ? 1 : -1]
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
SPIFNS_STATIC_ASSERT(sizeof(seq_record) == 12, "seq_record is 12 bytes");
SPIFNS_STATIC_ASSERT(offsetof(seq_record, command) == 0, "command at 0");
SPIFNS_STATIC_ASSERT(offsetof(seq_record, address) == 4, "address at 4");
SPIFNS_STATIC_ASSERT(offsetof(seq_record, word_count) == 6, "word_count at 6");
SPIFNS_STATIC_ASSERT(offsetof(seq_record, words) == 8, "words at 8");
SPIFNS_STATIC_ASSERT(offsetof(seq_record, name) == 4, "name at 4");
SPIFNS_STATIC_ASSERT(offsetof(seq_record, value) == 8, "value at 8");
SPIFNS_STATIC_ASSERT(sizeof(var_entry) == 12, "var_entry is 12 bytes");
SPIFNS_STATIC_ASSERT(offsetof(var_entry, default_text) == 4, "default_text at 4");
SPIFNS_STATIC_ASSERT(offsetof(var_entry, flags) == 8, "flags at 8");
#endif

#endif /* SPIFNS_H */
