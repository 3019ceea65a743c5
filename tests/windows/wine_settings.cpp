#include "wine_settings.h"

#include <windows.h>

#include <cstring>

bool SetWineAppDefault(const std::string& exeName, const char* subkey, const char* name, const char* value)
{
    std::string path = "Software\\Wine\\AppDefaults\\" + exeName;
    if (subkey != NULL) path += std::string("\\") + subkey;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                       static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}
