// Opening a folder of 100,000 photos through the application state, end to
// end, while a UI-thread heartbeat records the longest stall of the event loop.
#include "BenchCorpus.h"
#include "StoreBursts.h"
#include "model/StarRatingStore.h"
#include "model/WorkQueues.h"
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
    WorkQueues queues;
    AppState appState(queues, stores.path() + QStringLiteral("/ratings.json"),
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

// A photographer with a large history rates 100 photos in quick succession
// (holding a digit while stepping): the UI thread's share per rating, and the
// time until all of it is on disk.
static void BM_RateBurstLargeTable(benchmark::State &state)
{
    QTemporaryDir dir;
    WorkQueues queues;
    StarRatingStore store(dir.path() + QStringLiteral("/ratings.json"), queues);
    const QString prefix = QStringLiteral("/photos/2024/archive/IMG_");
    for (int n = 0; n < 100000; ++n)
        store.setRating(n % 5 + 1, prefix + QString::number(n) + QStringLiteral(".jpg"));
    store.waitForSaved();
    StoreBursts::time(state, store, "ui_ms_per_rating", [&](int round) {
        for (int n = 0; n < StoreBursts::kChanges; ++n)
            store.setRating((n + round) % 5 + 1,
                            prefix + QString::number(n) + QStringLiteral(".jpg"));
    });
}
BENCHMARK(BM_RateBurstLargeTable)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
