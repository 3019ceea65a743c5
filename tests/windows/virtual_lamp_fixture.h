#pragma once
// Virtual lamps on the system's own HID stack (tools/virtual-lamp) for a
// test: added through the same setup code as virtual-lamp.exe, each with a
// log of its own in a fresh directory, all removed again when the bench
// goes. The driver must be installed in the prefix (tests/wine/wine-up.sh
// does that), and the test program must not lie beside the simulated
// hid.dll and setupapi.dll.
#include <windows.h>

#include <string>
#include <vector>

#include "lamps/lamp_identity.h"

struct VirtualLampSpec {
    unsigned vendorId = LAMP_VENDOR_ID;
    unsigned productId = LAMP_PRODUCT_ID;
    std::string manufacturer = LAMP_MANUFACTURER;  // empty: the lamp has none
    std::string product = LAMP_PRODUCT;
    std::string serial;          // empty: the lamp's number
    unsigned long delayMs = 0;   // each report takes this long
    bool failReports = false;    // every report is refused
};

// A feature report as the lamp recorded it.
struct LampReportRecord {
    std::string report;      // "7 01 00 FF 00 00 00 00 ok": length, bytes, ok|refused|removed
    long long arrived = 0;   // QueryPerformanceCounter's count when the lamp got it
    long long done = 0;      // when a delayed report was answered; 0 when answered at once
};

// Reads a log line "report 7 01 ... ok t=123 done=456"; false for other lines.
bool ParseLampReport(const std::string& line, LampReportRecord* record);

// The reports in a lamp's log, as VirtualLampBench::Reports gives them, for
// a lamp that something else added (a Windows path).
std::vector<std::string> LampLogReports(const std::string& logPath);

class VirtualLampBench {
public:
    VirtualLampBench();
    ~VirtualLampBench();  // removes the lamps it added and their logs
    VirtualLampBench(const VirtualLampBench&) = delete;
    VirtualLampBench& operator=(const VirtualLampBench&) = delete;

    // Adds a lamp and waits until its HID device is there. Returns the
    // lamp's index in this bench (0, 1, ...), or -1 with problem() saying why.
    int AddLamp(const VirtualLampSpec& spec = VirtualLampSpec());
    // Removes a lamp and waits until its HID device is gone. A program
    // holding it keeps a handle on which every report fails.
    bool RemoveLamp(int lamp);
    // Change how a present lamp answers its next reports.
    bool SetDelay(int lamp, unsigned long delayMs);
    bool SetFailReports(int lamp, bool fail);

    const std::string& Id(int lamp) const;      // ROOT\TOLVAREN_VLAMP\NNNN
    std::string Path(int lamp) const;           // its HID device path; "" when not there
    const std::string& LogPath(int lamp) const;  // a Windows path
    std::vector<std::string> Events(int lamp = 0) const;  // every line of its log
    // Its reports in order, each as SimDeviceBench::Reports() gives them:
    // "7 01 00 FF 00 00 00 00 ok". Reports a delay still holds are not among them.
    std::vector<std::string> Reports(int lamp = 0) const;
    std::vector<LampReportRecord> ReportRecords(int lamp = 0) const;
    // The reports a delay holds now ("pending" without their "report" yet).
    size_t PendingCount(int lamp = 0) const;
    // Waits until the lamp has answered at least count reports.
    bool WaitForReports(int lamp, size_t count, DWORD timeoutMs = 10000) const;

    const std::string& problem() const { return problem_; }

private:
    struct Lamp {
        std::string id;
        std::string log;
        bool removed;
    };
    bool Fail(const wchar_t* text);

    std::vector<Lamp> lamps_;
    std::string directory_;
    std::string problem_;
};
