// Reading the ratings that cameras and other programs left in the files when
// a folder opens with the XMP sync on: 1,000 JPEGs with an embedded
// xmp:Rating and 1,000 photos with a sidecar, made once per run. `cold`
// knows nothing yet, `warm` finds nothing changed since the last reading.
// The baseline is a bare Exiv2 readMetadata of the files the reading has to
// open, on the same pool and threads.
//
// BM_RateBurstLargeTable: a burst of 100 ratings with 100,000 ratings
// stored, timed until all of them are on disk.
// `ui_ms_per_rating` is what the rating itself costs the UI thread.
//
// BM_MarkBurst: the same for 100 flag and label changes with 100,000 marks
// stored; `ui_ms_per_change` is what one change costs the UI thread.
#include "StoreBursts.h"
#include "imaging/ImageDecoder.h"
#include "model/CullingMarkStore.h"
#include "model/StarRatingStore.h"
#include "model/WorkQueues.h"
#include "state/XmpRatingSync.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentMap>
#include <benchmark/benchmark.h>
#include <exiv2/exiv2.hpp>
#include <memory>

namespace {

constexpr int kPerKind = 1000;

struct RatedFolder
{
    QTemporaryDir dir;
    QStringList photos;
    QStringList sidecars;
    QStringList filesToOpen; // what the reading opens: sidecars, else the photo
};

// A small, distinct camera-like JPEG.
bool writePhoto(const QString &path, int n)
{
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(n * 37 % 360, 160, 200));
    for (int x = 0; x < image.width(); ++x)
        image.setPixel(x, (x * n) % image.height(), qRgb(n % 256, x % 256, 40));
    return image.save(path, "JPEG", 90);
}

void embedRating(const QString &path, int rating)
{
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    image->exifData()["Exif.Image.Make"] = "Bench";
    image->exifData()["Exif.Image.Rating"] = uint16_t(rating);
    image->xmpData()["Xmp.xmp.Rating"] = std::to_string(rating);
    image->writeMetadata();
}

void writeSidecar(const QString &path, int rating)
{
    Exiv2::XmpData xmp;
    xmp["Xmp.xmp.Rating"] = std::to_string(rating);
    xmp["Xmp.xmp.Label"] = "Green";
    xmp["Xmp.crs.Exposure2012"] = "+0.30";
    std::string packet;
    Exiv2::XmpParser::encode(packet, xmp);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(packet.data(), qint64(packet.size()));
}

const RatedFolder &ratedFolder()
{
    static const std::unique_ptr<RatedFolder> folder = [] {
        ImageDecoder::initialiseLibraries();
        auto made = std::make_unique<RatedFolder>();
        const QString root = made->dir.path();
        for (int n = 0; n < 2 * kPerKind; ++n) {
            const bool embedded = n < kPerKind;
            const QString photo =
                root + QStringLiteral("/%1_%2.jpg")
                           .arg(embedded ? QStringLiteral("CAM") : QStringLiteral("DSC"))
                           .arg(n, 5, 10, QLatin1Char('0'));
            writePhoto(photo, n);
            made->photos << photo;
            if (embedded) {
                embedRating(photo, n % 5 + 1);
                made->filesToOpen << photo;
            } else {
                const QString sidecar = photo + QStringLiteral(".xmp");
                writeSidecar(sidecar, n % 5 + 1);
                made->sidecars << sidecar;
                made->filesToOpen << sidecar;
            }
        }
        return made;
    }();
    return *folder;
}

struct Reader
{
    WorkQueues queues; // first: the stores run on it and must go before it
    StarRatingStore store;
    CullingMarkStore marks;
    XmpRatingSync sync;

    explicit Reader(const QString &folder)
        : store(folder + QStringLiteral("/ratings.json"), queues)
        , marks(folder + QStringLiteral("/culling-marks.json"), queues)
        , sync(store, marks, queues.fileOperations(), folder + QStringLiteral("/settings.ini"))
    {
        sync.setEnabled(true);
    }

    qsizetype read(const RatedFolder &rated)
    {
        QEventLoop loop;
        qsizetype taken = 0;
        const auto connection =
            QObject::connect(&sync, &XmpRatingSync::importFinished, &loop, [&](qsizetype count) {
                taken = count;
                loop.quit();
            });
        sync.importRatings(rated.photos, rated.sidecars);
        loop.exec();
        QObject::disconnect(connection);
        return taken;
    }
};

} // namespace

