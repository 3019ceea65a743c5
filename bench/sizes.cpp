// The sizes of the two builds of the program, as they ship.
#include "measurements.h"

std::string SizeText(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path == NULL) return "not given";
    if (!GetFileAttributesExA(WindowsPath(path).c_str(), GetFileExInfoStandard, &data)) return "missing";
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return Format("%llu bytes (%.1f KiB)", static_cast<unsigned long long>(size),
                  static_cast<double>(size) / 1024.0);
}
