/* The lamp's HID report descriptor: one feature report, id 1, of six 8-bit
 * fields on a vendor page, so 7 bytes with its id. The devices that stand
 * in for the lamp in the tests present exactly this: the virtual lamp on
 * Wine's HID stack and the kernel lamps of the VM tests. C, for the
 * virtual lamp's driver. */
#ifndef TOLVAREN_LAMP_REPORT_DESCRIPTOR_H
#define TOLVAREN_LAMP_REPORT_DESCRIPTOR_H

#define LAMP_FEATURE_REPORT_ID 1
#define LAMP_FEATURE_REPORT_LENGTH 7

static const unsigned char kLampReportDescriptor[] = {
    0x06, 0x00, 0xFF, /* Usage Page (vendor 0xFF00) */
    0x09, 0x01,       /* Usage (1) */
    0xA1, 0x01,       /* Collection (Application) */
    0x85, 0x01,       /*   Report ID (1) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x00, /*   Logical Maximum (255) */
    0x75, 0x08,       /*   Report Size (8) */
    0x95, 0x06,       /*   Report Count (6) */
    0x09, 0x01,       /*   Usage (1) */
    0xB1, 0x02,       /*   Feature (Data, Variable, Absolute) */
    0xC0,             /* End Collection */
};

#endif
