// Opening a folder of 100,000 photos through the application state, end to
// end, while a UI-thread heartbeat records the longest stall of the event loop.
#include "BenchCorpus.h"
#include "state/AppState.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

static void BM_OpenFolder100k(benchmark::State &state)
{
    const QString root = BenchCorpus::scanTree();
    QTemporaryDir stores;
    AppState appState(stores.path() + QStringLiteral("/ratings.json"),
                      stores.path() + QStringLiteral("/settings.ini"));
    double maxStallMs = 0;
    qsizetype images = 0;
    for (auto _ : state) {
        QEventLoop loop;
        QElapsedTimer sinceTick;
        QTimer heartbeat;
        heartbeat.setInterval(1);
        QObject::connect(&heartbeat, &QTimer::timeout, &loop, [&] {
            maxStallMs = std::max(maxStallMs, sinceTick.nsecsElapsed() / 1e6);
            sinceTick.restart();
        });
        sinceTick.start();
        heartbeat.start();
        appState.openFolder(QUrl::fromLocalFile(root), true).then(&loop, [&] {
            maxStallMs = std::max(maxStallMs, sinceTick.nsecsElapsed() / 1e6);
            loop.quit();
        });
        loop.exec();
        images = appState.images().size();
    }
    state.counters["images"] = double(images);
    state.counters["max_stall_ms"] = maxStallMs;
}
BENCHMARK(BM_OpenFolder100k)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
