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

setting_name::setting_name(const char *prefix, ULONG port)
{
    size_t n = 0;
    while (*prefix != 0 && n + 1 < sizeof(text))
        text[n++] = *prefix++;
    if (port != 0) {
        char digits[12];
        size_t d = 0;
        do {
            digits[d++] = static_cast<char>('0' + port % 10);
            port /= 10;
        } while (port != 0);
        while (d > 0 && n + 1 < sizeof(text))
            text[n++] = digits[--d];
    }
    text[n] = 0;
}

setting_read read_dword(HANDLE key, const setting_name &name, ULONG *value)
{
    if (key == nullptr)
        return SETTING_MISSING;
    WCHAR wide[sizeof(name.text)];
    size_t n = 0;
    for (; name.text[n] != 0; ++n)
        wide[n] = static_cast<WCHAR>(name.text[n]);
    UNICODE_STRING uname;
    set_unicode(&uname, wide, n, n + 1);
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8];
    } reply;
    RtlZeroMemory(&reply, sizeof(reply));
    ULONG length = 0;
    // A value too long for the buffer still reports its type and size.
    const NTSTATUS status = ZwQueryValueKey(key, &uname, KeyValuePartialInformation, &reply,
                                            sizeof(reply), &length);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND)
        return SETTING_MISSING;
    if (!NT_SUCCESS(status) && status != STATUS_BUFFER_OVERFLOW) {
        DbgPrint("torvex: %s refused: it cannot be read (status 0x%08lx)\n", name.text, status);
        return SETTING_BAD;
    }
    if (reply.info.Type != REG_DWORD || reply.info.DataLength != 4) {
        DbgPrint("torvex: %s refused: not a REG_DWORD (type %lu, %lu bytes)\n", name.text,
                 reply.info.Type, reply.info.DataLength);
        return SETTING_BAD;
    }
    const UCHAR *d = reply.info.Data;
    *value = static_cast<ULONG>(d[0]) | static_cast<ULONG>(d[1]) << 8 |
             static_cast<ULONG>(d[2]) << 16 | static_cast<ULONG>(d[3]) << 24;
    return SETTING_READ;
}

bool read_setting(HANDLE key, const setting_name &name, ULONG lo, ULONG hi, ULONG *value,
                  bool *present)
{
    ULONG v = 0;
    const setting_read r = read_dword(key, name, &v);
    if (present != nullptr)
        *present = r == SETTING_READ;
    if (r == SETTING_BAD)
        return false;
    if (r == SETTING_MISSING)
        return true;
    if (v < lo || v > hi) {
        DbgPrint("torvex: %s refused: 0x%lx is outside 0x%lx to 0x%lx\n", name.text, v, lo, hi);
        return false;
    }
    *value = v;
    return true;
}
