// The lamp on USB, through TinyUSB: its descriptors, its strings, and its
// one HID interface, whose GET_REPORT and SET_REPORT requests it answers
// itself so that a report it does not take is stalled at once.
#include <cstring>

#include "device/usbd_pvt.h"
#include "firmware/lamp_device_rp2040.h"
#include "firmware/lamp_report.h"
#include "lamps/lamp_identity.h"
#include "tusb.h"

namespace {

enum : uint8_t {
    kInterface = 0,
    kEndpointIn = 0x81,
    kPollMs = 10,
    kStringLanguages = 0,
    kStringManufacturer = 1,
    kStringProduct = 2,
    kStringSerial = 3,
    kMaxPowerMa = 100,
};

const tusb_desc_device_t kDeviceDescriptor = {
    sizeof(tusb_desc_device_t), TUSB_DESC_DEVICE, 0x0200,
    0, 0, 0, // each interface says its class
    CFG_TUD_ENDPOINT0_SIZE, LAMP_VENDOR_ID, LAMP_PRODUCT_ID, TOLVAREN_BCD_DEVICE,
    kStringManufacturer, kStringProduct, kStringSerial, 1,
};

const uint8_t kConfigurationDescriptor[] = {
    TUD_CONFIG_DESCRIPTOR(1, 1, 0, TUD_CONFIG_DESC_LEN + TUD_HID_DESC_LEN, 0, kMaxPowerMa),
    TUD_HID_DESCRIPTOR(kInterface, 0, HID_ITF_PROTOCOL_NONE, sizeof(kLampReportDescriptor), kEndpointIn,
                       CFG_TUD_HID_EP_BUFSIZE, kPollMs),
};

// The report a GET_REPORT answers from, and a SET_REPORT's data stage fills.
uint8_t reportBytes[LAMP_FEATURE_REPORT_LENGTH];
// A string descriptor: its header, then at most 31 UTF-16 characters.
uint16_t stringDescriptor[32];

bool LampGetReport(uint8_t rhport, uint8_t stage, const tusb_control_request_t* request)
{
    if (stage != CONTROL_STAGE_SETUP) return true;
    if (!LampGetReportAllowed(tu_u16_high(request->wValue), tu_u16_low(request->wValue))) return false;
    LampReportFromValue(LampShownNow(), reportBytes);
    return tud_control_xfer(rhport, request, reportBytes, sizeof reportBytes);
}

// The lamps change on the data stage, before the status stage, so that
// they show the value by the time the host's call returns; a data stage
// that is not a lamp report is refused in the status stage.
bool LampSetReport(uint8_t rhport, uint8_t stage, const tusb_control_request_t* request)
{
    if (stage == CONTROL_STAGE_SETUP) {
        if (!LampSetReportAllowed(tu_u16_high(request->wValue), tu_u16_low(request->wValue), request->wLength))
            return false;
        // A data stage shorter than announced leaves zeros, never the last report's bytes.
        std::memset(reportBytes, 0, sizeof reportBytes);
        return tud_control_xfer(rhport, request, reportBytes, sizeof reportBytes);
    }
    if (stage == CONTROL_STAGE_DATA) {
        uint16_t value = 0;
        if (!LampValueFromReport(reportBytes, sizeof reportBytes, &value)) return false;
        LampOnReport(value);
    }
    return true;
}

// TinyUSB's HID driver serves the descriptors, idle and protocol requests;
// the report requests are the lamp's own.
bool LampControlRequest(uint8_t rhport, uint8_t stage, const tusb_control_request_t* request)
{
    if (request->bmRequestType_bit.type == TUSB_REQ_TYPE_CLASS) {
        if (request->bRequest == HID_REQ_CONTROL_GET_REPORT) return LampGetReport(rhport, stage, request);
        if (request->bRequest == HID_REQ_CONTROL_SET_REPORT) return LampSetReport(rhport, stage, request);
    }
    return hidd_control_xfer_cb(rhport, stage, request);
}

// A bus reset (TinyUSB tells each class driver of one) leaves the lamps dark.
void LampDriverReset(uint8_t rhport)
{
    hidd_reset(rhport);
    LampOnBusReset();
}

const usbd_class_driver_t kLampDriver = {
    "lamp", hidd_init, hidd_deinit, LampDriverReset, hidd_open, LampControlRequest, hidd_xfer_cb, nullptr,
};

}  // namespace

extern "C" {

// Taken before TinyUSB's own drivers, so this one claims the HID interface.
const usbd_class_driver_t* usbd_app_driver_get_cb(uint8_t* driver_count)
{
    *driver_count = 1;
    return &kLampDriver;
}

const uint8_t* tud_descriptor_device_cb(void)
{
    return reinterpret_cast<const uint8_t*>(&kDeviceDescriptor);
}

const uint8_t* tud_descriptor_configuration_cb(uint8_t index)
{
    (void)index;
    return kConfigurationDescriptor;
}

const uint8_t* tud_hid_descriptor_report_cb(uint8_t instance)
{
    (void)instance;
    return kLampReportDescriptor;
}

const uint16_t* tud_descriptor_string_cb(uint8_t index, uint16_t language)
{
    (void)language;
    const char* text = nullptr;
    switch (index) {
    case kStringLanguages:
        stringDescriptor[1] = 0x0409; // English (United States)
        stringDescriptor[0] = static_cast<uint16_t>((TUSB_DESC_STRING << 8) | 4);
        return stringDescriptor;
    case kStringManufacturer: text = LAMP_MANUFACTURER; break;
    case kStringProduct: text = LAMP_PRODUCT; break;
    case kStringSerial: text = LampSerialNumber(); break;
    default: return nullptr;
    }
    unsigned length = 0;
    for (; text[length] != '\0' && length < 31; ++length) stringDescriptor[1 + length] = static_cast<uint8_t>(text[length]);
    stringDescriptor[0] = static_cast<uint16_t>((TUSB_DESC_STRING << 8) | (2 * length + 2));
    return stringDescriptor;
}

// TinyUSB's HID driver calls these for the report requests, which
// LampControlRequest takes before it, and for an OUT endpoint, which the
// lamp has not: they are never reached.
uint16_t tud_hid_get_report_cb(uint8_t, uint8_t, hid_report_type_t, uint8_t*, uint16_t)
{
    return 0;
}

void tud_hid_set_report_cb(uint8_t, uint8_t, hid_report_type_t, const uint8_t*, uint16_t) {}

void tud_suspend_cb(bool remote_wakeup_en)
{
    (void)remote_wakeup_en;
    LampOnSuspend();
}

void tud_resume_cb(void)
{
    LampOnResume();
}

// Unplugged (where the board can tell), or the configuration taken away.
void tud_umount_cb(void)
{
    LampOnBusReset();
}

}  // extern "C"
