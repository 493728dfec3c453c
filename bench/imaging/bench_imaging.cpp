// Imaging benchmarks: the loader's thumbnail decode and the full-image load of
// a 24-megapixel JPEG beside libjpeg-turbo's own decodes of the same file,
// the sharp thumbnail of a camera JPEG with a small stored one, batch
// thumbnailing on the pool against one thread, reopening a screenful from an
// empty and from a filled shared thumbnail cache, RAW preview and
// development, the memory held by 2,000 cached grid thumbnails and the peak
// memory of thumbnailing 45-megapixel sources on every core, and the time
// and memory hostile files cost.
#include "HostileFiles.h"
#include "ImagingFixtures.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageLoadError.h"
#include "imaging/ImageLoader.h"
#include "imaging/RAWProcessor.h"
#include "imaging/ThumbnailDiskCache.h"
#include "model/WorkQueues.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>
#include <turbojpeg.h>

using namespace ImagingFixtures;

namespace {

// Smooth gradients with fine noise: compresses and decodes like a photo,
// unlike a flat test card.
QImage photoLike(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = int(random.bounded(24u)) - 12;
            const int r = qBound(0, 255 * x / width + noise, 255);
            const int g = qBound(0, 255 * y / height + noise, 255);
            const int b = qBound(0, 128 + ((x / 97 + y / 61) % 2) * 60 + noise, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    return image;
}

class Fixtures
{
public:
    static Fixtures &instance()
    {
        static Fixtures fixtures;
        return fixtures;
    }

    const QString &jpeg24MP()
    {
        if (m_jpeg24MP.isEmpty())
            m_jpeg24MP = writeJpeg(m_dir.filePath(QStringLiteral("photo24mp.jpg")),
                                   photoLike(6000, 4000, 1), 90);
        return m_jpeg24MP;
    }

    // Distinct files (distinct paths and pixels) of a phone-photo size.
    // Kept between runs, like every corpus of many files.
    QStringList batch(int count, int width, int height)
    {
        const QDir dir = keptFolder(QStringLiteral("batch_%1x%2").arg(width).arg(height));
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            const QString path = dir.filePath(QStringLiteral("img_%1.jpg").arg(i));
            if (!QFile::exists(path))
                publishJpeg(path, photoLike(width, height, quint32(i) + 7), 85);
            paths << path;
        }
        return paths;
    }

    // A camera JPEG: a 24-megapixel picture with a 160 x 120 EXIF thumbnail.
    const QString &jpegWithStoredStub()
    {
        if (m_jpegWithStub.isEmpty()) {
            m_jpegWithStub = m_dir.filePath(QStringLiteral("camera24mp.jpg"));
            QFile::copy(jpeg24MP(), m_jpegWithStub);
            const QByteArray stub = jpegBytes(photoLike(160, 120, 5), 80);
            editExif(m_jpegWithStub, [&](Exiv2::ExifData &exif) {
                Exiv2::ExifThumb(exif).setJpegThumbnail(
                    reinterpret_cast<const Exiv2::byte *>(stub.constData()), long(stub.size()));
            });
        }
        return m_jpegWithStub;
    }

    // Distinct 24-megapixel JPEGs without EXIF thumbnails: one photo-like
    // picture, each copy marked with its own block of colour.
    QStringList distinct24MP(int count)
    {
        const QDir dir = keptFolder(QStringLiteral("distinct24mp"));
        QImage picture;
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            const QString path = dir.filePath(QStringLiteral("img_%1.jpg").arg(i));
            if (!QFile::exists(path)) {
                if (picture.isNull())
                    picture = photoLike(6000, 4000, 11);
                QPainter(&picture).fillRect(0, 0, 600, 400,
                                            QColor::fromHsv(i * 11 % 360, 200, 200));
                publishJpeg(path, picture, 90);
            }
            paths << path;
        }
        return paths;
    }

