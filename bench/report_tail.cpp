#include "report_tail.h"

#include "bench_support.h"
#include "virtual_lamp_fixture.h"

namespace {

// Reports come within this of their line's write.
const DWORD kReportTimeoutMs = 5000;

}  // namespace

ReportTail::ReportTail(const std::string& path)
    : file_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                        OPEN_EXISTING, 0, NULL))
{
}

ReportTail::~ReportTail()
{
    if (open()) CloseHandle(file_);
}

std::vector<std::string> ReportTail::NewReports()
{
    for (;;) {
        char buffer[4096];
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset_);
        at.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
        DWORD count = 0;
        if (!ReadFile(file_, buffer, sizeof buffer, &count, &at) || count == 0) break;
        offset_ += count;
        partial_.append(buffer, count);
    }
    std::vector<std::string> reports;
    size_t start = 0;
    for (;;) {
        const size_t end = partial_.find("\r\n", start);
        if (end == std::string::npos) break;
        const std::string line = partial_.substr(start, end - start);
        if (line.compare(0, 7, "report ") == 0) reports.push_back(line);
        start = end + 2;
    }
    partial_.erase(0, start);
    return reports;
}

bool WaitForReport(ReportTail* tail, unsigned value, long long* sentAt)
{
    std::vector<std::string> reports;
    if (!WaitUntil([&] { return !(reports = tail->NewReports()).empty(); }, kReportTimeoutMs, 1))
        return Fail(Format("no report reached the simulated device within %lu ms of a write; the "
                           "server does not load the simulated hid.dll beside it. Run the bench "
                           "through scripts/bench.sh, which sets that up",
                           kReportTimeoutMs));
    const std::string due = LampReport(static_cast<uint8_t>(value & 0xFFu), static_cast<uint8_t>(value >> 8));
    LampReportRecord record;
    if (reports.size() != 1 || !ParseLampReport(reports[0], &record) || record.report != due)
        return Fail("the device got \"" + reports[0] + "\" where \"report " + due +
                    " t=...\" was due; is another program writing to the pipe? stop it and run again");
    *sentAt = record.arrived;
    return true;
}
