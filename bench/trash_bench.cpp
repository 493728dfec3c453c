// BM_TrashAndRestore1000: a folder of 1,000 small photos, each with an .xmp
// sidecar, open in the application state; all of them moved to the Trash as
// Delete on a full selection does, then brought back with one undo, on one
// file system (the folder and a temporary XDG_DATA_HOME both in the
// temporary folder). `trash_ms` and `restore_ms` run from the command to the
// folder showing the result (the file work, the ratings following, the
// reload); `max_stall_ms` is the longest the UI thread's event loop went
// without turning over meanwhile. Making the files and opening the folder
// are not timed.
//
// Both live on a tmpfs (/dev/shm) where the machine has one, so the figure
// is the program's work: on an ext4 without a journal (this build machine's
// disk), each new .trashinfo is allocated past every inode freed in the last
// minutes, and runs of the same build swung from 1.6 to 4 s with what other
// programs had deleted just before.
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <benchmark/benchmark.h>

namespace {

constexpr int kPhotos = 1000;

// A temporary folder on a tmpfs when there is one.
QString temporaryBase()
{
    const QString shm = QStringLiteral("/dev/shm");
    const QFileInfo info(shm);
    return info.isDir() && info.isWritable()
               ? shm + QStringLiteral("/kelvane-bench-XXXXXX")
               : QDir::tempPath() + QStringLiteral("/kelvane-bench-XXXXXX");
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool makePhotos(const QString &folder)
{
    const QByteArray photo(4096, 'p');
    const QByteArray sidecar("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>\n");
    for (int n = 0; n < kPhotos; ++n) {
        const QString stem = folder + QStringLiteral("/IMG_%1").arg(n, 4, 10, QLatin1Char('0'));
        if (!writeFile(stem + QStringLiteral(".JPG"), photo) ||
            !writeFile(stem + QStringLiteral(".JPG.xmp"), sidecar))
            return false;
    }
    return true;
}

// Runs the event loop until `done` says so; the longest gap between two
// turns of the loop goes into `maxStallMs`.
template <typename Done>
void runUntil(const Done &done, double &maxStallMs)
{
    QEventLoop loop;
    QElapsedTimer sinceLastTurn;
    sinceLastTurn.start();
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, &loop, [&] {
        maxStallMs = std::max(maxStallMs, double(sinceLastTurn.nsecsElapsed()) / 1e6);
        sinceLastTurn.restart();
        if (done())
            loop.quit();
    });
    turn.start();
    loop.exec();
}

} // namespace

static void BM_TrashAndRestore1000(benchmark::State &state)
{
    QTemporaryDir dataHome(temporaryBase());
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path() + QStringLiteral("/data")));
    WorkQueues queues;
    double trashMs = 0, restoreMs = 0, maxStallMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir folder(temporaryBase());
        AppState app(queues, dataHome.path() + QStringLiteral("/ratings.json"),
                     dataHome.path() + QStringLiteral("/settings.ini"));
        QFuture<void> opened;
        if (makePhotos(folder.path()))
            opened = app.openFolder(QUrl::fromLocalFile(folder.path()), false);
        double ignored = 0;
        // As a culler deletes: a while after the folder opened, its
        // shooting data read.
        runUntil([&] { return opened.isFinished() && app.isShootingDataComplete(); }, ignored);
        if (app.images().size() != kPhotos) {
            state.SkipWithError("the photos could not be written or listed");
            return;
        }
        state.ResumeTiming();

        QElapsedTimer timer;
        timer.start();
        QFuture<void> trashed = app.moveToTrash(app.images());
        runUntil([&] { return trashed.isFinished(); }, maxStallMs);
        trashMs += double(timer.nsecsElapsed()) / 1e6;
        const bool allTrashed = app.images().isEmpty();
        timer.restart();
        app.undo();
        runUntil([&] { return !app.isMovingFiles(); }, maxStallMs);
        restoreMs += double(timer.nsecsElapsed()) / 1e6;
        if (!allTrashed || app.images().size() != kPhotos) {
            state.SkipWithError("files stayed where they were");
            return;
        }
        state.PauseTiming();
        // The shooting-data reads of the reloads end before the folder goes.
        queues.shootingData().waitForDone();
        queues.background().waitForDone();
        state.ResumeTiming();
    }
    const double runs = double(state.iterations());
    state.counters["trash_ms"] = trashMs / runs;
    state.counters["restore_ms"] = restoreMs / runs;
    state.counters["max_stall_ms"] = maxStallMs;
}
BENCHMARK(BM_TrashAndRestore1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
