/* The virtual lamp's log: one line of text an event, "\r\n" at its end. */
#include "virtual_lamp.h"

QueryCounter query_counter;

LONGLONG Now(void)
{
    return query_counter != NULL ? query_counter(NULL).QuadPart : 0;
}

typedef struct Line {
    char text[512];
    ULONG used;
} Line;

static void PutChar(Line* line, char c)
{
    if (line->used < sizeof line->text - 2) line->text[line->used++] = c;
}

static void PutText(Line* line, const char* text)
{
    while (*text) PutChar(line, *text++);
}

static void PutHex(Line* line, ULONG value, int digits)
{
    static const char kDigits[] = "0123456789ABCDEF";
    while (digits-- > 0) PutChar(line, kDigits[(value >> (4 * digits)) & 0xF]);
}

static void PutDecimal(Line* line, LONGLONG value)
{
    char digits[24];
    int count = 0;
    ULONGLONG rest;
    if (value < 0) {
        PutChar(line, '-');
        rest = (ULONGLONG)(-(value + 1)) + 1;
    } else {
        rest = (ULONGLONG)value;
    }
    do {
        digits[count++] = (char)('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (count > 0) PutChar(line, digits[--count]);
}

/* A device string in quotes, as UTF-8; a quote or control character in it
 * becomes '?', so that the line stays one line with one meaning. */
static void PutQuoted(Line* line, const WCHAR* text)
{
    PutChar(line, '"');
    for (; *text; ++text) {
        ULONG c = *text;
        if (c < 0x20 || c == '"' || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF)) {
            PutChar(line, '?');
        } else if (c < 0x80) {
            PutChar(line, (char)c);
        } else if (c < 0x800) {
            PutChar(line, (char)(0xC0 | (c >> 6)));
            PutChar(line, (char)(0x80 | (c & 0x3F)));
        } else {
            PutChar(line, (char)(0xE0 | (c >> 12)));
            PutChar(line, (char)(0x80 | ((c >> 6) & 0x3F)));
            PutChar(line, (char)(0x80 | (c & 0x3F)));
        }
    }
    PutChar(line, '"');
}

static void PutTime(Line* line, const char* name, LONGLONG time)
{
    PutChar(line, ' ');
    PutText(line, name);
    PutChar(line, '=');
    PutDecimal(line, time);
}

static void WriteLine(Lamp* lamp, Line* line)
{
    IO_STATUS_BLOCK io;
    if (lamp->log == NULL) return;
    line->text[line->used++] = '\r';
    line->text[line->used++] = '\n';
    /* Opened for appending only, so lines from two threads never overlap. */
    ZwWriteFile(lamp->log, NULL, NULL, NULL, &io, line->text, line->used, NULL, NULL);
}

void LogEvent(Lamp* lamp, const char* what)
{
    Line line;
    line.used = 0;
    PutText(&line, what);
    PutTime(&line, "t", Now());
    WriteLine(lamp, &line);
}

/* "report 7 01 00 FF 00 00 00 00 ok t=123": the length and bytes the lamp
 * was given, from the report id on, then what became of the report. */
void LogReport(Lamp* lamp, const char* kind, const HID_XFER_PACKET* packet, const char* verdict,
                      LONGLONG arrived, LONGLONG done)
{
    Line line;
    ULONG i;
    line.used = 0;
    PutText(&line, kind);
    PutChar(&line, ' ');
    PutDecimal(&line, packet->reportBufferLen);
    for (i = 0; i < packet->reportBufferLen && i < 64; ++i) {
        PutChar(&line, ' ');
        PutHex(&line, packet->reportBuffer[i], 2);
    }
    if (verdict != NULL) {
        PutChar(&line, ' ');
        PutText(&line, verdict);
    }
    PutTime(&line, "t", arrived);
    if (done != 0) PutTime(&line, "done", done);
    WriteLine(lamp, &line);
}

void OpenLog(Lamp* lamp)
{
    static const WCHAR kPrefix[] = L"\\??\\";
    WCHAR path[4 + 300];
    ValueBuffer value;
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    ULONG used = 0, i;

    if (!QueryValue(lamp->settings, VLAMP_VALUE_LOG_FILE, &value) || value.info.Type != REG_SZ) return;
    for (i = 0; kPrefix[i] != 0; ++i) path[used++] = kPrefix[i];
    for (i = 0; i < value.info.DataLength / sizeof(WCHAR) && used < 4 + 299; ++i) {
        const WCHAR c = ((const WCHAR*)value.info.Data)[i];
        if (c == 0) break;
        path[used++] = c;
    }
    path[used] = 0;
    if (used == 4) return;

    RtlInitUnicodeString(&name, path);
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateFile(&lamp->log, FILE_APPEND_DATA | SYNCHRONIZE, &attributes, &io, NULL,
                                 FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_OPEN_IF, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL,
                                 0)))
        lamp->log = NULL;
}

/* "added 16C0:05DF "maker" "product" t=123": the lamp as it came. */
void LogAdded(Lamp* lamp)
{
    Line line;
    line.used = 0;
    PutText(&line, "added ");
    PutHex(&line, lamp->vendor_id, 4);
    PutChar(&line, ':');
    PutHex(&line, lamp->product_id, 4);
    PutChar(&line, ' ');
    PutQuoted(&line, lamp->manufacturer);
    PutChar(&line, ' ');
    PutQuoted(&line, lamp->product);
    PutTime(&line, "t", Now());
    WriteLine(lamp, &line);
}
