#pragma once
/* What the virtual lamp's controller and its driver agree on: the names
 * under which a lamp is installed, and the values that describe one lamp in
 * its device key ("Device Parameters" of its instance under
 * HKLM\System\CurrentControlSet\Enum). Plain C, for both sides. */

/* The driver's service and file, and the INF that installs it. */
#define VLAMP_SERVICE L"tolvaren_vlamp"
#define VLAMP_DRIVER_FILE L"tolvaren_vlamp.sys"
#define VLAMP_INF_FILE L"tolvaren_vlamp.inf"

/* Every lamp's hardware id, and the name its instance ids are made of:
 * ROOT\TOLVAREN_VLAMP\0000, ROOT\TOLVAREN_VLAMP\0001, ... */
#define VLAMP_HARDWARE_ID L"TOLVAREN\\VIRTUAL_LAMP"
#define VLAMP_INSTANCE_PREFIX L"ROOT\\TOLVAREN_VLAMP\\"

/* REG_DWORD values. The driver reads the ids and strings when the lamp
 * starts, and the delay and the failing of reports again for each report,
 * so that those two can be changed while the lamp is present. */
#define VLAMP_VALUE_VENDOR_ID L"VendorID"
#define VLAMP_VALUE_PRODUCT_ID L"ProductID"
#define VLAMP_VALUE_VERSION L"VersionNumber"
#define VLAMP_VALUE_DELAY_MS L"ReportDelayMs"
#define VLAMP_VALUE_FAIL_REPORTS L"FailReports"
/* REG_SZ values. LogFile is a Windows path; without it nothing is logged. */
#define VLAMP_VALUE_MANUFACTURER L"Manufacturer"
#define VLAMP_VALUE_PRODUCT L"Product"
#define VLAMP_VALUE_SERIAL L"SerialNumber"
#define VLAMP_VALUE_LOG_FILE L"LogFile"

/* The longest delay a report may be given, in milliseconds. */
#define VLAMP_MAX_DELAY_MS 600000u
/* HID strings are at most 126 characters. */
#define VLAMP_MAX_STRING 126