    // 45-megapixel sources, several paths each (symbolic links, so that every
    // path is a file of its own to the loader): a DNG whose preview is a
    // full-size JPEG, a PNG and a lossy WebP.
    QStringList sources45MP(int count, int only = -1)
    {
        // Kept between runs: writing them takes a minute.
        const QDir dir = keptFolder(QStringLiteral("sources45mp"));
        const QStringList originals = {dir.filePath(QStringLiteral("preview.dng")),
                                       dir.filePath(QStringLiteral("picture.png")),
                                       dir.filePath(QStringLiteral("picture.webp"))};
        if (!QFile::exists(originals[0])) {
            const QImage picture = photoLike(8256, 5504, 13);
            writeDng(originals[0], 800, 532, picture);
            picture.save(originals[1], "png");
            picture.save(originals[2], "webp");
        }
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            const QString &original = originals[only >= 0 ? only : i % originals.size()];
            const QString link = dir.filePath(QStringLiteral("link_%1_").arg(i)) +
                                 original.mid(original.lastIndexOf(QLatin1Char('/')) + 1);
            if (!QFile::exists(link))
                QFile::link(original, link);
            paths << link;
        }
        return paths;
    }

    const QString &dng()
    {
        if (m_dng.isEmpty()) {
            m_dng = m_dir.filePath(QStringLiteral("bayer.dng"));
            writeDng(m_dng, 3000, 2000, photoLike(1024, 683, 3));
        }
        return m_dng;
    }

private:
    static QDir keptFolder(const QString &name)
    {
        QDir dir(QStringLiteral(KELVANE_BENCH_CORPUS_DIR "/") + name);
        dir.mkpath(QStringLiteral("."));
        return dir;
    }

    // Written under another name first: a run stopped half-way never leaves
    // a truncated file that later runs would take as done.
    static void publishJpeg(const QString &path, const QImage &picture, int quality)
    {
        const QString partial = path + QStringLiteral(".part");
        writeJpeg(partial, picture, quality);
        QFile::rename(partial, path);
    }

    QTemporaryDir m_dir;
    QString m_jpeg24MP;
    QString m_jpegWithStub;
    QString m_dng;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void BM_ThumbnailJpeg24MP(benchmark::State &state)
{
    const QString path = Fixtures::instance().jpeg24MP();
    for (auto _ : state) {
        const QImage image = ImageLoader::decodeThumbnail(path, 320);
        if (image.width() != 320)
            state.SkipWithError("thumbnail has the wrong size");
        benchmark::DoNotOptimize(image.constBits());
    }
}

