// Opening a folder of 100,000 photos: the scan (plus flattening and sorting
// by file name, as opening a folder does) against a bare recursive walk of
// the same tree.
#include "BenchCorpus.h"
#include "model/FolderScanner.h"
#include "model/NaturalOrder.h"

#include <benchmark/benchmark.h>
#include <filesystem>

static void BM_ScanTree(benchmark::State &state)
{
    const QString root = BenchCorpus::scanTree();
    qsizetype count = 0;
    for (auto _ : state) {
        const FolderNode node = FolderScanner::scanFolder(QUrl::fromLocalFile(root), true);
        QList<ImageItem> images = node.allImages();
        NaturalOrder().sortByFilename(images);
        count = images.size();
        benchmark::DoNotOptimize(images.data());
    }
    state.counters["images"] = double(count);
}
BENCHMARK(BM_ScanTree)->Unit(benchmark::kMillisecond)->MinTime(2.0);

static void BM_PlainWalk(benchmark::State &state)
{
    const std::string root = BenchCorpus::scanTree().toStdString();
    std::size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.is_regular_file())
                ++count;
        }
        benchmark::DoNotOptimize(count);
    }
    state.counters["files"] = double(count);
}
BENCHMARK(BM_PlainWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
