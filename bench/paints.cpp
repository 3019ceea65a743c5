// Paints of tolvaren's window beside a lamp whose every report takes
// delayMs (0: one that answers at once), while a writer keeps lamp lines
// coming, so that with the slow lamp a report is nearly always under way.
#include "measurements.h"

namespace {

// Writes a lamp line every millisecond or so on a thread of its own until
// stopped.
class LineStreamer {
public:
    ~LineStreamer() { Stop(); }

    bool Start()
    {
        thread_ = CreateThread(NULL, 0, Run, this, 0, NULL);
        return thread_ != NULL;
    }
    void Stop()
    {
        if (thread_ == NULL) return;
        InterlockedExchange(&stop_, 1);
        WaitForSingleObject(thread_, 30000);
        CloseHandle(thread_);
        thread_ = NULL;
    }
    LONG written() const { return written_; }

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        LineStreamer* streamer = static_cast<LineStreamer*>(self);
        PipeWriter writer;
        if (writer.Open() != 0) return 1;
        for (int i = 0; streamer->stop_ == 0; ++i) {
            if (!writer.Write(LampLine(LineValue(i)))) return 1;
            InterlockedIncrement(&streamer->written_);
            Sleep(1);
        }
        return 0;
    }

    HANDLE thread_ = NULL;
    volatile LONG stop_ = 0;
    volatile LONG written_ = 0;
};

// One paint, as the system asks for it when the window is uncovered: the
// whole panel invalidated, then WM_PAINT sent and waited for.
bool TimePaint(HWND window, double* ms)
{
    InvalidateRect(window, NULL, TRUE);
    DWORD_PTR result = 0;
    const long long before = Counter();
    if (!SendMessageTimeoutA(window, WM_PAINT, 0, 0, SMTO_BLOCK, 10000, &result))
        return Fail("the program's window did not answer WM_PAINT within 10 s");
    *ms = CountsToMs(Counter() - before);
    return true;
}

bool TimePaints(HWND window, std::vector<double>* samples)
{
    for (int i = 0; i < kPaints; ++i) {
        double ms = 0;
        if (!TimePaint(window, &ms)) return false;
        samples->push_back(ms);
        Sleep(2);
    }
    return true;
}

}  // namespace

bool MeasurePaints(DWORD delayMs, PaintTimes* times)
{
    Progress(Format("%d paints of tolvaren's window, its lamp taking %lu ms a report, lines streaming",
                    kPaints, delayMs));
    SimDeviceBench lamp;
    const BenchProgram program = TolvarenOnSimulatedLamp();
    std::unique_ptr<RunningProgram> running = StartBesideLamp(delayMs, &lamp);
    if (!running) return false;
    LineStreamer streamer;
    if (!streamer.Start()) return Fail("can't start the writing thread");
    WaitUntil([&] { return streamer.written() > 5; }, 5000);

    std::vector<double> samples;
    const bool ok = TimePaints(running->MainWindow(), &samples);
    streamer.Stop();
    times->linesDuring = streamer.written();
    StopProgram(program, &running);
    if (!ok) return false;
    times->ms = P50AndP99(samples);
    return true;
}
