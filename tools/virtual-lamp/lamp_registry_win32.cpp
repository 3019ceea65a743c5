// A virtual lamp's settings in its device key, where its driver reads them,
// and the counter its instance numbers come from.
#include <cstdio>
#include <cwchar>

#include "tools/virtual-lamp/lamp_setup_parts_win32.h"

namespace {

// Where the next lamp's number is kept, so that a number is not given again
// soon after its lamp went.
const WCHAR kCounterKey[] = L"Software\\Tolvaren\\VirtualLamp";
const WCHAR kCounterValue[] = L"NextNumber";

bool SetText(HKEY key, const WCHAR* name, const WCHAR* text)
{
    const DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(WCHAR));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

DWORD GetNumber(HKEY key, const WCHAR* name, DWORD fallback)
{
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return fallback;
    return value;
}

// Leaves text as it is when there is no such text value.
void GetText(HKEY key, const WCHAR* name, WCHAR* text, DWORD chars)
{
    WCHAR value[MAX_PATH];
    DWORD type = 0, size = sizeof value - sizeof(WCHAR);
    if (RegQueryValueExW(key, name, NULL, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    value[size / sizeof(WCHAR)] = L'\0';
    _snwprintf(text, chars, L"%ls", value);
    text[chars - 1] = L'\0';
}

}  // namespace

DWORD NextLampNumber()
{
    HKEY key;
    DWORD number = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCounterKey, 0, NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return GetTickCount() % 10000;
    DWORD type = 0, size = sizeof number;
    if (RegQueryValueExW(key, kCounterValue, NULL, &type, reinterpret_cast<BYTE*>(&number), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        number = 0;
    const DWORD next = number + 1;
    RegSetValueExW(key, kCounterValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&next), sizeof next);
    RegCloseKey(key);
    return number;
}

bool SetNumber(HKEY key, const WCHAR* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

bool WriteDescription(HKEY key, const LampDescription& lamp, const WCHAR* serial)
{
    bool ok = SetNumber(key, VLAMP_VALUE_VENDOR_ID, lamp.vendorId) &&
              SetNumber(key, VLAMP_VALUE_PRODUCT_ID, lamp.productId) &&
              SetNumber(key, VLAMP_VALUE_VERSION, lamp.version) &&
              SetNumber(key, VLAMP_VALUE_DELAY_MS, lamp.delayMs) &&
              SetNumber(key, VLAMP_VALUE_FAIL_REPORTS, lamp.failReports ? 1 : 0) &&
              SetText(key, VLAMP_VALUE_MANUFACTURER, lamp.manufacturer) &&
              SetText(key, VLAMP_VALUE_PRODUCT, lamp.product) && SetText(key, VLAMP_VALUE_SERIAL, serial);
    if (ok && lamp.logPath[0] != L'\0') ok = SetText(key, VLAMP_VALUE_LOG_FILE, lamp.logPath);
    return ok;
}

void ReadDescription(HKEY key, LampDescription* lamp)
{
    DefaultLampDescription(lamp);
    lamp->vendorId = static_cast<USHORT>(GetNumber(key, VLAMP_VALUE_VENDOR_ID, lamp->vendorId));
    lamp->productId = static_cast<USHORT>(GetNumber(key, VLAMP_VALUE_PRODUCT_ID, lamp->productId));
    lamp->version = static_cast<USHORT>(GetNumber(key, VLAMP_VALUE_VERSION, lamp->version));
    lamp->delayMs = GetNumber(key, VLAMP_VALUE_DELAY_MS, 0);
    lamp->failReports = GetNumber(key, VLAMP_VALUE_FAIL_REPORTS, 0) != 0;
    GetText(key, VLAMP_VALUE_MANUFACTURER, lamp->manufacturer, VLAMP_MAX_STRING + 1);
    GetText(key, VLAMP_VALUE_PRODUCT, lamp->product, VLAMP_MAX_STRING + 1);
    GetText(key, VLAMP_VALUE_SERIAL, lamp->serial, VLAMP_MAX_STRING + 1);
    GetText(key, VLAMP_VALUE_LOG_FILE, lamp->logPath, MAX_PATH);
}