static void BM_ReadFileRatings(benchmark::State &state, bool warm)
{
    const RatedFolder &rated = ratedFolder();
    QTemporaryDir stores;
    std::unique_ptr<Reader> reader;
    if (warm) {
        reader = std::make_unique<Reader>(stores.path());
        reader->read(rated);
    }
    qsizetype taken = 0;
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            reader.reset();
            QFile::remove(stores.path() + QStringLiteral("/ratings.json"));
            QFile::remove(stores.path() + QStringLiteral("/in-file-ratings.json"));
            reader = std::make_unique<Reader>(stores.path());
            state.ResumeTiming();
        }
        taken = reader->read(rated);
    }
    state.counters["files"] = double(rated.photos.size());
    state.counters["taken"] = double(taken);
}
BENCHMARK_CAPTURE(BM_ReadFileRatings, cold, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReadFileRatings, warm, true)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Exiv2ReadMetadata(benchmark::State &state)
{
    const RatedFolder &rated = ratedFolder();
    QStringList files = rated.filesToOpen;
    for (auto _ : state) {
        // Spread over the global pool from a thread outside it, as the reading is.
        QtConcurrent::blockingMap(files, [](const QString &path) {
            auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            image->readMetadata();
            benchmark::DoNotOptimize(image->xmpData().count());
        });
    }
    state.counters["files"] = double(rated.filesToOpen.size());
}
BENCHMARK(BM_Exiv2ReadMetadata)->Unit(benchmark::kMillisecond)->UseRealTime();

namespace {

constexpr int kStoredEntries = 100000;

// The n-th of the photos another session left entries for.
QString storedPhoto(int n)
{
    return QStringLiteral("/home/user/Pictures/2024/%1/IMG_%2.CR3")
        .arg(n / 1000, 3, 10, QLatin1Char('0'))
        .arg(n, 6, 10, QLatin1Char('0'));
}

QString burstPhoto(int n)
{
    return QStringLiteral("/home/user/Pictures/burst/IMG_%1.jpg").arg(n);
}

} // namespace

static void BM_RateBurstLargeTable(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/star-ratings.json");
    {
        // As another session left the file: its own queues, so the measured
        // store's writer starts as the application's does.
        WorkQueues fillerQueues;
        StarRatingStore filler(file, fillerQueues);
        QHash<QString, int> stored;
        stored.reserve(kStoredEntries);
        for (int n = 0; n < kStoredEntries; ++n)
            stored.insert(storedPhoto(n), n % 5 + 1);
        filler.setRatings(stored);
    }
    WorkQueues queues;
    StarRatingStore store(file, queues);
    StoreBursts::time(state, store, "ui_ms_per_rating", [&store](int round) {
        for (int n = 0; n < StoreBursts::kChanges; ++n)
            store.setRating(round % 5 + 1, burstPhoto(n));
    });
}
BENCHMARK(BM_RateBurstLargeTable)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_MarkBurst(benchmark::State &state)
{
    constexpr ColourLabel kLabels[] = {ColourLabel::red, ColourLabel::yellow, ColourLabel::green,
                                       ColourLabel::blue, ColourLabel::purple};
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/culling-marks.json");
    {
        // As another session left the file (see BM_RateBurstLargeTable).
        WorkQueues fillerQueues;
        CullingMarkStore filler(file, fillerQueues);
        QStringList picked, labelled;
        for (int n = 0; n < kStoredEntries; ++n)
            (n % 2 == 0 ? picked : labelled) << storedPhoto(n);
        filler.setFlags(picked, CullingFlag::pick);
        filler.setLabels(labelled, ColourLabel::green);
    }
    WorkQueues queues;
    CullingMarkStore store(file, queues);
    // Half flags, half labels, each a real change.
    StoreBursts::time(state, store, "ui_ms_per_change", [&store, &kLabels](int round) {
        const CullingFlag flag = round % 2 == 0 ? CullingFlag::pick : CullingFlag::reject;
        for (int n = 0; n < StoreBursts::kChanges; ++n) {
            if (n % 2 == 0)
                store.setFlag(burstPhoto(n), flag);
            else
                store.setLabel(burstPhoto(n), kLabels[round % 5]);
        }
    });
}
BENCHMARK(BM_MarkBurst)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
