// Drives the lamp state from three threads at once, the way the program
// shares it: the pipe thread frames lamp lines into ProcessLampLine, the main
// thread paints from snapshots, and shutdown takes the device away and
// closes it, while some reports take their time. Built for
// ThreadSanitizer, whose report fails the run on any unguarded access; the
// checks below catch what a lock in the wrong place would let through even
// without it.
//
//   lamp_state_stress [SECONDS]    (default 1.5)
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "fake_lamp_platform.h"
#include "lamps/lamp_control.h"
#include "pipe/line_framing.h"

namespace {

// Every line fed carries a value whose high byte is its low byte XOR this,
// so a text, a snapshot or a report that mixes two lines gives itself away.
const unsigned kHighMask = 0xA5;

std::atomic<bool> stop(false);
std::atomic<int> failures(0);

void Fail(const char* what, const char* detail)
{
    // Only the first few: one fault tends to repeat for the whole run.
    if (failures.fetch_add(1) < 5)
        std::fprintf(stderr, "lamp_state_stress: %s: %s\n", what, detail);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The pipe thread: chunks of the kind a writer sends, with junk in front of
// some lines and a carriage return behind others.
unsigned long FeedLines()
{
    static const char* const kJunk[] = {"", "", "ab", "\r", "x\n", "0123"};
    static const char* const kCommands[] = {">5L", ">3L"};
    static const char* const kEndings[] = {"\n", "\r\n", "\n>5L0000\n"};
    unsigned long lines = 0;
    uint32_t seed = 12345;
    while (!stop.load(std::memory_order_relaxed)) {
        seed = seed * 1103515245u + 12345u;
        const unsigned low = (seed >> 16) & 0xFFu;
        char chunk[32];
        const int length = std::snprintf(chunk, sizeof chunk, "%s%s%02X%02X%s", kJunk[lines % 6],
                                         kCommands[(seed >> 8) & 1u], low ^ kHighMask, low,
                                         kEndings[lines % 3]);
        FrameChunk(chunk, static_cast<unsigned>(length));
        ++lines;
    }
    return lines;
}

// The main thread's paints: the text and the lamp bytes of a snapshot must
// come from the same line.
unsigned long TakeSnapshots()
{
    unsigned long snapshots = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        const LampState state = TakeLampSnapshot();
        ++snapshots;
        if (state.text[0] == '\0') {
            if (state.lampsLow != 0 || state.lampsHigh != 0) Fail("lamps lit before any line", "");
            continue;
        }
        int digits[4] = {0, 0, 0, 0};
        bool wellFormed = std::strlen(state.text) >= 7 && state.text[0] == '>' &&
                          (state.text[1] == '5' || state.text[1] == '3') && state.text[2] == 'L';
        for (int i = 0; i < 4 && wellFormed; ++i) {
            digits[i] = HexValue(state.text[3 + i]);
            wellFormed = digits[i] >= 0;
        }
        if (!wellFormed) {
            Fail("snapshot text is not a line that was fed", state.text);
            continue;
        }
        const unsigned high = static_cast<unsigned>(digits[0] * 16 + digits[1]);
        const unsigned low = static_cast<unsigned>(digits[2] * 16 + digits[3]);
        if (state.lampsLow != low || state.lampsHigh != high)
            Fail("snapshot lamp bytes do not belong to its text", state.text);
    }
    return snapshots;
}

void CheckReports(const std::vector<SentReport>& sends)
{
    for (const SentReport& sent : sends) {
        const uint8_t* bytes = sent.report.bytes;
        if (sent.device == nullptr) Fail("report sent", "without a device");
        if (bytes[0] != 1 || bytes[1] != 0 || bytes[4] != 0 || bytes[5] != 0 || bytes[6] != 0)
            Fail("report layout", "not 01 00 low high 00 00 00");
        if (bytes[3] != (bytes[2] ^ kHighMask)) Fail("report", "mixes the bytes of two lines");
    }
}

// Shutdown, over and over: hand a fresh device over, take it back and close
// it, or leave it open when a report to it was still under way after the
// wait. Nothing may begin on a device once TakeLampDevice has given it up
// but the one report it left under way (whose sender may not have reached
// the device yet), and nothing may be under way to one when it is closed.
struct Cycles {
    unsigned long closed = 0;
    unsigned long leftOpen = 0;
    unsigned long reports = 0;
};

void CycleDevices(Cycles* cycles)
{
    uintptr_t next = 0x1000;
    while (!stop.load(std::memory_order_relaxed)) {
        LampDevice device = reinterpret_cast<LampDevice>(next++);
        SetLampDevice(device);
        std::this_thread::yield();
        // Every other shutdown gives a slow report time to end; the rest
        // give up on one at once.
        const unsigned waitMs = (cycles->closed + cycles->leftOpen) % 2 == 0 ? 5 : 0;
        LampDevice taken = TakeLampDevice(waitMs);
        MarkFakeLampDeviceTaken(device, taken == nullptr);
        if (taken == device) {
            CloseFakeLampDevice(device);
            ++cycles->closed;
        } else if (taken == nullptr) {
            ++cycles->leftOpen;
        } else {
            Fail("TakeLampDevice", "returned another device");
        }
        std::this_thread::yield();
        const std::vector<SentReport> sends = TakeRecordedSends();
        cycles->reports += sends.size();
        CheckReports(sends);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 1.5;
    char* end = nullptr;
    if (argc > 1) seconds = std::strtod(argv[1], &end);
    if (argc > 1 && (end == argv[1] || *end != '\0' || !(seconds > 0 && seconds <= 600))) {
        std::fprintf(stderr,
                     "lamp_state_stress: '%s' is no run time; give seconds, more than 0 and at"
                     " most 600\n",
                     argv[1]);
        return 2;
    }

    InitLampLock();
    ResetLampControl();
    // Some reports take a while, as a lamp's firmware may, so that shutdown
    // and the paints meet reports under way.
    SetFakeSendStall(16, 300);

    unsigned long lines = 0, snapshots = 0;
    Cycles cycles;
    std::thread feeder([&] { lines = FeedLines(); });
    std::thread painter([&] { snapshots = TakeSnapshots(); });
    std::thread closer([&] { CycleDevices(&cycles); });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    feeder.join();
    painter.join();
    closer.join();

    const std::vector<SentReport> rest = TakeRecordedSends();
    cycles.reports += rest.size();
    CheckReports(rest);
    if (RecordedPlatform().sendsOnClosedDevices != 0)
        Fail("reports on a closed device", "a device was closed under a report, or sent to after");
    if (RecordedPlatform().sendsAfterTaken != 0)
        Fail("reports after shutdown", "TakeLampDevice let a send begin on the device it took");

    std::printf("lamp_state_stress: %lu lines, %lu snapshots, %lu device cycles (%lu closed, %lu left "
                "open under a report), %lu reports\n",
                lines, snapshots, cycles.closed + cycles.leftOpen, cycles.closed, cycles.leftOpen,
                cycles.reports);
    // A run in which one side never got going proves nothing.
    if (lines == 0 || snapshots == 0 || cycles.closed == 0 || cycles.leftOpen == 0 || cycles.reports == 0)
        Fail("the threads did not overlap", "run it for longer");
    return failures.load() == 0 ? 0 : 1;
}
