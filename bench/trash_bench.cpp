// BM_TrashAndRestore1000: 1,000 small photos, each with an .xmp sidecar,
// moved to the Trash one file at a time through FileTrash and then all put
// back, on one file system (the photos' folder and a temporary
// XDG_DATA_HOME both in the temporary folder). `trash_ms` and `restore_ms`
// are the two passes over all 2,000 files; making the files is not timed.
#include "model/FileTrash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr int kPhotos = 1000;

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The photos and their sidecars, in trashing order.
QStringList makePhotos(const QString &folder)
{
    QStringList files;
    const QByteArray photo(4096, 'p');
    const QByteArray sidecar("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>\n");
    for (int n = 0; n < kPhotos; ++n) {
        const QString stem = folder + QStringLiteral("/IMG_%1").arg(n, 4, 10, QLatin1Char('0'));
        if (!writeFile(stem + QStringLiteral(".JPG"), photo) ||
            !writeFile(stem + QStringLiteral(".JPG.xmp"), sidecar))
            return {};
        files << stem + QStringLiteral(".JPG") << stem + QStringLiteral(".JPG.xmp");
    }
    return files;
}

} // namespace

static void BM_TrashAndRestore1000(benchmark::State &state)
{
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    double trashMs = 0, restoreMs = 0;
    for (auto _ : state) {
        QTemporaryDir folder;
        const QStringList files = makePhotos(folder.path());
        if (files.isEmpty()) {
            state.SkipWithError("the photos could not be written");
            return;
        }
        std::vector<FileTrash::Entry> entries;
        entries.reserve(files.size());
        QElapsedTimer timer;
        timer.start();
        for (const QString &file : files)
            entries.push_back(FileTrash::moveToTrash(file).entry);
        const qint64 trashed = timer.nsecsElapsed();
        timer.restart();
        int notRestored = 0;
        for (const FileTrash::Entry &entry : entries)
            notRestored += FileTrash::restore(entry).isEmpty() ? 0 : 1;
        const qint64 restored = timer.nsecsElapsed();
        trashMs += trashed / 1e6;
        restoreMs += restored / 1e6;
        state.SetIterationTime((trashed + restored) / 1e9);
        if (notRestored > 0) {
            state.SkipWithError("files stayed in the trash");
            return;
        }
    }
    const double runs = double(state.iterations());
    state.counters["trash_ms"] = trashMs / runs;
    state.counters["restore_ms"] = restoreMs / runs;
}
BENCHMARK(BM_TrashAndRestore1000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
