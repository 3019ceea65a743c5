/* What the virtual lamp's driver files share: a lamp's state, and the
 * log and settings helpers the request handlers use. */
#ifndef TOLVAREN_VIRTUAL_LAMP_H
#define TOLVAREN_VIRTUAL_LAMP_H

#include "hid_minidriver.h"

#include "../lamp_settings.h"
#include "lamps/lamp_identity.h"

/* KeQueryPerformanceCounter lives in hal.dll; it is looked up rather than
 * imported, so that the driver imports from ntoskrnl and hidclass only. */
typedef LARGE_INTEGER(NTAPI* QueryCounter)(PLARGE_INTEGER frequency);
extern QueryCounter query_counter;

typedef struct Lamp {
    HANDLE settings; /* the instance's device key, read again for each report */
    HANDLE log;
    USHORT vendor_id;
    USHORT product_id;
    USHORT version;
    WCHAR manufacturer[VLAMP_MAX_STRING + 1];
    WCHAR product[VLAMP_MAX_STRING + 1];
    WCHAR serial[VLAMP_MAX_STRING + 1];
    UCHAR last_report[LAMP_FEATURE_REPORT_LENGTH];

    KSPIN_LOCK lock; /* guards the two lists and removed */
    LIST_ENTRY reads;   /* hidclass's read requests, held until removal */
    LIST_ENTRY reports; /* feature reports waiting for the worker */
    BOOLEAN removed;

    BOOLEAN worker_running;
    KEVENT wake;        /* a report was queued, or the lamp is going */
    KEVENT stop;        /* the lamp is going: ends a report's wait at once */
    KEVENT worker_done; /* the worker touches the lamp no more */
} Lamp;

/* What a queued report carries in its IRP's driver context. */
enum { kContextArrived, kContextDelay, kContextFail };

/* The performance counter's value, 0 where there is none. */
LONGLONG Now(void);

/* The log: one line of text an event, "\r\n" at its end; nothing when the
 * lamp has no log file. */
void OpenLog(Lamp* lamp);
void LogAdded(Lamp* lamp);
void LogEvent(Lamp* lamp, const char* what);
void LogReport(Lamp* lamp, const char* kind, const HID_XFER_PACKET* packet, const char* verdict, LONGLONG arrived,
               LONGLONG done);

/* Settings: values of the instance's device key. */
typedef union ValueBuffer {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + (VLAMP_MAX_STRING + 1) * sizeof(WCHAR) + 16];
} ValueBuffer;
BOOLEAN QueryValue(HANDLE key, const WCHAR* name, ValueBuffer* value);
ULONG ReadNumber(HANDLE key, const WCHAR* name, ULONG fallback);
/* Copies a REG_SZ value into text (VLAMP_MAX_STRING + 1 characters), cut
 * to fit; keeps the fallback when there is none. */
void ReadText(HANDLE key, const WCHAR* name, WCHAR* text, const WCHAR* fallback);

#endif
