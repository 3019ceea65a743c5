/* The virtual lamp's settings: values of its instance's device key. */
#include "virtual_lamp.h"

BOOLEAN QueryValue(HANDLE key, const WCHAR* name, ValueBuffer* value)
{
    UNICODE_STRING text;
    ULONG size = 0;
    if (key == NULL) return FALSE;
    RtlInitUnicodeString(&text, name);
    return NT_SUCCESS(ZwQueryValueKey(key, &text, KeyValuePartialInformation, value, sizeof *value, &size));
}

ULONG ReadNumber(HANDLE key, const WCHAR* name, ULONG fallback)
{
    ValueBuffer value;
    if (!QueryValue(key, name, &value) || value.info.Type != REG_DWORD || value.info.DataLength != sizeof(ULONG))
        return fallback;
    return *(const ULONG*)value.info.Data;
}

void ReadText(HANDLE key, const WCHAR* name, WCHAR* text, const WCHAR* fallback)
{
    ValueBuffer value;
    ULONG i = 0;
    if (QueryValue(key, name, &value) && (value.info.Type == REG_SZ || value.info.Type == REG_EXPAND_SZ)) {
        const WCHAR* data = (const WCHAR*)value.info.Data;
        const ULONG count = value.info.DataLength / sizeof(WCHAR);
        for (; i < count && i < VLAMP_MAX_STRING && data[i] != 0; ++i) text[i] = data[i];
    } else {
        for (; i < VLAMP_MAX_STRING && fallback[i] != 0; ++i) text[i] = fallback[i];
    }
    text[i] = 0;
}
