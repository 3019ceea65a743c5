#pragma once
// Follows a lamp's log (the simulated device's events.log, a virtual
// lamp's log) from where the last look left off. The file stays open, so
// that a look costs a read and no open.
#include <windows.h>

#include <string>
#include <vector>

class ReportTail {
public:
    // Opens the log at path, which must be there.
    explicit ReportTail(const std::string& path);
    ~ReportTail();
    ReportTail(const ReportTail&) = delete;
    ReportTail& operator=(const ReportTail&) = delete;

    bool open() const { return file_ != INVALID_HANDLE_VALUE; }
    // The "report ..." lines appended since the last call.
    std::vector<std::string> NewReports();

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    LONGLONG offset_ = 0;
    std::string partial_;
};

// Waits for the report of LampLine(value) and nothing else; gives its
// time as the lamp logged it (Counter()). Says why when it fails.
bool WaitForReport(ReportTail* tail, unsigned value, long long* sentAt);
