#include "HostileFiles.h"
#include "ImagingFixtures.h"
#include "imaging/EXIFReader.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageLoadError.h"
#include "imaging/ImageLoader.h"
#include "imaging/RAWProcessor.h"
#include "imaging/RawWorkLimit.h"
#include "imaging/ThumbnailDiskCache.h"
#include "model/FolderScanner.h"
#include "model/WorkQueues.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace ImagingFixtures;
using namespace HostileFiles;

namespace {

constexpr std::optional decodeFailed = ImageLoadError::Kind::decodeFailed;

struct FullLoad
{
    QImage image;
    std::optional<ImageLoadError::Kind> error;
};

FullLoad loadFull(const QString &path, DecodeFailureMemory *failures = nullptr)
{
    try {
        return {ImageDecoder::fullImage(path, failures), std::nullopt};
    } catch (const ImageLoadError &error) {
        return {{}, error.kind()};
    }
}

std::optional<ImageLoadError::Kind> developError(RAWProcessor &processor, const QString &path)
{
    try {
        processor.decodeRAW(path).result();
        return std::nullopt;
    } catch (const ImageLoadError &error) {
        return error.kind();
    }
}

// The rise of the resident memory's peak while `work` runs, in bytes.
qint64 peakGrowth(const std::function<void()> &work)
{
    const auto status = [](const QByteArray &key) {
        const QByteArray text = readBytes(QStringLiteral("/proc/self/status"));
        const qsizetype at = text.indexOf(key) + key.size();
        return text.mid(at, text.indexOf('\n', at) - at).trimmed().split(' ')[0].toLongLong() *
               1024;
    };
    writeBytes(QStringLiteral("/proc/self/clear_refs"), "5"); // the peak starts again from now
    const qint64 before = status("VmRSS:");
    work();
    return status("VmHWM:") - before;
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    WorkQueues m_queues;
    RAWProcessor m_processor{m_queues};
    QString file(const QString &name) const { return m_dir.filePath(name); }
    // Every entry point on one file: no crash or hang, a full load an image or decodeFailed.
    void exerciseAll(const QString &path)
    {
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QVERIFY(thumbnail.isNull() || qMax(thumbnail.width(), thumbnail.height()) <= 320);
        const FullLoad full = loadFull(path);
        QVERIFY(full.error ? full.error == decodeFailed : !full.image.isNull());
        const auto developed = developError(m_processor, path);
        QVERIFY(!developed || *developed != ImageLoadError::Kind::unsupportedFormat);
        EXIFReader::read(path);
    }

private Q_SLOTS:
    void zeroByteFilesOfEveryFamily_data()
    {
        QTest::addColumn<QString>("extension");
        for (const char *ext :
             {"jpg", "png", "heic", "avif", "tif", "webp", "gif", "bmp", "nef", "cr2", "cr3",
              "dng", "arw", "raf",  "orf",  "rw2", "pef",  "srw", "3fr", "svg", "ico"})
            QTest::newRow(ext) << QString::fromLatin1(ext);
    }
    void zeroByteFilesOfEveryFamily()
    {
        QFETCH(QString, extension);
        const QString path = file(QStringLiteral("empty.") + extension);
        QVERIFY(writeBytes(path, {}));
        QVERIFY(ImageLoader::decodeThumbnail(path, 320).isNull());
        QCOMPARE(loadFull(path).error, decodeFailed);
        QCOMPARE(developError(m_processor, path),
                 std::optional(ImageLoadError::Kind::sourceCreationFailed));
        QCOMPARE(EXIFReader::read(path), EXIFData());
    }
    void truncatedFilesOfEveryFamily_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<double>("fraction");
        for (const char *kind : {"jpg", "png", "tif", "webp", "bmp", "heic", "avif", "dng"})
            for (double fraction : {0.02, 0.3, 0.7})
                QTest::addRow("%s %.2f", kind, fraction) << QString::fromLatin1(kind) << fraction;
    }
    void truncatedFilesOfEveryFamily()
    {
        QFETCH(QString, kind);
        QFETCH(double, fraction);
        const QString whole = file(QStringLiteral("whole.") + kind);
        const QImage picture = quadrantPicture(640, 480);
        if (kind == QLatin1String("heic") || kind == QLatin1String("avif"))
            QVERIFY(writeHeif(whole, picture, kind == QLatin1String("avif"), 1, 0, 1, 160));
        else if (kind == QLatin1String("dng"))
            QVERIFY(writeDng(whole, 640, 480, picture));
        else
            QVERIFY(picture.save(whole, kind.toLatin1().constData()));
        const QByteArray bytes = readBytes(whole);
        const QString cut = file(QStringLiteral("cut_%1.%2").arg(int(fraction * 100)).arg(kind));
        QVERIFY(writeBytes(cut, bytes.left(qsizetype(bytes.size() * fraction))));
        exerciseAll(cut);
    }
    void mislabelledFiles()
    {
        for (const auto &[name, format] :
             {std::pair{"png_named.jpg", "png"}, {"jpeg_named.nef", "jpeg"}}) {
            const QString path = file(QString::fromLatin1(name));
            QVERIFY(quadrantPicture(300, 200).save(path, format));
            QVERIFY(hasUprightQuadrants(ImageLoader::decodeThumbnail(path, 320)));
            QVERIFY(hasUprightQuadrants(loadFull(path).image));
        }
        const QString heicAsPng = file(QStringLiteral("heic_named.png"));
        QVERIFY(writeHeif(heicAsPng, quadrantPicture(300, 200), false));
        QVERIFY(hasUprightQuadrants(loadFull(heicAsPng).image));
    }
    void failedDecodesAreRememberedUntilTheFileChanges()
    {
        // A 12-bit JPEG (libjpeg built for 8 bits refuses it), then a good 8-bit one.
        const QByteArray good = jpegBytes(quadrantPicture(64, 48));
        QByteArray twelveBit = good;
        twelveBit[twelveBit.indexOf("\xFF\xC0") + 4] = 12; // SOF0 precision
        const QString path = file(QStringLiteral("twelve_bit.jpg"));
        QVERIFY(writeBytes(path, twelveBit));
        DecodeFailureMemory memory;
        const auto thumbnail = [&] { return ImageDecoder::thumbnail(path, 320, {}, {}, &memory); };
        QVERIFY(thumbnail().isNull());
        QCOMPARE(loadFull(path, &memory).error, decodeFailed);
        struct stat failed;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &failed), 0);
        // Good bytes with the same size and time: not tried again.
        QVERIFY(writeBytes(path, good));
        const struct timespec times[2] = {failed.st_atim, failed.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        QVERIFY(thumbnail().isNull());
        QCOMPARE(loadFull(path, &memory).error, decodeFailed);
        QVERIFY(hasUprightQuadrants(ImageLoader::decodeThumbnail(path, 320)));
        const struct timespec later[2] = {failed.st_atim, {failed.st_mtim.tv_sec + 60, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), later, 0), 0);
        QVERIFY(hasUprightQuadrants(thumbnail()));
        QVERIFY(hasUprightQuadrants(loadFull(path, &memory).image));
    }
    void rawOutOfTimeIsTriedAgain()
    {
        // Only the sensor data can give a picture: the preview's bytes are spoilt.
        const QImage stub = filled(QSize(8, 8), Qt::green);
        const QString path = file(QStringLiteral("out_of_time.dng"));
        QVERIFY(writeDng(path, 320, 240, stub));
        QByteArray dng = readBytes(path);
        const QByteArray preview = jpegBytes(stub, 90);
        QVERIFY(dng.contains(preview));
        dng.replace(preview, QByteArray(preview.size(), 'x'));
        QVERIFY(writeBytes(path, dng));
        DecodeFailureMemory memory;
        RawWorkLimit::setTimeLimitForTests(std::chrono::milliseconds(0));
        auto restore = qScopeGuard([] { RawWorkLimit::setTimeLimitForTests(std::nullopt); });
        QCOMPARE(loadFull(path, &memory).error, decodeFailed);
        QVERIFY(ImageDecoder::thumbnail(path, 100, {}, {}, &memory).isNull());
        restore.dismiss();
        RawWorkLimit::setTimeLimitForTests(std::nullopt);
        QCOMPARE(loadFull(path, &memory).image.size(), QSize(320, 240));
        QVERIFY(!ImageDecoder::thumbnail(path, 100, {}, {}, &memory).isNull());
    }
    void decompressionBombsAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        // PNG: a lone IHDR declaring 100000 x 100000 pixels.
        QByteArray ihdr =
            bigEndian32(100000) + bigEndian32(100000) + QByteArray("\x08\x02\x00\x00\x00", 5);
        const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunkOf("IHDR", ihdr) +
                               pngChunkOf("IDAT", QByteArray(16, '\0')) + pngChunkOf("IEND", {});
        QTest::newRow("png") << "bomb.png" << png;
        QByteArray jpeg = jpegBytes(quadrantPicture(64, 48));
        const qsizetype sof = jpeg.indexOf("\xFF\xC0");
        QVERIFY(sof > 0);
        jpeg[sof + 5] = char(0xFD), jpeg[sof + 6] = char(0xE8);
        jpeg[sof + 7] = char(0xFD), jpeg[sof + 8] = char(0xE8);
        QTest::newRow("jpeg") << "bomb.jpg" << jpeg;
        QTest::newRow("jpeg named nef") << "bomb.nef" << jpeg;
        const QByteArray bmp = "BM" + le32(54) + le32(0) + le32(54) + le32(40) + le32(60000) +
                               le32(60000) + le16(1) + le16(24) + QByteArray(24, '\0');
        QTest::newRow("bmp") << "bomb.bmp" << bmp;
        QVERIFY(
            writeHeif(file(QStringLiteral("heic_source.heic")), quadrantPicture(64, 48), false));
        QByteArray heic = readBytes(file(QStringLiteral("heic_source.heic")));
        for (qsizetype ispe = heic.indexOf("ispe"); ispe > 0; ispe = heic.indexOf("ispe", ispe + 1))
            heic.replace(ispe + 8, 8, bigEndian32(4352) + bigEndian32(4352));
        QTest::newRow("heic") << "bomb.heic" << heic;
        // Flat pictures far beyond what their bytes can hold, or too many scans.
        QTest::newRow("png over the pixel limit") << "limit.png" << flatPng(QSize(15000, 15000));
        QTest::newRow("png flat") << "flat.png" << flatPng(QSize(12000, 12000));
        QTest::newRow("tiff flat") << "flat.tif" << flatTiff(QSize(12000, 12000));
        QTest::newRow("gif canvas") << "canvas.gif" << tinyGif(QSize(14000, 14000));
        QTest::newRow("jpeg empty scans, large")
            << "scans_large.jpg" << progressiveJpeg(QSize(64, 48), QSize(12000, 12000), 200);
        QTest::newRow("jpeg empty scans")
            << "scans.jpg" << progressiveJpeg(QSize(64, 48), QSize(64, 48), 1000);
    }
    void decompressionBombsAreRefused()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = file(name);
        QVERIFY(writeBytes(path, bytes));
        QVERIFY(ImageLoader::decodeThumbnail(path, 320).isNull());
        QCOMPARE(loadFull(path).error, decodeFailed);
    }
    void decodesStopWhenNoLongerWanted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("progressive jpeg")
            << "stopped.jpg" << progressiveJpeg(QSize(64, 48), QSize(64, 48), 150);
        QBuffer png;
        QVERIFY(png.open(QIODevice::WriteOnly) && quadrantPicture(600, 400).save(&png, "png"));
        QTest::newRow("png") << "stopped.png" << png.data();
    }
    void decodesStopWhenNoLongerWanted()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = file(name);
        QVERIFY(writeBytes(path, bytes));
        DecodeFailureMemory &memory = m_queues.decodeFailures();
        const auto wanted = [] { return true; };
        QVERIFY(!ImageDecoder::thumbnail(path, 320, {}, wanted, &memory).isNull());
        int asked = 0;
        const auto wantedThrice = [&asked] { return ++asked <= 3; };
        QVERIFY(ImageDecoder::thumbnail(path, 320, {}, wantedThrice, &memory).isNull());
        asked = 0;
        const bool jpeg = name.endsWith(QLatin1String(".jpg"));
        QVERIFY(!jpeg ||
                ImageDecoder::fullImage(path, QSize(), {}, wantedThrice, m_queues).isNull());
        // Stopped is not failed: the memory does not take it for one.
        QVERIFY(!ImageDecoder::thumbnail(path, 320, {}, wanted, &memory).isNull());
        QVERIFY(!jpeg || !ImageDecoder::fullImage(path, QSize(), {}, wanted, m_queues).isNull());
    }
    void carvedFilesAreNotReadWhole()
    {
        // A photo at the start of 2 GB (sparse), as a recovery tool carves it.
        const QString carved = file(QStringLiteral("carved.jpg"));
        QVERIFY(writeSparse(carved, jpegBytes(quadrantPicture(640, 480)), qint64(2) << 30));
        QVERIFY(ImageLoader::decodeThumbnail(carved, 320).isNull());
        QCOMPARE(loadFull(carved).error, decodeFailed);
        // Within the limit it shows, read no further than its frame can use.
        QVERIFY(QFile::resize(carved, qint64(600) << 20));
        QImage thumbnail;
        const qint64 growth =
            peakGrowth([&] { thumbnail = ImageLoader::decodeThumbnail(carved, 320); });
        QVERIFY(hasUprightQuadrants(thumbnail));
        QVERIFY2(growth < (qint64(100) << 20), qPrintable(QString::number(growth >> 20)));
    }
    void sharedCacheEntriesAreCheckedBeforeReading()
    {
        const QString photo =
            writeJpeg(file(QStringLiteral("cached.jpg")), quadrantPicture(800, 600));
        ImageDecoder::initialiseLibraries(); // Qt's allocation limit, as the program has it
        const ThumbnailDiskCache cache(file(QStringLiteral("thumbnails")));
        const ThumbnailDiskCache::Stamp stamp = cache.stampOf(photo);
        const QString entry = cache.thumbnailPath(stamp, 512);
        QVERIFY(QDir().mkpath(QFileInfo(entry).path()));
        // Another program's entry for this very file, far larger than its folder's side.
        QVERIFY(writeBytes(entry, flatPng(QSize(15000, 15000),
                                          {{"Thumb::URI", stamp.uri.toUtf8()},
                                           {"Thumb::MTime", QByteArray::number(stamp.mtime)}})));
        QCOMPARE(cache.find(stamp, 320).verdict, ThumbnailDiskCache::Verdict::miss);
        // FIFOs where an entry and a failure mark belong must not hold the reader.
        QVERIFY(QFile::remove(entry));
        QVERIFY(QDir().mkpath(QFileInfo(cache.failurePath(stamp)).path()));
        for (const QString &path : {entry, cache.failurePath(stamp)})
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QCOMPARE(cache.find(stamp, 320).verdict, ThumbnailDiskCache::Verdict::miss);
    }
    void damagedRawDevelopmentEnds()
    {
        // LibRaw counts the entries of a zeroed Phase One directory down from 2^32.
        const QString damaged = file(QStringLiteral("damaged.iiq"));
        QVERIFY(writeBytes(damaged, damagedIiq(3364)));
        QCOMPARE(developError(m_processor, damaged), decodeFailed);
        exerciseAll(damaged);
        // So large that its budget lasts minutes: it ends only when no longer wanted.
        const QString large = file(QStringLiteral("damaged_large.iiq"));
        QVERIFY(writeSparse(large, damagedIiq(16), qint64(1) << 28));
        auto processor = std::make_unique<RAWProcessor>(m_queues);
        QFuture<QImage> left = processor->decodeRAW(large);
        left.cancel();
        QTRY_VERIFY(left.isFinished());
        // Quitting: the processor goes while it develops, and waits for nothing.
        const QFuture<QImage> abandoned = processor->decodeRAW(large);
        processor.reset();
        QTRY_VERIFY(abandoned.isFinished());
        m_queues.processorRetirement().waitForDone();
    }
    void hundredMegapixelPhotoLoads()
    {
        // 12000 x 8400 = 100.8 megapixels, above Qt's default allocation limit.
        QImage big(12000, 8400, QImage::Format_RGB32);
        big.fill(Qt::darkCyan);
        QPainter(&big).fillRect(0, 0, 6000, 4200, Qt::yellow);
        const QString path = file(QStringLiteral("100mp.jpg"));
        QVERIFY(!writeJpeg(path, big, 50).isEmpty());
        big = QImage();
        QCOMPARE(loadFull(path).image.size(), QSize(12000, 8400));
        const QString png = file(QStringLiteral("100mp_named.png"));
        QVERIFY(QFile::rename(path, png)); // through Qt's reader instead of TurboJPEG
        QCOMPARE(loadFull(png).image.size(), QSize(12000, 8400));
    }
    void namesThatAreNotUtf8AreListedAndLoad()
    {
        // "café/été.jpg" in Latin-1 (an old camera card, a Windows share): not UTF-8.
        const QByteArray parent = QFile::encodeName(file(QStringLiteral("latin1")));
        const QByteArray folder = parent + "/caf\xE9", name = folder + "/\xE9t\xE9.jpg";
        QVERIFY(::mkdir(parent.constData(), 0700) == 0 && ::mkdir(folder.constData(), 0700) == 0);
        const QByteArray bytes = jpegBytes(quadrantPicture(600, 400));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
        const FolderNode tree =
            FolderScanner::scanFolder(QUrl::fromLocalFile(QFile::decodeName(parent)), true);
        QCOMPARE(tree.children.size(), 1);
        const FolderNode &child = tree.children[0];
        QCOMPARE(child.images.size(), 1);
        QVERIFY(FolderScanner::canList(child.url));
        QCOMPARE(FolderScanner::scanFolder(child.url, false).images.size(), 1);
        const QString path = child.images[0].path();
        QVERIFY(hasUprightQuadrants(ImageDecoder::fullImage(path)));
        ImageLoader loader(m_queues);
        loader.setDiskCacheRoot(file(QStringLiteral("latin1-cache")));
        const QFuture<QImage> loading = loader.loadThumbnail(child.images[0], 320);
        QTRY_VERIFY(loading.isFinished());
        QVERIFY(hasUprightQuadrants(loading.result()));
        // QDir cannot remove what it cannot name.
        QVERIFY(::unlink(name.constData()) == 0 && ::rmdir(folder.constData()) == 0);
    }
    // Field samples, when present: pictures within the size asked, broken ones no crash.
    void samples_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("landscape"); // -1: either; -2: may fail
        for (const char *name :
             {"other/static.gif", "other/animated.gif", "other/rgb8.tif", "other/rgb16.tiff",
              "other/rgb24.bmp", "other/rgba32.bmp", "other/rgba_alpha.png", "other/logo.svg",
              "other/multisize_16_32_48.ico", "webp/photo_lossy_vp8.webp",
              "webp/alpha_lossless_vp8l.webp", "webp/animated_lossy.webp", "jpeg/no_exif.jpg",
              "heif/apple_iphone11promax_gps.heic", "avif/olympus_epl8_exif.avif"})
            QTest::newRow(name) << QString::fromLatin1(name) << -1;
        for (int n = 0; n <= 8; ++n)
            for (const auto &[shape, landscape] : {std::pair{"landscape", 1}, {"portrait", 0}})
                QTest::addRow("%s_%d", shape, n)
                    << QStringLiteral("orientation/%1_%2.jpg").arg(shape).arg(n) << landscape;
        for (const QString &folder : {QStringLiteral("broken"), QStringLiteral("raw")})
            for (const QString &name : QDir(sample(folder)).entryList(QDir::Files))
                QTest::newRow(qPrintable(name)) << folder + u'/' + name << -2;
    }
    void samples()
    {
        QFETCH(QString, name);
        QFETCH(int, landscape);
        const QString path = sample(name);
        if (!QFile::exists(path))
            QSKIP("sample files not available");
        if (landscape == -2) {
            exerciseAll(path);
            // None of the RAW samples holds complete sensor data LibRaw can develop.
            if (name.startsWith(QLatin1String("raw/")))
                QVERIFY(developError(m_processor, path).has_value());
            for (const char *unloadable : {"bomb", "header_only", "seek_too_large", "garbage"})
                if (name.contains(QLatin1String(unloadable)))
                    QCOMPARE(loadFull(path).error, decodeFailed);
            return;
        }
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, landscape < 0 ? 64 : 320);
        const int longest = qMax(thumbnail.width(), thumbnail.height());
        QVERIFY(!thumbnail.isNull() && longest <= (landscape < 0 ? 64 : 320));
        if (landscape >= 0)
            QCOMPARE((QList<int>{longest, thumbnail.width() > thumbnail.height()}),
                     (QList<int>{320, landscape}));
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
