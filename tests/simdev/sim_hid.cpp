// A simulated hid.dll: answers for the device files that sim_setupapi lists
// and records every feature report sent.
#include "sim_common.h"

#include <stdio.h>
#include <string.h>

extern "C" {
#include <hidsdi.h>
}

namespace {

const GUID kHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

enum SimString { kSimManufacturer, kSimProduct, kSimSerial };

BOOLEAN CopyString(HANDLE device, PVOID buffer, ULONG length, SimString which)
{
    SimDevice sim;
    if (buffer == NULL || !SimReadDevice(device, &sim) || sim.stringsFail ||
        (which == kSimSerial && sim.serial[0] == '\0')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WCHAR* out = static_cast<WCHAR*>(buffer);
    const ULONG capacity = length / sizeof(WCHAR);
    if (sim.stringsUnterminated) {
        // A misbehaving device: every character of the buffer used, no NUL.
        for (ULONG i = 0; i < capacity; ++i) out[i] = L'A';
        return TRUE;
    }
    const char* text = which == kSimManufacturer ? sim.manufacturer : which == kSimProduct ? sim.product : sim.serial;
    const ULONG needed = static_cast<ULONG>(strlen(text)) + 1;
    if (needed > capacity) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    for (ULONG i = 0; i < needed; ++i) out[i] = static_cast<unsigned char>(text[i]);
    return TRUE;
}

// A benchmark asks for the time of each report by creating a file named
// "timestamps" beside the device descriptions; the tests never do, so the
// lines they compare stay as they were.
bool TimestampsWanted()
{
    char path[MAX_PATH];
    if (!SimDirectory(path, sizeof path - 16)) return false;
    strcat(path, "timestamps");
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

extern "C" {

__declspec(dllexport) void NTAPI HidD_GetHidGuid(LPGUID guid)
{
    *guid = kHidGuid;
}

__declspec(dllexport) BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes)
{
    SimDevice sim;
    if (!SimReadDevice(device, &sim) || sim.attributesFail) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    attributes->Size = sizeof *attributes;
    attributes->VendorID = static_cast<USHORT>(sim.vendorId);
    attributes->ProductID = static_cast<USHORT>(sim.productId);
    attributes->VersionNumber = 0x0100;
    return TRUE;
}

__declspec(dllexport) BOOLEAN NTAPI HidD_GetManufacturerString(HANDLE device, PVOID buffer, ULONG length)
{
    return CopyString(device, buffer, length, kSimManufacturer);
}

__declspec(dllexport) BOOLEAN NTAPI HidD_GetProductString(HANDLE device, PVOID buffer, ULONG length)
{
    return CopyString(device, buffer, length, kSimProduct);
}

__declspec(dllexport) BOOLEAN NTAPI HidD_GetSerialNumberString(HANDLE device, PVOID buffer, ULONG length)
{
    return CopyString(device, buffer, length, kSimSerial);
}

__declspec(dllexport) BOOLEAN NTAPI HidD_SetFeature(HANDLE device, PVOID report, ULONG length)
{
    // Taken first, so that it tells when the program sent the report, not
    // when the simulation had read the device and written its log.
    LARGE_INTEGER sentAt;
    QueryPerformanceCounter(&sentAt);

    char line[400];
    int used = _snprintf(line, 64, "report %lu", static_cast<unsigned long>(length));
    const unsigned char* bytes = static_cast<const unsigned char*>(report);
    for (ULONG i = 0; i < length && used < 380; ++i)
        used += _snprintf(line + used, 8, " %02X", bytes[i]);

    SimDevice sim;
    BOOLEAN accepted = FALSE;
    const bool described = SimReadDevice(device, &sim);
    if (described && sim.delayMs > 0) {
        char stall[32];
        _snprintf(stall, sizeof stall, "stall %lu", static_cast<unsigned long>(sim.delayMs));
        stall[sizeof stall - 1] = '\0';
        SimLog(stall);
        Sleep(sim.delayMs);
    }
    if (!described) {
        strcpy(line + used, " bad-handle");
        SetLastError(ERROR_INVALID_HANDLE);
    } else if (sim.reportsFail || length != 7 || bytes[0] != 1) {
        strcpy(line + used, " refused");
        SetLastError(ERROR_GEN_FAILURE);
    } else {
        strcpy(line + used, " ok");
        accepted = TRUE;
    }
    if (TimestampsWanted()) {
        const size_t end = strlen(line);
        _snprintf(line + end, sizeof line - end - 1, " t=%I64d", sentAt.QuadPart);
        line[sizeof line - 1] = '\0';
    }
    SimLog(line);
    return accepted;
}

}  // extern "C"
