#include "tools/tolvaren-vis/vis_output_win32.h"

#include "tools/common/console_win32.h"

uint64_t NowMs()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

void StartLineOutput(LineOutput* out, const VisCommand& command, bool doubleClicked, HANDLE stop)
{
    out->print = command.print;
    out->doubleClicked = doubleClicked;
    out->stop = stop;
    StartSchedule(&out->schedule, command.delayMs);
    StartLampPipe(&out->pipe);
}

bool StopRequested(const LineOutput* out)
{
    return WaitForSingleObject(out->stop, 0) == WAIT_OBJECT_0;
}

void LookForTolvaren(LineOutput* out)
{
    if (!out->print && !out->doubleClicked) ConnectToTolvaren(&out->pipe, NowMs(), true);
}

void BringUpTolvaren(LineOutput* out)
{
    if (!out->print && out->doubleClicked) ConnectOrStartTolvaren(&out->pipe, NowMs());
}

void OnLine(void* context, const VisLine& line)
{
    LineOutput* out = static_cast<LineOutput*>(context);
    if (out->print) {
        char text[kVisPrintLineMax];
        const unsigned length = FormatPrintLine(line, text);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, NULL);
        return;
    }
    ScheduleLine(&out->schedule, line, NowMs());
}

DWORD SendDueLines(LineOutput* out, DWORD waitMs)
{
    if (out->print) return waitMs;
    VisLine line;
    while (PopDueLine(&out->schedule.queue, NowMs(), &line)) SendToTolvaren(&out->pipe, line, NowMs());
    if (SkippedLinesNews(&out->schedule))
        Print(kToErr, "tolvaren-vis: the pipe fell behind; lines that came too late were skipped.\n");
    if (!IsConnected(&out->pipe)) ConnectToTolvaren(&out->pipe, NowMs(), false);
    return MsUntilDue(&out->schedule, NowMs(), waitMs);
}

bool WaitForLinesOrStop(LineOutput* out, DWORD waitMs)
{
    return WaitForSingleObject(out->stop, SendDueLines(out, waitMs)) == WAIT_OBJECT_0;
}

void FinishOutput(LineOutput* out, bool atOnce)
{
    if (out->print) return;
    while (!atOnce && LinesWaiting(&out->schedule) && !StopRequested(out)) WaitForLinesOrStop(out, 1000);
    VisLine last;
    if (!TakeLastLine(&out->schedule, &last)) return;
    if (ConnectToTolvaren(&out->pipe, NowMs(), true)) SendToTolvaren(&out->pipe, last, NowMs());
    CloseLampPipe(&out->pipe);
}