// From the file to the sharp thumbnail: the stored 160-pixel one is too
// small for the cell, so the main picture is decoded as well.
void BM_ThumbnailFromStoredStub(benchmark::State &state)
{
    const QString path = Fixtures::instance().jpegWithStoredStub();
    for (auto _ : state) {
        const QImage image = ImageLoader::decodeThumbnail(path, 320);
        if (image.width() != 320)
            state.SkipWithError("thumbnail has the wrong size");
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_LibjpegScaledDecode(benchmark::State &state)
{
    const QByteArray jpeg = readAll(Fixtures::instance().jpeg24MP());
    tjhandle tj = tjInitDecompress();
    const tjscalingfactor eighth{1, 8};
    for (auto _ : state) {
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
        tjDecompressHeader3(tj, data, jpeg.size(), &width, &height, &subsampling, &colourspace);
        QImage image(TJSCALED(width, eighth), TJSCALED(height, eighth), QImage::Format_RGB32);
        tjDecompress2(tj, data, jpeg.size(), image.bits(), image.width(), int(image.bytesPerLine()),
                      image.height(), TJPF_BGRX, 0);
        benchmark::DoNotOptimize(image.constBits());
    }
    tjDestroy(tj);
}

void BM_LoadImageJpeg24MP(benchmark::State &state)
{
    const QString path = Fixtures::instance().jpeg24MP();
    for (auto _ : state) {
        const QImage image = RAWProcessor::loadImageSync(path);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_LibjpegFullDecode(benchmark::State &state)
{
    const QByteArray jpeg = readAll(Fixtures::instance().jpeg24MP());
    tjhandle tj = tjInitDecompress();
    for (auto _ : state) {
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
        tjDecompressHeader3(tj, data, jpeg.size(), &width, &height, &subsampling, &colourspace);
        QImage image(width, height, QImage::Format_RGB32);
        tjDecompress2(tj, data, jpeg.size(), image.bits(), width, int(image.bytesPerLine()), height,
                      TJPF_BGRX, 0);
        benchmark::DoNotOptimize(image.constBits());
    }
    tjDestroy(tj);
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double wallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// All files through a fresh loader (empty cache), waiting for every result.
// cores_busy: process CPU time over wall time, how many cores the pool kept
// busy (other load on the machine lowers it).
void runBatch(benchmark::State &state, int threads)
{
    const QStringList paths = Fixtures::instance().batch(200, 1600, 1200);
    QList<ImageItem> items;
    for (const QString &path : paths)
        items << ImageItem(path);
    const double cpuStart = processCpuSeconds();
    const double wallStart = wallSeconds();
    for (auto _ : state) {
        WorkQueues queues;
        if (threads > 0)
            queues.decode().setMaxThreadCount(threads);
        ImageLoader loader(queues);
        loader.setDiskCacheRoot({}); // every file decoded
        int done = 0;
        QEventLoop loop;
        QObject::connect(&loader, &ImageLoader::thumbnailReady, &loop, [&] {
            if (++done == items.size())
                loop.quit();
        });
        for (const ImageItem &item : items)
            loader.loadThumbnail(item, 320);
        loop.exec();
    }
    state.counters["cores_busy"] = (processCpuSeconds() - cpuStart) / (wallSeconds() - wallStart);
    state.SetItemsProcessed(state.iterations() * items.size());
}

void BM_ThumbnailBatch(benchmark::State &state)
{
    runBatch(state, 0); // the pool's default: one thread per core
}

void BM_ThumbnailBatch1Thread(benchmark::State &state)
{
    runBatch(state, 1);
}

void BM_RawPreview(benchmark::State &state)
{
    const QString path = sample(QStringLiteral("raw/fujifilm_s5pro_stripped.raf"));
    if (!QFile::exists(path)) {
        state.SkipWithError("sample RAW files not available");
        return;
    }
    for (auto _ : state) {
        const QImage image = RAWProcessor::loadImageSync(path);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_DecodeRAW(benchmark::State &state)
{
    const QString path = Fixtures::instance().dng();
    WorkQueues queues;
    RAWProcessor processor(queues);
    for (auto _ : state) {
        const QImage image = processor.decodeRAW(path).result();
        if (image.size() != QSize(3000, 2000))
            state.SkipWithError("development has the wrong size");
        benchmark::DoNotOptimize(image.constBits());
    }
}

// A line of /proc/self/status in bytes: VmRSS (now) or VmHWM (peak).
qint64 statusBytes(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong() * 1024;
    return 0;
}

qint64 residentBytes()
{
    return statusBytes("VmRSS:");
}

// Every path through a fresh loader, waiting for all results.
void loadAll(ImageLoader &loader, const QStringList &paths, qreal maxSize)
{
    int done = 0;
    QEventLoop loop;
    QObject::connect(&loader, &ImageLoader::thumbnailReady, &loop, [&](const QString &path) {
        if (!loader.isLoading(path) && ++done == paths.size())
            loop.quit();
    });
    for (const QString &path : paths)
        loader.loadThumbnail(ImageItem(path), maxSize);
    loop.exec();
}

// A folder opened again: 32 cells on screen, distinct 24-megapixel JPEGs
// without stored thumbnails. cold: the shared thumbnail cache is empty (each
// file decoded, and written there); warm: filled by a cold run, so only the
// memory cache starts empty.
void BM_ReopenScreenful(benchmark::State &state, bool warm)
{
    const QStringList paths = Fixtures::instance().distinct24MP(32);
    QTemporaryDir cacheDir;
    const QString root = cacheDir.filePath(QStringLiteral("thumbnails"));
    if (warm) {
        WorkQueues fillerQueues;
        ImageLoader filler(fillerQueues);
        filler.setDiskCacheRoot(root);
        loadAll(filler, paths, 320);
    }
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            QDir(root).removeRecursively();
            state.ResumeTiming();
        }
        WorkQueues queues;
        ImageLoader loader(queues);
        loader.setDiskCacheRoot(root);
        loadAll(loader, paths, 320);
        if (!loader.cachedThumbnail(paths.last()))
            state.SkipWithError("a thumbnail is missing");
    }
    state.SetItemsProcessed(state.iterations() * paths.size());
}

// Thumbnails of 45-megapixel sources on every core: how far the peak
// resident memory rises above what the process held before. The peak is set
// by the decodes running at once, not by how many follow: 30 sources give
// the figure 100 did, in a third of the time.
void BM_ThumbnailPeakMemory(benchmark::State &state)
{
    // Argument: -1 every kind in turn, else only the DNG (0), PNG (1) or WebP (2).
    const QStringList paths = Fixtures::instance().sources45MP(30, int(state.range(0)));
    for (auto _ : state) {
        WorkQueues queues;
        ImageLoader loader(queues);
        loader.setDiskCacheRoot({});
        // Memory freed earlier (writing the sources, an earlier run) goes back
        // to the system first, or the jobs would reuse it unseen.
        malloc_trim(0);
        // Writing 5 resets the peak (VmHWM) to the current resident size.
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
        clear.close();
        const qint64 before = residentBytes();
        loadAll(loader, paths, 320);
        state.counters["peak_rss_growth_mb"] =
            double(statusBytes("VmHWM:") - before) / (1024.0 * 1024.0);
        int missing = 0;
        for (const QString &path : paths)
            missing += loader.cachedThumbnail(path) ? 0 : 1;
        if (missing > 0)
            state.SkipWithError("thumbnails are missing");
    }
}

// Memory held by 2,000 cached 320-pixel thumbnails of 4:3 photos.
void BM_ThumbnailCacheMemory2000(benchmark::State &state)
{
    const QStringList paths = Fixtures::instance().batch(2000, 640, 480);
    for (auto _ : state) {
        WorkQueues queues;
        ImageLoader loader(queues);
        loader.setDiskCacheRoot({});
        const qint64 before = residentBytes();
        int done = 0;
        QEventLoop loop;
        QObject::connect(&loader, &ImageLoader::thumbnailReady, &loop, [&] {
            if (++done == paths.size())
                loop.quit();
        });
        for (const QString &path : paths)
            loader.loadThumbnail(ImageItem(path), 320);
        loop.exec();
        qint64 pixelBytes = 0;
        for (const QString &path : paths)
            pixelBytes += loader.cachedThumbnail(path).value_or(QImage()).sizeInBytes();
        state.counters["pixel_MB"] = double(pixelBytes) / (1024.0 * 1024.0);
        state.counters["rss_growth_MB"] = double(residentBytes() - before) / (1024.0 * 1024.0);
    }
}

// Hostile files: each far smaller than what it declares. The thumbnail (or
// the shared cache's lookup, or the RAW development) of each must be refused
// or reduced quickly, without the memory its declared size would take.
enum class Hostile {
    pngOverLimit,
    pngFlat,
    jpegEmptyScans,
    gifCanvas,
    tiffFlat,
    cacheEntry,
    carvedJpeg,
    damagedRaw
};

class HostileCase
{
public:
    explicit HostileCase(Hostile kind)
        : m_kind(kind)
    {
        using namespace HostileFiles;
        ImageDecoder::initialiseLibraries(); // Qt's allocation limit, as the program has it
        const auto write = [this](const QString &name, const QByteArray &bytes) {
            m_path = m_dir.filePath(name);
            return writeSparse(m_path, bytes, bytes.size());
        };
        switch (kind) {
        case Hostile::pngOverLimit:
            m_ready = write(QStringLiteral("limit.png"), flatPng(QSize(30000, 30000)));
            break;
        case Hostile::pngFlat:
            m_ready = write(QStringLiteral("flat.png"), flatPng(QSize(12000, 12000)));
            break;
        case Hostile::jpegEmptyScans:
            m_ready = write(QStringLiteral("scans.jpg"),
                            progressiveJpeg(QSize(64, 48), QSize(12000, 12000), 200));
            break;
        case Hostile::gifCanvas:
            m_ready = write(QStringLiteral("canvas.gif"), tinyGif(QSize(14000, 14000)));
            break;
        case Hostile::tiffFlat:
            m_ready = write(QStringLiteral("flat.tif"), flatTiff(QSize(12000, 12000)));
            break;
        case Hostile::cacheEntry: {
            m_path =
                writeJpeg(m_dir.filePath(QStringLiteral("photo.jpg")), quadrantPicture(800, 600));
            const ThumbnailDiskCache cache(m_dir.filePath(QStringLiteral("thumbnails")));
            m_stamp = cache.stampOf(m_path);
            const QString entry = cache.thumbnailPath(m_stamp, 512);
            QDir().mkpath(QFileInfo(entry).path());
            const QByteArray png =
                flatPng(QSize(15000, 15000), {{"Thumb::URI", m_stamp.uri.toUtf8()},
                                              {"Thumb::MTime", QByteArray::number(m_stamp.mtime)}});
            m_ready = writeSparse(entry, png, png.size());
            break;
        }
        case Hostile::carvedJpeg:
            m_path = m_dir.filePath(QStringLiteral("carved.jpg"));
            m_ready = writeSparse(m_path, jpegBytes(quadrantPicture(640, 480)), qint64(2) << 30);
            break;
        case Hostile::damagedRaw:
            m_ready = write(QStringLiteral("damaged.iiq"), damagedIiq(3364));
            break;
        }
    }

    bool isReady() const { return m_ready; }

    // True when the outcome is a refusal or a small picture, as it must be.
    bool run()
    {
        switch (m_kind) {
        case Hostile::cacheEntry: {
            const ThumbnailDiskCache cache(m_dir.filePath(QStringLiteral("thumbnails")));
            return cache.find(m_stamp, 320).verdict == ThumbnailDiskCache::Verdict::miss;
        }
        case Hostile::damagedRaw:
            try {
                WorkQueues queues;
                RAWProcessor(queues).decodeRAW(m_path).result();
                return false;
            } catch (const ImageLoadError &) {
                return true;
            }
        default: {
            const QImage thumbnail = ImageLoader::decodeThumbnail(m_path, 320);
            return thumbnail.isNull() || qMax(thumbnail.width(), thumbnail.height()) <= 320;
        }
        }
    }

private:
    Hostile m_kind;
    QTemporaryDir m_dir;
    QString m_path;
    ThumbnailDiskCache::Stamp m_stamp;
    bool m_ready = false;
};

void BM_HostileThumbnails(benchmark::State &state)
{
    HostileCase hostile(Hostile(state.range(0)));
    if (!hostile.isReady()) {
        state.SkipWithError("the hostile file could not be written");
        return;
    }
    qint64 peakGrowth = 0;
    for (auto _ : state) {
        malloc_trim(0);
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5"); // the peak (VmHWM) starts again from now
        clear.close();
        const qint64 before = residentBytes();
        if (!hostile.run())
            state.SkipWithError("a hostile file was decoded in full");
        peakGrowth = qMax(peakGrowth, statusBytes("VmHWM:") - before);
    }
    state.counters["peak_rss_growth_mb"] = double(peakGrowth) / (1024.0 * 1024.0);
}

} // namespace

BENCHMARK(BM_ThumbnailJpeg24MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbnailFromStoredStub)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegScaledDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadImageJpeg24MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegFullDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbnailBatch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThumbnailBatch1Thread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReopenScreenful, cold, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReopenScreenful, warm, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRAW)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThumbnailCacheMemory2000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ThumbnailPeakMemory)
    ->Arg(-1)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
// One run per hostile file, in the order of the Hostile enumeration.
BENCHMARK(BM_HostileThumbnails)
    ->DenseRange(0, int(Hostile::damagedRaw))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    // The shared thumbnail cache of these runs is a temporary one, never the user's.
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
