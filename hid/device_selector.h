#pragma once

#include <cstdint>

// Which lamp device to look for. Passed by value.
struct DeviceSelector {
    uint16_t vendorId;
    uint16_t productId;
    int32_t checkStrings;          // non-zero: both strings must match too
    const wchar_t* manufacturer;   // UTF-16 on Windows
    const wchar_t* product;
};

// The lamp's own ids and strings.
DeviceSelector DefaultDeviceSelector();

bool DeviceIdsMatch(const DeviceSelector& selector, uint16_t vendorId, uint16_t productId);
