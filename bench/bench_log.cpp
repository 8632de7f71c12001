// Cost of one activity-log entry as the log grows: N AddLog calls into a fresh
// hub, without a cap and with a 64 KiB cap. The per-entry time must not grow
// with N (items_per_second and the time per item are reported).
#include "shell/MainDialog.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

void AddLogEntries(benchmark::State& state, int32_t cap)
{
    const int64_t entries = state.range(0);
    const std::string text = "N\xB0" "1 - C<-O   P | +OK 1 4242\r\n";
    for (auto _ : state) {
        state.PauseTiming();
        auto hub = std::make_unique<CMainDialog>();
        hub->LogWriter().SetEcho(false);
        hub->Settings().m_nMaxLogSize = cap;
        state.ResumeTiming();
        for (int64_t i = 0; i < entries; ++i)
            hub->AddLog(text, true);
        benchmark::DoNotOptimize(hub->Log().Size());
        state.PauseTiming();
        hub.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["ns_per_entry"] = benchmark::Counter(
        static_cast<double>(state.iterations() * entries),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_AddLogNoCap(benchmark::State& state) { AddLogEntries(state, 0); }
void BM_AddLogCap64K(benchmark::State& state) { AddLogEntries(state, 64 * 1024); }

} // namespace

BENCHMARK(BM_AddLogNoCap)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddLogCap64K)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
