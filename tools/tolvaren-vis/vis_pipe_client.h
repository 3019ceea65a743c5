#pragma once

// tolvaren-vis's client of tolvaren's pipe, apart from Windows: when to try
// the pipe again while it can't be opened, what is said about that once,
// and the line that a tolvaren that comes late gets at once. The clock and
// the reasons a pipe is refused are the caller's.

#include <cstdint>

#include "tools/tolvaren-vis/vis_engine.h"

enum : uint32_t {
    kVisRetryMs = 1000,  // a pipe that can't be opened is tried again this often
};

struct VisPipeClient {
    bool tried;
    uint64_t lastTryMs;
    bool saidRefusal;  // why the pipe can't be opened was said...
    int lastRefusal;   // ...and this was why: said once until it changes
    bool haveLatest;
    VisLine latest;    // sent at once when tolvaren comes (back)
};

void StartPipeClient(VisPipeClient* client);
// Whether to try to open the pipe at nowMs, counting the try: at once when
// asked, and otherwise kVisRetryMs after the last try.
bool TimeToTry(VisPipeClient* client, uint64_t nowMs, bool atOnce);
// The pipe was refused for reason: true when that is to be said, being the
// first refusal, or another than the one last said.
bool RefusalIsNews(VisPipeClient* client, int reason);
// The pipe opened: true when a refusal had been said, so that its end is
// said too. Either way the next refusal is news again.
bool ArrivalIsNews(VisPipeClient* client);
// tolvaren went away: the next refusal is news again.
void ForgetRefusal(VisPipeClient* client);
// The line last sent, or to be sent, for a tolvaren that comes later.
void KeepLatest(VisPipeClient* client, const VisLine& line);
