// When the lamp lines go: the queue they wait in, a file's lines at their
// place in the audio, a live one the delay after it was heard.
#include <gtest/gtest.h>

#include <vector>

#include "tools/tolvaren-vis/vis_schedule.h"

namespace {

VisLine LineAt(uint32_t ms, uint16_t lamps)
{
    VisLine line = {};
    line.lamps = lamps;
    line.audioMs = ms;
    line.showMs = ms;
    FormatLampLine(lamps, line.text);
    return line;
}

TEST(VisDelayQueue, HandsOutLinesWhenDueAndSkipsWhatIsStale)
{
    std::vector<VisLineQueue> queue(1);
    StartLineQueue(&queue[0]);
    VisLine line;
    EXPECT_FALSE(PopDueLine(&queue[0], 1000, &line));
    EXPECT_EQ(NextDueMs(&queue[0]), UINT64_MAX);

    for (uint32_t i = 0; i < 5; ++i) PushLine(&queue[0], LineAt(10 * i, static_cast<uint16_t>(i)), 1000 + 10 * i);
    EXPECT_EQ(NextDueMs(&queue[0]), 1000u);
    EXPECT_FALSE(PopDueLine(&queue[0], 999, &line));
    ASSERT_TRUE(PopDueLine(&queue[0], 1015, &line));
    EXPECT_EQ(line.lamps, 0);
    ASSERT_TRUE(PopDueLine(&queue[0], 1015, &line));
    EXPECT_EQ(line.lamps, 1);
    EXPECT_FALSE(PopDueLine(&queue[0], 1015, &line));
    // A writer that fell 200 ms behind: lines 2 and 3 are stale once 4 is
    // due too, and only 4 is shown.
    ASSERT_TRUE(PopDueLine(&queue[0], 1240, &line));
    EXPECT_EQ(line.lamps, 4);
    EXPECT_EQ(queue[0].skipped, 2u);
    EXPECT_FALSE(PopDueLine(&queue[0], 5000, &line));

    // Full: the oldest goes, and the newest kVisQueueLines stay in order.
    StartLineQueue(&queue[0]);
    for (uint32_t i = 0; i < kVisQueueLines + 3; ++i)
        PushLine(&queue[0], LineAt(10 * i, static_cast<uint16_t>(i)), 10 * i);
    EXPECT_EQ(queue[0].count, kVisQueueLines);
    EXPECT_EQ(queue[0].skipped, 3u);
    ASSERT_TRUE(PopDueLine(&queue[0], 30, &line));
    EXPECT_EQ(line.lamps, 3);
    // The last line, lamps out, is never skipped.
    ASSERT_TRUE(PopDueLine(&queue[0], 100000, &line));
    EXPECT_EQ(line.lamps, kVisQueueLines + 2);
}

TEST(VisSchedule, AFilesLinesAreDueAtTheirPlaceALiveOneTheDelayAfter)
{
    struct {
        const char* what;
        bool file;
        uint32_t delayMs;
        uint32_t showMs;  // the line's place in the audio, the delay counted in
        uint64_t nowMs;   // when it is handed over
        uint64_t dueMs;
    } const cases[] = {
        {"a file's line, the file started at 5000", true, 150, 310, 5100, 5310},
        {"a file's line that comes late is due all the same", true, 0, 10, 9000, 5010},
        {"a live line with --delay 150", false, 150, 310, 7000, 7150},
        {"a live line without delay", false, 0, 10, 7000, 7000},
    };
    std::vector<VisSchedule> schedule(1);
    for (const auto& c : cases) {
        StartSchedule(&schedule[0], c.delayMs);
        if (c.file) PaceByTheAudio(&schedule[0], 5000);
        EXPECT_FALSE(LinesWaiting(&schedule[0])) << c.what;
        ScheduleLine(&schedule[0], LineAt(c.showMs, 1), c.nowMs);
        EXPECT_TRUE(LinesWaiting(&schedule[0])) << c.what;
        EXPECT_EQ(NextDueMs(&schedule[0].queue), c.dueMs) << c.what;
        EXPECT_EQ(MsUntilDue(&schedule[0], c.dueMs - 40, 1000), 40u) << c.what;
        EXPECT_EQ(MsUntilDue(&schedule[0], c.dueMs - 40, 10), 10u) << c.what;
        EXPECT_EQ(MsUntilDue(&schedule[0], c.dueMs + 5, 1000), 0u) << c.what;
    }
    StartSchedule(&schedule[0], 0);
    EXPECT_EQ(MsUntilDue(&schedule[0], 0, 1000), 1000u);
}

TEST(VisSchedule, AFileIsReadOnlySoFarAheadOfTheLamps)
{
    std::vector<VisSchedule> schedule(1);
    StartSchedule(&schedule[0], 0);
    // Unpaced (--print, live input): never waits.
    EXPECT_FALSE(ReadFarEnough(&schedule[0], 100000, 0));
    PaceByTheAudio(&schedule[0], 1000);
    EXPECT_FALSE(ReadFarEnough(&schedule[0], kVisFileLeadMs, 1000));
    EXPECT_TRUE(ReadFarEnough(&schedule[0], kVisFileLeadMs + 10, 1000));
    EXPECT_FALSE(ReadFarEnough(&schedule[0], kVisFileLeadMs + 10, 1010));
}

TEST(VisSchedule, SkippedLinesAreToldOnceAndTheEndSendsTheLastLine)
{
    std::vector<VisSchedule> schedule(1);
    StartSchedule(&schedule[0], 0);
    VisLine line;
    for (uint32_t i = 0; i < 4; ++i) ScheduleLine(&schedule[0], LineAt(10 * i, static_cast<uint16_t>(i)), 1000 + 10 * i);
    EXPECT_FALSE(SkippedLinesNews(&schedule[0]));
    // 200 ms behind: the stale ones are skipped, and that is said once.
    ASSERT_TRUE(PopDueLine(&schedule[0].queue, 1230, &line));
    EXPECT_TRUE(SkippedLinesNews(&schedule[0]));
    for (uint32_t i = 0; i < 4; ++i) ScheduleLine(&schedule[0], LineAt(10 * i, static_cast<uint16_t>(i)), 2000 + 10 * i);
    ASSERT_TRUE(PopDueLine(&schedule[0].queue, 2230, &line));
    EXPECT_FALSE(SkippedLinesNews(&schedule[0]));

    // At the end what waits goes at once, and only its last line.
    for (uint32_t i = 0; i < 3; ++i) ScheduleLine(&schedule[0], LineAt(10 * i, static_cast<uint16_t>(7 + i)), 9000);
    ASSERT_TRUE(TakeLastLine(&schedule[0], &line));
    EXPECT_EQ(line.lamps, 9);
    EXPECT_FALSE(LinesWaiting(&schedule[0]));
    EXPECT_FALSE(TakeLastLine(&schedule[0], &line));
}

}  // namespace
