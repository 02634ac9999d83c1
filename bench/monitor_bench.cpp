// What the monitor daemon spends on one monitoring line once it has been read: parsing, merging
// with the published record, the repeat filter, the pump lock and the copy into the segment.
//
//   PumpLineDistinct:  every line differs from the pump's previous one, so each is published.
//   PumpLineRepeat:    the same line again and again: merge and repeat filter only.
//   StatusLine:        a D line into the controller block.
//   FlagLine:          an E line, which locks and unlocks all 32 pumps.
//   StandaloneParse:   the library's parse_to_trkstate, no segment at all.
#include <benchmark/benchmark.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "parseTrkState.h"
#include "pcuMonitor.h"

namespace {

// A monitor attached to a segment of its own, removed with the object.
class benchMonitor {
public:
    benchMonitor()
    {
        char name[] = "/tmp/monbench_keyXXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0) ::close(fd);
        keyPath = name;
        mon.setIpcPath(keyPath);
        ok = mon.shmInit() == 0;
    }
    ~benchMonitor()
    {
        mon.shmStop();
        const key_t key = ::ftok(keyPath.c_str(), pcudata::SHM_PROJECT_ID);
        const int id = key == -1 ? -1 : ::shmget(key, 0, 0);
        if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
        ::unlink(keyPath.c_str());
    }
    std::string keyPath;
    pcudata::pcuMonitor mon;
    bool ok = false;
};

// 1024 lines over the 32 pumps; consecutive lines of one pump always differ.
std::vector<std::string> distinctLines()
{
    std::vector<std::string> lines;
    for (int i = 0; i < 1024; ++i) {
        const std::string n = std::to_string(i);
        lines.push_back("T" + std::to_string(i % 32 + 1) + ",1,2,3;S7,0,0,0,0,0;P10000,0,0,0,2,0;I" + n +
                        ";A" + n + "0," + n + ";N2{AI-95}");
    }
    return lines;
}

void PumpLineDistinct(benchmark::State& state)
{
    benchMonitor b;
    if (!b.ok) return state.SkipWithError("no segment");
    const std::vector<std::string> lines = distinctLines();
    pcudata::trkState_t scratch{};
    size_t i = 0;
    for (auto _ : state) {
        pcudata::trkState_clear(scratch);
        benchmark::DoNotOptimize(b.mon.parseTrkState_n(lines[i++ & 1023], scratch));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PumpLineDistinct);

void PumpLineRepeat(benchmark::State& state)
{
    benchMonitor b;
    if (!b.ok) return state.SkipWithError("no segment");
    const std::string line = distinctLines()[5];
    pcudata::trkState_t scratch{};
    for (auto _ : state) {
        pcudata::trkState_clear(scratch);
        benchmark::DoNotOptimize(b.mon.parseTrkState_n(line, scratch));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PumpLineRepeat);

void StatusLine(benchmark::State& state)
{
    benchMonitor b;
    if (!b.ok) return state.SkipWithError("no segment");
    for (auto _ : state) benchmark::DoNotOptimize(b.mon.parsePcuStatus("D1,DRV,OK,2,3,4,5,6"));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(StatusLine);

void FlagLine(benchmark::State& state)
{
    benchMonitor b;
    if (!b.ok) return state.SkipWithError("no segment");
    for (auto _ : state) benchmark::DoNotOptimize(b.mon.parseTrkBitFlags("E0,1431655765"));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FlagLine);

void StandaloneParse(benchmark::State& state)
{
    const std::vector<std::string> lines = distinctLines();
    pcudata::trkState_t rec{};
    size_t i = 0;
    for (auto _ : state) {
        pcudata::trkState_clear(rec);
        benchmark::DoNotOptimize(pcudata::parse_to_trkstate(lines[i++ & 1023], rec));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(StandaloneParse);

}  // namespace

BENCHMARK_MAIN();
