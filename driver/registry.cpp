// SPDX-License-Identifier: MIT
// Registry parameters of the driver (Services\torvex\Parameters) and the
// few text helpers that building their names needs.
#include "torvex.h"

// Appends the decimal digits of value to a wide text of capacity cap
// (characters, terminator included); returns the new length.
size_t append_decimal(WCHAR *text, size_t length, size_t cap, ULONG value)
{
    WCHAR digits[12];
    size_t n = 0;
    do {
        digits[n++] = static_cast<WCHAR>(L'0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 12);
    while (n > 0 && length + 1 < cap)
        text[length++] = digits[--n];
    text[length] = 0;
    return length;
}

size_t append_text(WCHAR *text, size_t length, size_t cap, const WCHAR *tail)
{
    while (*tail != 0 && length + 1 < cap)
        text[length++] = *tail++;
    text[length] = 0;
    return length;
}

void set_unicode(UNICODE_STRING *s, WCHAR *buffer, size_t length, size_t cap)
{
    s->Buffer = buffer;
    s->Length = static_cast<USHORT>(length * sizeof(WCHAR));
    s->MaximumLength = static_cast<USHORT>(cap * sizeof(WCHAR));
}

// Opens <RegistryPath>\Parameters for reading; null when it does not exist.
HANDLE open_parameters(PUNICODE_STRING registry_path)
{
    static const WCHAR suffix[] = L"\\Parameters";
    const size_t suffix_chars = sizeof(suffix) / sizeof(WCHAR) - 1;
    if (registry_path == nullptr || registry_path->Buffer == nullptr)
        return nullptr;
    const size_t base_chars = registry_path->Length / sizeof(WCHAR);
    const size_t total = base_chars + suffix_chars;
    if (total * sizeof(WCHAR) > 0xFFF0)
        return nullptr;
    auto *buffer = static_cast<WCHAR *>(
        ExAllocatePoolWithTag(PagedPool, (total + 1) * sizeof(WCHAR), POOL_TAG));
    if (buffer == nullptr)
        return nullptr;
    for (size_t i = 0; i < base_chars; ++i)
        buffer[i] = registry_path->Buffer[i];
    for (size_t i = 0; i <= suffix_chars; ++i)
        buffer[base_chars + i] = suffix[i];
    UNICODE_STRING name;
    set_unicode(&name, buffer, total, total + 1);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    HANDLE key = nullptr;
    const NTSTATUS status = ZwOpenKey(&key, KEY_READ, &attributes);
    ExFreePoolWithTag(buffer, POOL_TAG);
    return NT_SUCCESS(status) ? key : nullptr;
}

// Reads a REG_DWORD value; false (and *value untouched) when it is missing
// or of another type or size.
bool read_dword(HANDLE key, const WCHAR *name, ULONG *value)
{
    if (key == nullptr)
        return false;
    UNICODE_STRING uname;
    RtlInitUnicodeString(&uname, name);
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8];
    } reply;
    ULONG length = 0;
    const NTSTATUS status = ZwQueryValueKey(key, &uname, KeyValuePartialInformation, &reply,
                                            sizeof(reply), &length);
    if (!NT_SUCCESS(status) || reply.info.Type != REG_DWORD || reply.info.DataLength != 4)
        return false;
    const UCHAR *d = reply.info.Data;
    *value = static_cast<ULONG>(d[0]) | static_cast<ULONG>(d[1]) << 8 |
             static_cast<ULONG>(d[2]) << 16 | static_cast<ULONG>(d[3]) << 24;
    return true;
}

// Reads the per-port value <prefix><port>, e.g. IoBase1.
bool read_port_dword(HANDLE key, const WCHAR *prefix, ULONG port, ULONG *value)
{
    WCHAR name[32];
    size_t n = append_text(name, 0, 32, prefix);
    append_decimal(name, n, 32, port);
    return read_dword(key, name, value);
}
