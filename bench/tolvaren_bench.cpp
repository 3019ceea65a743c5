// Tolvaren's figures under Wine, beside a bare server of its pipe and a
// minimal window program, printed as a table with the goals they are held
// to. It asserts nothing: its exit code says only whether the figures could
// be taken. scripts/bench.sh builds it and runs it.
//   tolvaren_bench.exe [TOLVAREN_32BIT_EXE TOLVAREN_64BIT_EXE]
// The two paths (Unix or Windows) are read for their sizes only; the program
// measured is the copy of tolvaren.exe beside the simulated lamp device.
// main runs the measurements (measurements.h), each in a file of its own,
// and prints the table (table.cpp).
#include <windows.h>

#include <cstdio>
#include <string>

#include "measurements.h"
#include "sim_device_fixture.h"
#include "table.h"
#include "test_files.h"
#include "wine_settings.h"

namespace {

bool CheckBesideTheBench()
{
    for (const char* name : {kProgram, kBareServer, kMinimalWindow, "hid.dll", "setupapi.dll"})
        if (!FileExists(BinPath(name)))
            return Fail(std::string(name) + " is missing beside the bench in " + TestBinDirectory() +
                        "; build it with scripts/bench.sh (or cmake --build --preset windows-x64 "
                        "--target tolvaren_bench)");
    return true;
}

// The programs the bench starts get the simulated hid.dll and setupapi.dll
// beside them however the Wine prefix was made (wine-up.sh sets the same).
bool GiveTheSimulatedDevice()
{
    for (const char* exeName : {kProgram, kBareServer})
        if (!SetWineAppDefault(exeName, "DllOverrides", "hid", "native") ||
            !SetWineAppDefault(exeName, "DllOverrides", "setupapi", "native"))
            return Fail("can't set the Wine DLL overrides in the registry; check that the Wine prefix is writable");
    return true;
}

// The device's log, made now so that it can be followed from its first
// line, and the file that makes the device log its reports' times.
bool MakeLog(const std::string& log, const SimDeviceBench& device)
{
    return (WriteTextFile(log, "") && WriteTextFile(device.directory() + "\\timestamps", "")) ||
           Fail("can't write to " + device.directory() + "; check the space and rights there");
}

// One simulated lamp device for all of these, its log followed.
bool MeasureBesideOneSimulatedLamp(BenchFigures* figures)
{
    SimDeviceBench device;
    const std::string devicePath = "\"" + device.AddDevice(SimDeviceSpec()) + "\"";
    const std::string log = device.directory() + "\\events.log";
    if (!MakeLog(log, device)) return false;
    ReportTail tail(log);
    if (!tail.open()) return Fail("can't read " + log + "; check the rights there");
    const BenchProgram program = TolvarenOnSimulatedLamp();
    const BenchProgram bare = {"the bare server", BinPath(kBareServer), devicePath, NULL};
    const BenchProgram bareOnThread = {"the bare server reading on a second thread", BinPath(kBareServer),
                                       "--thread " + devicePath, NULL};
    const BenchProgram minimal = MinimalWindow();
    return MeasureLatencies({&program, &bare, &bareOnThread}, &tail, &figures->latencies) &&
           MeasurePaced(program, &tail, &figures->programPaced) &&
           MeasurePaced(bare, &tail, &figures->barePaced) && MeasureIdleCpu(program, &figures->programIdle) &&
           MeasureIdleCpu(minimal, &figures->minimalIdle) &&
           MeasureStartUps(program, minimal, &figures->programStarts, &figures->minimalStarts);
}

// Each of these with a lamp of its own: a virtual lamp on Wine's HID stack,
// a simulated lamp answering at once, one taking its time, one stuck.
bool MeasureWithLampsOfTheirOwn(BenchFigures* figures)
{
    return MeasureRealStackLatencies(&figures->realLatencies) && MeasurePaints(0, &figures->paints) &&
           MeasurePaints(kSlowLampMs, &figures->slowPaints) && MeasureShutdown(0, &figures->shutdownMs) &&
           MeasureShutdown(kStuckLampMs, &figures->stuckShutdownMs);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 1 && argc != 3) {
        std::fprintf(stderr,
                     "usage: tolvaren_bench.exe [TOLVAREN_32BIT_EXE TOLVAREN_64BIT_EXE]\n"
                     "The two paths (Unix or Windows) are for the table's sizes; scripts/bench.sh gives them.\n");
        return 2;
    }
    if (!CheckBesideTheBench() || !GiveTheSimulatedDevice()) return 1;
    BenchFigures figures;
    if (!MeasureBesideOneSimulatedLamp(&figures) || !MeasureWithLampsOfTheirOwn(&figures)) return 1;
    figures.size32 = SizeText(argc == 3 ? argv[1] : NULL);
    figures.size64 = SizeText(argc == 3 ? argv[2] : NULL);
    PrintTable(figures);
    return 0;
}
