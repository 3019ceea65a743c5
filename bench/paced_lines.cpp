// The share of lamp lines a server reports when a writer sends
// kPacedLinesPerSecond of them a second, each on its deadline.
#include "measurements.h"

namespace {

// After the paced writes, reports still on their way arrive within this.
const DWORD kQuietMs = 1000;

bool WritePacedLines(const BenchProgram& server, PipeWriter* writer, Paced* paced)
{
    const long long perSecond = CountsPerMs() * 1000;
    const long long start = Counter();
    for (int i = 1; i <= kPacedLines; ++i) {
        // Deadlines from the start, not from the last write: a late write
        // does not slow the rate down.
        const long long due = start + (static_cast<long long>(i) - 1) * perSecond / kPacedLinesPerSecond;
        while (Counter() < due) SwitchToThread();
        if (!writer->Write(LampLine(LineValue(i))))
            return Fail(std::string("writing to the pipe of ") + server.name + " failed");
    }
    paced->writeSeconds = static_cast<double>(Counter() - start) / static_cast<double>(perSecond);
    paced->written = kPacedLines;
    return true;
}

// Counts the reports until all have come or none has for kQuietMs.
void CountReports(ReportTail* tail, Paced* paced)
{
    DWORD lastNews = GetTickCount();
    while (paced->reported < kPacedLines && GetTickCount() - lastNews < kQuietMs) {
        const size_t arrived = tail->NewReports().size();
        if (arrived > 0) {
            paced->reported += static_cast<int>(arrived);
            lastNews = GetTickCount();
        }
        Sleep(5);
    }
}

}  // namespace

bool MeasurePaced(const BenchProgram& server, ReportTail* tail, Paced* paced)
{
    Progress(Format("paced lines to %s: %d at %d a second", server.name, kPacedLines, kPacedLinesPerSecond));
    std::unique_ptr<RunningProgram> running = StartServer(server);
    if (!running) return false;
    PipeWriter writer;
    if (writer.Open() != 0) return Fail(std::string("can't open the pipe of ") + server.name);
    tail->NewReports();

    // One line through first: the pipe is connected and the device answers.
    long long sentAt = 0;
    if (!writer.Write(LampLine(LineValue(0))) || !WaitForReport(tail, LineValue(0), &sentAt)) return false;
    if (!WritePacedLines(server, &writer, paced)) return false;
    CountReports(tail, paced);
    writer.Close();
    StopProgram(server, &running);
    return true;
}
