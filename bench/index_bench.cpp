// Indexing the shooting data of a folder of 2,000 camera JPEGs (1920 x 1280,
// the EXIF and maker notes of a real Canon file when the samples are there),
// made once into the bench corpus, each with its own capture time.
//
// BM_IndexShootingData/cold: a first opening, no cache: every file is opened.
// `x_baseline` is the sum of its times over the sum of the times of a pass of
// BM_Exiv2IndexBaseline's loop taken in the same iteration, just before each
// index pass (untimed), so both see the same machine load and page cache.
// BM_IndexShootingData/warm: a new session on an unchanged folder: the cache
// file is loaded and every file only looked at (stat). Its `x_baseline` is
// its mean time over one baseline pass taken before (a pass per iteration
// would make it run ten times longer).
// BM_Exiv2IndexBaseline: a bare Exiv2 open + readMetadata of the same files
// on a pool of the same number of threads.
#include "BenchCorpus.h"
#include "imaging/ImageDecoder.h"
#include "model/WorkQueues.h"
#include "state/ShootingDataIndex.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSemaphore>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <exiv2/exiv2.hpp>
#include <unistd.h>

namespace {

constexpr int kPhotos = 2000;

Exiv2::ExifData cameraExif()
{
    const QString sample =
        QStringLiteral(KELVANE_SAMPLES_DIR "/jpeg/canon_eos600d_lens_artist_gps_nw.jpg");
    if (QFileInfo::exists(sample)) {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(sample).toStdString());
        image->readMetadata();
        return image->exifData();
    }
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = "Canon EOS 600D";
    exif["Exif.Photo.LensModel"] = "EF-S15-85mm f/3.5-5.6 IS USM";
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(85, 1);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(56, 10);
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 1250);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(160);
    return exif;
}

QByteArray basePhoto()
{
    QImage image(1920, 1280, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgb((x * 7 + y) % 256, (x ^ y) % 256, (x * y / 64) % 256);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

const QStringList &cameraPhotos()
{
    static const QStringList photos = [] {
        ImageDecoder::initialiseLibraries();
        const QString root = BenchCorpus::corpusRoot() + QStringLiteral("/camera-jpegs-2000");
        QStringList paths;
        for (int n = 0; n < kPhotos; ++n)
            paths << root + QStringLiteral("/IMG_%1.JPG").arg(n, 4, 10, QLatin1Char('0'));
        if (QFileInfo::exists(root + QStringLiteral("/.complete")))
            return paths;
        QDir(root).removeRecursively();
        QDir().mkpath(root);
        const QByteArray base = basePhoto();
        Exiv2::ExifData exif = cameraExif();
        for (int n = 0; n < kPhotos; ++n) {
            QFile file(paths[n]);
            if (!file.open(QIODevice::WriteOnly) || file.write(base) != base.size())
                qFatal("cannot write the camera corpus in %s", qPrintable(root));
            file.close();
            exif["Exif.Photo.DateTimeOriginal"] = QStringLiteral("2024:05:01 %1:%2:%3")
                                                      .arg(10 + n / 3600)
                                                      .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
                                                      .arg(n % 60, 2, 10, QLatin1Char('0'))
                                                      .toStdString();
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(paths[n]).toStdString());
            image->readMetadata();
            image->setExifData(exif);
            image->writeMetadata();
        }
        // On disk before anything is measured: a write-back of the fresh
        // corpus would otherwise take the cores during the first passes.
        QFile first(paths.first());
        if (first.open(QIODevice::ReadOnly))
            ::syncfs(first.handle());
        QFile(root + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
        return paths;
    }();
    return photos;
}

// One job per thread of `pool` taking the next file until none is left, as
// the index reads (a blocking map would add the calling thread).
void readAllMetadata(QThreadPool &pool, const QStringList &files)
{
    std::atomic<qsizetype> next = 0;
    QSemaphore finished;
    const int threads = pool.maxThreadCount();
    for (int i = 0; i < threads; ++i) {
        pool.start([&] {
            for (qsizetype n = next++; n < files.size(); n = next++) {
                auto image = Exiv2::ImageFactory::open(QFile::encodeName(files[n]).toStdString());
                image->readMetadata();
                benchmark::DoNotOptimize(image->exifData().count());
            }
            finished.release();
        });
    }
    finished.acquire(threads);
}

// Indexes `photos` and returns once the index is complete.
void indexAll(ShootingDataIndex &index, const QStringList &photos)
{
    QEventLoop loop;
    QObject::connect(&index, &ShootingDataIndex::completed, &loop, &QEventLoop::quit);
    index.setPaths(photos);
    if (!index.isComplete())
        loop.exec();
}

} // namespace

static void BM_IndexShootingData(benchmark::State &state, bool warm)
{
    const QStringList &photos = cameraPhotos();
    QTemporaryDir stores;
    const QString cacheFile = stores.path() + QStringLiteral("/shooting-data.cache");
    WorkQueues queues;
    // The baseline's own threads, as many as the index's and, like
    // BM_Exiv2IndexBaseline's, at the normal priority (the index lowers the
    // priority of the threads it runs on for good).
    QThreadPool baselineThreads;
    baselineThreads.setMaxThreadCount(queues.shootingData().maxThreadCount());
    double baselineMs = 0;
    int baselinePasses = 0;
    const auto timeBaselinePass = [&] {
        QElapsedTimer timer;
        timer.start();
        readAllMetadata(baselineThreads, photos);
        baselineMs += double(timer.nsecsElapsed()) / 1e6;
        ++baselinePasses;
    };
    std::unique_ptr<ShootingDataIndex> index;
    if (warm) {
        ShootingDataIndex first(cacheFile, queues.shootingData(), queues.background());
        indexAll(first, photos);
        queues.background().waitForDone();
        timeBaselinePass();
    }
    double indexMs = 0;
    qsizetype read = 0;
    for (auto _ : state) {
        state.PauseTiming();
        queues.background().waitForDone();
        index.reset();
        if (!warm) {
            QFile::remove(cacheFile);
            timeBaselinePass();
        }
        QElapsedTimer timer;
        state.ResumeTiming();
        timer.start();
        index = std::make_unique<ShootingDataIndex>(cacheFile, queues.shootingData(),
                                                    queues.background());
        indexAll(*index, photos);
        indexMs += double(timer.nsecsElapsed()) / 1e6;
        read = index->filesRead();
    }
    state.counters["files"] = double(photos.size());
    state.counters["files_opened"] = double(read);
    state.counters["x_baseline"] =
        (indexMs / double(state.iterations())) / (baselineMs / baselinePasses);
}
BENCHMARK_CAPTURE(BM_IndexShootingData, cold, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_IndexShootingData, warm, true)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Exiv2IndexBaseline(benchmark::State &state)
{
    const QStringList &photos = cameraPhotos();
    WorkQueues queues; // the index's pool size
    for (auto _ : state)
        readAllMetadata(queues.shootingData(), photos);
    state.counters["files"] = double(photos.size());
}
BENCHMARK(BM_Exiv2IndexBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();
