// tolvaren-vis's client of the pipe: when it tries again, and what it says
// once about a pipe it can't open.
#include <gtest/gtest.h>

#include <vector>

#include "tools/tolvaren-vis/vis_pipe_client.h"

namespace {

TEST(VisPipeClient, TriesAgainOnceASecondOrWhenAskedToAtOnce)
{
    struct {
        uint64_t nowMs;
        bool atOnce;
        bool tries;
    } const steps[] = {
        {5000, false, true},  // the first try is never held back
        {5500, false, false}, {5999, false, false}, {6000, false, true},
        {6200, true, true},   // at once, and the next second counts from here
        {7100, false, false}, {7200, false, true},
    };
    std::vector<VisPipeClient> client(1);
    StartPipeClient(&client[0]);
    for (const auto& s : steps) EXPECT_EQ(TimeToTry(&client[0], s.nowMs, s.atOnce), s.tries) << s.nowMs;
}

TEST(VisPipeClient, SaysWhyThePipeIsRefusedOnceUntilThatChanges)
{
    enum Event { kRefused, kOpened, kLost };
    const int missing = 1, busy = 2;
    struct {
        const char* what;
        Event event;
        int reason;
        bool said;  // a refusal said, or for an opening, "tolvaren is there"
    } const steps[] = {
        {"opened with nothing said", kOpened, 0, false},
        {"not running", kRefused, missing, true},
        {"still not running", kRefused, missing, false},
        {"busy instead", kRefused, busy, true},
        {"still busy", kRefused, busy, false},
        {"not running again", kRefused, missing, true},
        {"there at last", kOpened, 0, true},
        {"went away", kLost, 0, false},
        {"not running after it went", kRefused, missing, true},
        {"there again", kOpened, 0, true},
        {"refused once more after an opening", kRefused, missing, true},
    };
    std::vector<VisPipeClient> client(1);
    StartPipeClient(&client[0]);
    for (const auto& s : steps) {
        bool said = false;
        if (s.event == kRefused) said = RefusalIsNews(&client[0], s.reason);
        if (s.event == kOpened) said = ArrivalIsNews(&client[0]);
        if (s.event == kLost) ForgetRefusal(&client[0]);
        EXPECT_EQ(said, s.said) << s.what;
    }
}

}  // namespace
