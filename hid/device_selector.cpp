#include "hid/device_selector.h"

#include "lamps/lamp_identity.h"

DeviceSelector DefaultDeviceSelector()
{
    return DeviceSelector{LAMP_VENDOR_ID, LAMP_PRODUCT_ID, 1, LAMP_WIDE(LAMP_MANUFACTURER), LAMP_WIDE(LAMP_PRODUCT)};
}

bool DeviceIdsMatch(const DeviceSelector& selector, uint16_t vendorId, uint16_t productId)
{
    return vendorId == selector.vendorId && productId == selector.productId;
}
