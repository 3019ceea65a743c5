#include "tools/tolvaren-vis/vis_schedule.h"

#include <cstring>

void StartLineQueue(VisLineQueue* queue)
{
    std::memset(queue, 0, sizeof *queue);
}

void PushLine(VisLineQueue* queue, const VisLine& line, uint64_t dueMs)
{
    if (queue->count == kVisQueueLines) {
        queue->head = (queue->head + 1) % kVisQueueLines;
        --queue->count;
        ++queue->skipped;
    }
    VisQueuedLine* item = &queue->items[(queue->head + queue->count) % kVisQueueLines];
    item->line = line;
    item->dueMs = dueMs;
    ++queue->count;
}

bool PopDueLine(VisLineQueue* queue, uint64_t nowMs, VisLine* line)
{
    while (queue->count >= 2) {
        const VisQueuedLine& oldest = queue->items[queue->head];
        const VisQueuedLine& next = queue->items[(queue->head + 1) % kVisQueueLines];
        if (next.dueMs > nowMs || nowMs - oldest.dueMs <= kVisLiveBacklogMaxMs) break;
        queue->head = (queue->head + 1) % kVisQueueLines;
        --queue->count;
        ++queue->skipped;
    }
    if (queue->count == 0 || queue->items[queue->head].dueMs > nowMs) return false;
    *line = queue->items[queue->head].line;
    queue->head = (queue->head + 1) % kVisQueueLines;
    --queue->count;
    return true;
}

uint64_t NextDueMs(const VisLineQueue* queue)
{
    return queue->count == 0 ? UINT64_MAX : queue->items[queue->head].dueMs;
}

void StartSchedule(VisSchedule* schedule, uint32_t delayMs)
{
    std::memset(schedule, 0, sizeof *schedule);
    schedule->delayMs = delayMs;
    StartLineQueue(&schedule->queue);
}

void PaceByTheAudio(VisSchedule* schedule, uint64_t nowMs)
{
    schedule->paced = true;
    schedule->startMs = nowMs;
}

bool ReadFarEnough(const VisSchedule* schedule, uint64_t readMs, uint64_t nowMs)
{
    return schedule->paced && readMs > nowMs - schedule->startMs + kVisFileLeadMs;
}

void ScheduleLine(VisSchedule* schedule, const VisLine& line, uint64_t nowMs)
{
    const uint64_t due = schedule->paced ? schedule->startMs + line.showMs : nowMs + schedule->delayMs;
    PushLine(&schedule->queue, line, due);
}

bool LinesWaiting(const VisSchedule* schedule)
{
    return schedule->queue.count > 0;
}

bool SkippedLinesNews(VisSchedule* schedule)
{
    if (schedule->toldSkipped || schedule->queue.skipped == 0) return false;
    schedule->toldSkipped = true;
    return true;
}

uint32_t MsUntilDue(const VisSchedule* schedule, uint64_t nowMs, uint32_t waitMs)
{
    const uint64_t next = NextDueMs(&schedule->queue);
    if (next == UINT64_MAX) return waitMs;
    return next <= nowMs ? 0 : static_cast<uint32_t>(next - nowMs < waitMs ? next - nowMs : waitMs);
}

bool TakeLastLine(VisSchedule* schedule, VisLine* line)
{
    bool any = false;
    while (PopDueLine(&schedule->queue, UINT64_MAX, line)) any = true;
    return any;
}
