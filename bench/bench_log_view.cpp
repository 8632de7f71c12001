// Cost of one activity-log entry appended to the visible log view, as the log
// grows to 100,000 entries without a cap. The per-entry time must not grow
// with the log: the view appends the entry instead of setting the whole text.
// The event loop runs every 100 entries, so the view lays out and paints as
// it would during a mail check.
#include "shell/MainDialog.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

const std::string kEntry = "N\xB0" "1 - C<-O   P | +OK 1 4242\r\n";

struct SVisibleLog {
    SVisibleLog()
    {
        hub.LogWriter().SetEcho(false);
        window.show();
        QCoreApplication::processEvents();
    }
    void Append(int64_t entries)
    {
        for (int64_t i = 1; i <= entries; ++i) {
            hub.AddLog(kEntry, true);
            if (i % 100 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    }
    CMainDialog hub;
    CMainWindow window{hub, true};
};

void Counters(benchmark::State& state, int64_t entries)
{
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["ns_per_entry"] = benchmark::Counter(static_cast<double>(state.iterations() * entries),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// N entries into an empty, visible log view.
void BM_LogViewAppend(benchmark::State& state)
{
    const int64_t entries = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        auto log = std::make_unique<SVisibleLog>();
        state.ResumeTiming();
        log->Append(entries);
        state.PauseTiming();
        log.reset();
        state.ResumeTiming();
    }
    Counters(state, entries);
}

// 1,000 entries onto a view that already holds N.
void BM_LogViewAppendOnto(benchmark::State& state)
{
    const int64_t held = state.range(0);
    const int64_t entries = 1000;
    SVisibleLog log;
    log.Append(held);
    for (auto _ : state)
        log.Append(entries);
    Counters(state, entries);
}

} // namespace

BENCHMARK(BM_LogViewAppend)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LogViewAppendOnto)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
