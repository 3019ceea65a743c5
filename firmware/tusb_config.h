/* TinyUSB's configuration for the lamp: a full-speed device with one HID
 * interface. TinyUSB's build for the RP2040 sets the MCU and OS. */
#ifndef TOLVAREN_TUSB_CONFIG_H
#define TOLVAREN_TUSB_CONFIG_H

#define CFG_TUSB_RHPORT0_MODE (OPT_MODE_DEVICE | OPT_MODE_FULL_SPEED)
#define CFG_TUD_ENABLED 1
#define CFG_TUD_ENDPOINT0_SIZE 64

/* One HID interface. Its interrupt IN endpoint, which HID requires, never
 * carries a report: the lamp has only its feature report. */
#define CFG_TUD_HID 1
#define CFG_TUD_HID_EP_BUFSIZE 8

#define CFG_TUD_CDC 0
#define CFG_TUD_MSC 0
#define CFG_TUD_MIDI 0
#define CFG_TUD_VENDOR 0

#endif
