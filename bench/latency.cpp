// The latency from just before a lamp line's WriteFile to the lamp's
// taking its report, by the lamp's own log of QueryPerformanceCounter's
// count: tolvaren beside a bare server of its pipe that sends each line
// straight to the lamp, reading on its main thread and on a second one.
#include "measurements.h"
#include "virtual_lamp_fixture.h"

namespace {

// One round: a fresh start of the server, then lines one at a time, each
// waited for.
bool MeasureLatencyRound(const BenchProgram& server, ReportTail* tail, Latency* latency)
{
    std::unique_ptr<RunningProgram> running = StartServer(server);
    if (!running) return false;
    PipeWriter writer;
    if (writer.Open() != 0) return Fail(std::string("can't open the pipe of ") + server.name);
    tail->NewReports();

    for (int i = 0; i < kWarmUpLines + kLatencyLinesPerRound; ++i) {
        const unsigned value = LineValue(i);
        const std::string line = LampLine(value);
        const long long writtenAt = Counter();
        if (!writer.Write(line)) return Fail(std::string("writing to the pipe of ") + server.name + " failed");
        long long sentAt = 0;
        if (!WaitForReport(tail, value, &sentAt)) return false;
        if (i >= kWarmUpLines) latency->samplesMs.push_back(CountsToMs(sentAt - writtenAt));
    }
    writer.Close();
    StopProgram(server, &running);
    return true;
}

std::string Names(const std::vector<const BenchProgram*>& programs)
{
    std::string names;
    for (const BenchProgram* program : programs) names += (names.empty() ? "" : ", ") + std::string(program->name);
    return names;
}

}  // namespace

// The servers take turns, each round starting with the next one, so that
// drift in the machine's speed falls on all alike.
bool MeasureLatencies(const std::vector<const BenchProgram*>& servers, ReportTail* tail,
                      std::vector<Latency>* latencies)
{
    Progress(Format("latency of %s: %d lines each, one a write, each waited for, in %d rounds",
                    Names(servers).c_str(), kLatencyLines, kLatencyRounds));
    latencies->assign(servers.size(), Latency());
    for (int round = 0; round < kLatencyRounds; ++round)
        for (size_t turn = 0; turn < servers.size(); ++turn) {
            const size_t which = (static_cast<size_t>(round) + turn) % servers.size();
            if (!MeasureLatencyRound(*servers[which], tail, &(*latencies)[which])) return false;
        }
    for (Latency& latency : *latencies) latency.ms = P50AndP99(latency.samplesMs);
    return true;
}

// On Wine's own HID stack the programs are the copies in tests/real, which
// no simulated hid.dll lies beside, and the lamp a virtual one.
bool MeasureRealStackLatencies(std::vector<Latency>* latencies)
{
    VirtualLampBench lamps;
    const int lamp = lamps.AddLamp();
    if (lamp < 0)
        return Fail("can't add a virtual lamp (" + lamps.problem() +
                    "); run the bench through scripts/bench.sh, which installs its driver");
    ReportTail tail(lamps.LogPath(lamp));
    if (!tail.open()) return Fail("can't read the virtual lamp's log " + lamps.LogPath(lamp));
    for (const char* name : {"tolvaren.exe", "bench_bare_server_real.exe"})
        if (!FileExists(RealPath(name))) return Fail(RealPath(name) + " is missing; build it with scripts/bench.sh");
    const std::string lampPath = "\"" + lamps.Path(lamp) + "\"";
    const BenchProgram program = {"tolvaren.exe on Wine's HID stack", RealPath("tolvaren.exe"), "",
                                  kMainWindowClass};
    const BenchProgram bare = {"the bare server on Wine's HID stack", RealPath("bench_bare_server_real.exe"),
                               lampPath, NULL};
    const BenchProgram bareOnThread = {"the bare server on Wine's HID stack, reading on a second thread",
                                       RealPath("bench_bare_server_real.exe"), "--thread " + lampPath, NULL};
    return MeasureLatencies({&program, &bare, &bareOnThread}, &tail, latencies);
}
