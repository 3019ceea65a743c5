#include "hid/device_selector.h"

DeviceSelector DefaultDeviceSelector()
{
    return DeviceSelector{0x16C0, 0x05DF, 1, L"Tolvaren Lampworks Ltd", L"HID-Glimmerix"};
}

bool DeviceIdsMatch(const DeviceSelector& selector, uint16_t vendorId, uint16_t productId)
{
    return vendorId == selector.vendorId && productId == selector.productId;
}
