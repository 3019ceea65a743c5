#include "virtual_lamp_fixture.h"

#include <cstdlib>

#include "program_driver.h"
#include "test_files.h"
#include "tools/virtual-lamp/lamp_setup_win32.h"

namespace {

// Long enough for a lamp to come or go on a busy machine; it takes some
// tens of milliseconds.
const DWORD kLampWaitMs = 10000;

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(count > 0 ? count - 1 : 0);
    return wide;
}

std::string Narrow(const wchar_t* text)
{
    std::string narrow(4 * wcslen(text) + 1, '\0');
    const int count =
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], static_cast<int>(narrow.size()), NULL, NULL);
    narrow.resize(count > 0 ? count - 1 : 0);
    return narrow;
}

}  // namespace

bool ParseLampReport(const std::string& line, LampReportRecord* record)
{
    if (line.compare(0, 7, "report ") != 0) return false;
    const size_t time = line.find(" t=");
    if (time == std::string::npos) return false;
    record->report = line.substr(7, time - 7);
    record->arrived = std::strtoll(line.c_str() + time + 3, NULL, 10);
    const size_t done = line.find(" done=", time);
    record->done = done == std::string::npos ? 0 : std::strtoll(line.c_str() + done + 6, NULL, 10);
    return true;
}

VirtualLampBench::VirtualLampBench()
{
    directory_ = MakeTestDirectory("tolvaren-vlamp");
}

VirtualLampBench::~VirtualLampBench()
{
    for (Lamp& lamp : lamps_) {
        if (!lamp.removed) {
            LampProblem problem;
            ::RemoveLamp(Wide(lamp.id).c_str(), kLampWaitMs, &problem);
        }
        DeleteFileA(lamp.log.c_str());
    }
    RemoveDirectoryA(directory_.c_str());
}

bool VirtualLampBench::Fail(const wchar_t* text)
{
    problem_ = Narrow(text);
    return false;
}

int VirtualLampBench::AddLamp(const VirtualLampSpec& spec)
{
    const std::string log = directory_ + "\\lamp" + std::to_string(lamps_.size()) + ".log";
    LampDescription lamp;
    DescribeLamp(spec.vendorId, spec.productId, spec.manufacturer.c_str(), spec.product.c_str(), spec.serial.c_str(),
                 spec.delayMs, spec.failReports, &lamp);
    const std::wstring logPath = Wide(log);
    _snwprintf(lamp.logPath, MAX_PATH, L"%ls", logPath.c_str());
    lamp.logPath[MAX_PATH - 1] = L'\0';

    WCHAR id[kLampIdChars];
    LampProblem problem;
    if (!::AddLamp(lamp, kLampWaitMs, id, &problem)) {
        Fail(problem.text);
        return -1;
    }
    lamps_.push_back(Lamp{Narrow(id), log, false});
    return static_cast<int>(lamps_.size()) - 1;
}

bool VirtualLampBench::RemoveLamp(int lamp)
{
    LampProblem problem;
    if (!::RemoveLamp(Wide(lamps_.at(lamp).id).c_str(), kLampWaitMs, &problem)) return Fail(problem.text);
    lamps_.at(lamp).removed = true;
    return true;
}

bool VirtualLampBench::SetDelay(int lamp, unsigned long delayMs)
{
    LampProblem problem;
    const DWORD delay = delayMs;
    return SetLampBehaviour(Wide(lamps_.at(lamp).id).c_str(), &delay, NULL, &problem) || Fail(problem.text);
}

bool VirtualLampBench::SetFailReports(int lamp, bool fail)
{
    LampProblem problem;
    return SetLampBehaviour(Wide(lamps_.at(lamp).id).c_str(), NULL, &fail, &problem) || Fail(problem.text);
}

const std::string& VirtualLampBench::Id(int lamp) const
{
    return lamps_.at(lamp).id;
}

std::string VirtualLampBench::Path(int lamp) const
{
    WCHAR path[kLampPathChars];
    return FindLampPath(Wide(lamps_.at(lamp).id).c_str(), path) ? Narrow(path) : std::string();
}

const std::string& VirtualLampBench::LogPath(int lamp) const
{
    return lamps_.at(lamp).log;
}

std::vector<std::string> VirtualLampBench::Events(int lamp) const
{
    return ReadTextLines(lamps_.at(lamp).log);
}

namespace {

std::vector<LampReportRecord> RecordsOf(const std::vector<std::string>& lines)
{
    std::vector<LampReportRecord> records;
    for (const std::string& line : lines) {
        LampReportRecord record;
        if (ParseLampReport(line, &record)) records.push_back(record);
    }
    return records;
}

std::vector<std::string> ReportsOf(const std::vector<LampReportRecord>& records)
{
    std::vector<std::string> reports;
    for (const LampReportRecord& record : records) reports.push_back(record.report);
    return reports;
}

}  // namespace

std::vector<std::string> LampLogReports(const std::string& logPath)
{
    return ReportsOf(RecordsOf(ReadTextLines(logPath)));
}

std::vector<LampReportRecord> VirtualLampBench::ReportRecords(int lamp) const
{
    return RecordsOf(Events(lamp));
}

std::vector<std::string> VirtualLampBench::Reports(int lamp) const
{
    return ReportsOf(ReportRecords(lamp));
}

size_t VirtualLampBench::PendingCount(int lamp) const
{
    size_t pending = 0, answered = 0;
    for (const std::string& line : Events(lamp)) {
        if (line.compare(0, 8, "pending ") == 0) ++pending;
        LampReportRecord record;
        if (ParseLampReport(line, &record) && record.done != 0) ++answered;
    }
    return pending > answered ? pending - answered : 0;
}

bool VirtualLampBench::WaitForReports(int lamp, size_t count, DWORD timeoutMs) const
{
    return WaitUntil([&] { return Reports(lamp).size() >= count; }, timeoutMs, 10);
}
