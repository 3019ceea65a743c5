#pragma once
/* What a HID minidriver shares with hidclass.sys. MinGW-w64 ships no
 * hidport.h, and the internal request codes in its ddk/hidclass.h are
 * placeholders, so the records and codes are declared here as Microsoft
 * documents them. */
#include <ddk/wdm.h>

#define LAMP_HID_REVISION 1

typedef struct _HID_MINIDRIVER_REGISTRATION {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION, *PHID_MINIDRIVER_REGISTRATION;

/* hidclass's device extension of the functional device object; the
 * minidriver's own part follows it. */
typedef struct _HID_DEVICE_EXTENSION {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION, *PHID_DEVICE_EXTENSION;

typedef struct _HID_DEVICE_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES, *PHID_DEVICE_ATTRIBUTES;

#include <pshpack1.h>
typedef struct _HID_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    struct _HID_DESCRIPTOR_DESC_LIST {
        UCHAR bReportType;
        USHORT wReportLength;
    } DescriptorList[1];
} HID_DESCRIPTOR, *PHID_DESCRIPTOR;
#include <poppack.h>

typedef struct _HID_XFER_PACKET {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} HID_XFER_PACKET, *PHID_XFER_PACKET;

#define LAMP_HID_DESCRIPTOR_TYPE 0x21
#define LAMP_HID_REPORT_DESCRIPTOR_TYPE 0x22

/* hidclass's requests to its minidriver (IRP_MJ_INTERNAL_DEVICE_CONTROL). */
#define LAMP_HID_CTL(n) CTL_CODE(FILE_DEVICE_KEYBOARD, (n), METHOD_NEITHER, FILE_ANY_ACCESS)
#define LAMP_IOCTL_GET_DEVICE_DESCRIPTOR LAMP_HID_CTL(0)
#define LAMP_IOCTL_GET_REPORT_DESCRIPTOR LAMP_HID_CTL(1)
#define LAMP_IOCTL_READ_REPORT LAMP_HID_CTL(2)
#define LAMP_IOCTL_WRITE_REPORT LAMP_HID_CTL(3)
#define LAMP_IOCTL_GET_STRING LAMP_HID_CTL(4)
#define LAMP_IOCTL_ACTIVATE_DEVICE LAMP_HID_CTL(7)
#define LAMP_IOCTL_DEACTIVATE_DEVICE LAMP_HID_CTL(8)
#define LAMP_IOCTL_GET_DEVICE_ATTRIBUTES LAMP_HID_CTL(9)
#define LAMP_IOCTL_SEND_IDLE_NOTIFICATION LAMP_HID_CTL(10)
#define LAMP_IOCTL_SET_FEATURE CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define LAMP_IOCTL_GET_FEATURE CTL_CODE(FILE_DEVICE_KEYBOARD, 100, METHOD_OUT_DIRECT, FILE_ANY_ACCESS)
#define LAMP_IOCTL_SET_OUTPUT_REPORT CTL_CODE(FILE_DEVICE_KEYBOARD, 101, METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#define LAMP_IOCTL_GET_INPUT_REPORT CTL_CODE(FILE_DEVICE_KEYBOARD, 104, METHOD_OUT_DIRECT, FILE_ANY_ACCESS)

/* The string a LAMP_IOCTL_GET_STRING asks for, in the low word of its
 * Type3InputBuffer. Wine numbers them 1 to 3, the Windows DDK 14 to 16. */
#define LAMP_STRING_MANUFACTURER_WINE 1
#define LAMP_STRING_PRODUCT_WINE 2
#define LAMP_STRING_SERIAL_WINE 3
#define LAMP_STRING_MANUFACTURER_DDK 14
#define LAMP_STRING_PRODUCT_DDK 15
#define LAMP_STRING_SERIAL_DDK 16

NTSTATUS NTAPI HidRegisterMinidriver(PHID_MINIDRIVER_REGISTRATION registration);
