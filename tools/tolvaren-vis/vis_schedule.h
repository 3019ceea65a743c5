#pragma once

// When tolvaren-vis's lamp lines go into the pipe: a file's at their place
// in the audio, as the file would play; a live one the delay after it was
// heard. Lines wait in a queue until they are due; the clock is the
// caller's.

#include <cstdint>

#include "tools/tolvaren-vis/vis_engine.h"

enum : uint32_t {
    kVisQueueLines = 64,  // lines waiting for --delay: 500 ms of frames and some
    kVisFileLeadMs = 60,  // a file is read this far ahead of the lamps it shows
};

// Lines held back until due (--delay with live input). When full, the
// oldest goes: lamp lines are states, and a newer one replaces it anyway.
struct VisQueuedLine {
    VisLine line;
    uint64_t dueMs;
};
struct VisLineQueue {
    VisQueuedLine items[kVisQueueLines];
    uint32_t head;
    uint32_t count;
    uint32_t skipped;  // lines dropped as full or stale, for telling
};

void StartLineQueue(VisLineQueue* queue);
void PushLine(VisLineQueue* queue, const VisLine& line, uint64_t dueMs);
// The oldest line due at nowMs. A line overdue by more than
// kVisLiveBacklogMaxMs is skipped when a later one is due too, so that a
// writer that fell behind shows the present rather than catching up.
bool PopDueLine(VisLineQueue* queue, uint64_t nowMs, VisLine* line);
// When the next line is due; UINT64_MAX when none waits.
uint64_t NextDueMs(const VisLineQueue* queue);

struct VisSchedule {
    bool paced;        // a file's lines wait for their time; live ones go the delay after
    uint32_t delayMs;  // live lines only: a file's showMs counts the delay in
    uint64_t startMs;  // when the audio's time 0 is shown (paced)
    VisLineQueue queue;
    bool toldSkipped;
};

void StartSchedule(VisSchedule* schedule, uint32_t delayMs);
// A file's lines: each is due at its place in the audio, time 0 being nowMs.
void PaceByTheAudio(VisSchedule* schedule, uint64_t nowMs);
// Whether a paced file has been read more than kVisFileLeadMs ahead of
// what is shown (readMs of its audio so far), so that reading waits.
bool ReadFarEnough(const VisSchedule* schedule, uint64_t readMs, uint64_t nowMs);
void ScheduleLine(VisSchedule* schedule, const VisLine& line, uint64_t nowMs);
bool LinesWaiting(const VisSchedule* schedule);
// True the first time lines were skipped, for the one message saying so.
bool SkippedLinesNews(VisSchedule* schedule);
// How long from nowMs until the next line is due: 0 when one is, and at
// most waitMs, which is also the answer when none waits.
uint32_t MsUntilDue(const VisSchedule* schedule, uint64_t nowMs, uint32_t waitMs);
// The end: the last line that waits, to go at once; the ones before it
// are dropped, since a lamp line is a state and the last one stands.
bool TakeLastLine(VisSchedule* schedule, VisLine* line);
