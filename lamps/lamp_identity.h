/* The lamp device as everything here knows it: the program's default
 * selector, tolvaren-send, the virtual lamp's driver and installer, the
 * kernel lamps of the VM tests, the lamp's own firmware and the tests.
 * C and C++ alike (the driver and the firmware's USB callbacks are C). */
#ifndef TOLVAREN_LAMP_IDENTITY_H
#define TOLVAREN_LAMP_IDENTITY_H

/* 16C0:05DF is a shared pair for generic HID devices: a lamp tells itself
 * apart by its manufacturer and product strings. */
#define LAMP_VENDOR_ID 0x16C0
#define LAMP_PRODUCT_ID 0x05DF
#define LAMP_MANUFACTURER "Tolvaren Lampworks Ltd" /* 22 characters */
#define LAMP_PRODUCT "HID-Glimmerix"
/* The same strings as wide (UTF-16 on Windows) literals. */
#define LAMP_WIDE_(text) L##text
#define LAMP_WIDE(text) LAMP_WIDE_(text)

/* Feature report 1: the id, 0, the low and the high lamp byte, 0, 0, 0. */
#define LAMP_FEATURE_REPORT_ID 1
#define LAMP_FEATURE_REPORT_LENGTH 7

/* tolvaren reads its pipe this many bytes at a time, and frames each read
 * on its own. */
#define LAMP_PIPE_CHUNK_BYTES 18

/* The lamp's HID report descriptor: one feature report, id 1, of six 8-bit
 * fields on a vendor page, so 7 bytes with its id. */
static const unsigned char kLampReportDescriptor[] = {
    0x06, 0x00, 0xFF, /* Usage Page (vendor 0xFF00) */
    0x09, 0x01,       /* Usage (1) */
    0xA1, 0x01,       /* Collection (Application) */
    0x85, LAMP_FEATURE_REPORT_ID, /* Report ID (1) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x00, /*   Logical Maximum (255) */
    0x75, 0x08,       /*   Report Size (8) */
    0x95, LAMP_FEATURE_REPORT_LENGTH - 1, /* Report Count (6) */
    0x09, 0x01,       /*   Usage (1) */
    0xB1, 0x02,       /*   Feature (Data, Variable, Absolute) */
    0xC0,             /* End Collection */
};

#endif
