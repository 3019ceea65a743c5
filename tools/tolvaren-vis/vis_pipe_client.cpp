#include "tools/tolvaren-vis/vis_pipe_client.h"

#include <cstring>

void StartPipeClient(VisPipeClient* client)
{
    std::memset(client, 0, sizeof *client);
}

bool TimeToTry(VisPipeClient* client, uint64_t nowMs, bool atOnce)
{
    if (!atOnce && client->tried && nowMs - client->lastTryMs < kVisRetryMs) return false;
    client->tried = true;
    client->lastTryMs = nowMs;
    return true;
}

bool RefusalIsNews(VisPipeClient* client, int reason)
{
    if (client->saidRefusal && client->lastRefusal == reason) return false;
    client->saidRefusal = true;
    client->lastRefusal = reason;
    return true;
}

bool ArrivalIsNews(VisPipeClient* client)
{
    const bool said = client->saidRefusal;
    client->saidRefusal = false;
    return said;
}

void ForgetRefusal(VisPipeClient* client)
{
    client->saidRefusal = false;
}

void KeepLatest(VisPipeClient* client, const VisLine& line)
{
    client->latest = line;
    client->haveLatest = true;
}
