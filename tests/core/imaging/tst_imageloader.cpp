#include "ImagingFixtures.h"
#include "imaging/ImageBuffer.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageLoader.h"
#include "imaging/ImageOrientation.h"
#include "imaging/JpegDecoder.h"
#include "imaging/ThumbnailDiskCache.h"
#include "imaging/ThumbnailJobQueue.h"
#include "model/FolderScanner.h"
#include "model/WorkQueues.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ImagingFixtures;

namespace {

QImage waitFor(QFuture<QImage> future)
{
    if (!QTest::qWaitFor([&] { return future.isFinished(); }, 20000))
        return QImage(1, 1, QImage::Format_Mono); // a sentinel the checks reject
    return future.result();
}

// What another program would find for `path` in the shared cache.
QString sharedEntry(const QString &root, const QString &folder, const QString &path)
{
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    return root + QLatin1Char('/') + folder + QLatin1Char('/') +
           QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png";
}

qint64 mtimeOf(const QString &path)
{
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

// `bytes` in a file last modified at `modified`.
void writeDated(const QString &path, const QByteArray &bytes, const QDateTime &modified)
{
    QVERIFY(writeBytes(path, bytes));
    QFile out(path);
    QVERIFY(out.open(QIODevice::ReadWrite));
    QVERIFY(out.setFileTime(modified, QFileDevice::FileModificationTime));
}

} // namespace

class TestImageLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    WorkQueues m_queues;
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString photo(const QString &name, int width = 1200, int height = 800)
    {
        return writeJpeg(file(name), quadrantPicture(width, height));
    }
    // The quadrant picture of `size` stored as a camera does with EXIF orientation n.
    QString orientedPhoto(const QString &name, QSize size, int n, const char *format = "jpeg")
    {
        const QString path = file(name);
        if (!storedForOrientation(quadrantPicture(size.width(), size.height()), n)
                 .save(path, format))
            return {};
        editExif(path,
                 [&](Exiv2::ExifData &exif) { exif["Exif.Image.Orientation"] = uint16_t(n); });
        return path;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void thumbnailSizeBounds_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<qreal>("maxSize");
        QTest::addColumn<QSize>("expected"); // 0 x 0: no image
        QTest::newRow("landscape") << QSize(1000, 500) << 320.0 << QSize(320, 160);
        QTest::newRow("portrait") << QSize(500, 1000) << 320.0 << QSize(160, 320);
        QTest::newRow("square exact") << QSize(320, 320) << 320.0 << QSize(320, 320);
        QTest::newRow("small not enlarged") << QSize(200, 100) << 320.0 << QSize(200, 100);
        QTest::newRow("fractional size") << QSize(1000, 1000) << 99.7 << QSize(99, 99);
        QTest::newRow("one by many") << QSize(1, 3000) << 320.0 << QSize(1, 320);
        QTest::newRow("zero") << QSize(100, 80) << 0.0 << QSize(0, 0);
        QTest::newRow("negative") << QSize(100, 80) << -5.0 << QSize(0, 0);
        QTest::newRow("NaN") << QSize(100, 80) << qQNaN() << QSize(0, 0);
    }
    void thumbnailSizeBounds()
    {
        QFETCH(QSize, source);
        QFETCH(qreal, maxSize);
        QFETCH(QSize, expected);
        const QString path =
            photo(QStringLiteral("bounds_%1.jpg").arg(QString::fromLatin1(QTest::currentDataTag())),
                  source.width(), source.height());
        QCOMPARE(ImageLoader::decodeThumbnail(path, maxSize).size(), expected);
    }
    // The EXIF orientation of every container that carries one.
    void thumbnailsAreUpright_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation");
        for (int n = 1; n <= 8; ++n)
            QTest::addRow("jpeg %d", n) << "jpeg" << n;
        for (int n : {3, 6, 8}) {
            QTest::addRow("webp %d", n) << "webp" << n;
            QTest::addRow("tiff %d", n) << "tiff" << n;
        }
    }
    void thumbnailsAreUpright()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        const QString path =
            orientedPhoto(QStringLiteral("orient%1.%2").arg(orientation).arg(format),
                          QSize(600, 400), orientation, format.toLatin1().constData());
        QVERIFY(!path.isEmpty());
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(thumbnail.size(), QSize(320, 213));
        QVERIFY(hasUprightQuadrants(thumbnail));
    }
    // The viewer's quick first picture: the smallest DCT scale that still has
    // a pixel for every view pixel once fitted, upright, with the full size.
    void standInCoversTheView_data()
    {
        QTest::addColumn<QSize>("view");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("standIn"); // 0 x 0: none, decode in full
        QTest::addRow("quarter") << QSize(800, 600) << 1 << QSize(1000, 750);
        QTest::addRow("three eighths") << QSize(1100, 800) << 1 << QSize(1500, 1125);
        // Stored 3000 x 4000: fitted unrotated, a quarter would do.
        QTest::addRow("rotated") << QSize(1100, 800) << 6 << QSize(1500, 1125);
        QTest::addRow("view nearly as large") << QSize(2500, 1900) << 1 << QSize(0, 0);
    }
    void standInCoversTheView()
    {
        QFETCH(QSize, view);
        QFETCH(int, orientation);
        QFETCH(QSize, standIn);
        const QByteArray data = readBytes(orientedPhoto(
            QStringLiteral("cover%1.jpg").arg(orientation), QSize(4000, 3000), orientation));
        const ViewPicture picture = JpegDecoder::decodeCovering(data, 200'000'000, view);
        QCOMPARE(picture.image.size(), standIn);
        if (!standIn.isEmpty()) {
            QCOMPARE(picture.fullSize, QSize(4000, 3000));
            QVERIFY(picture.isStandIn());
            QVERIFY(hasUprightQuadrants(picture.image));
        }
        // A decode asked to stop gives nothing, however far it got.
        int asked = 0;
        QVERIFY(JpegDecoder::decode(data, 200'000'000, 0, JpegDecoder::Orientation::applyTag,
                                    [&](qreal) { return ++asked < 3; })
                    .isNull());
        QCOMPARE(asked, 3);
    }
    void smallStoredThumbnailIsShownThenReplacedBySharpOne()
    {
        // The main picture is red, the stored EXIF thumbnail green.
        QImage main(2000, 1500, QImage::Format_RGB32);
        main.fill(Qt::red);
        const QString path = writeJpeg(file(QStringLiteral("with_thumb.jpg")), main);
        QImage small(160, 120, QImage::Format_RGB32);
        small.fill(Qt::green);
        const QByteArray thumb = jpegBytes(small);
        editExif(path, [&](Exiv2::ExifData &exif) {
            Exiv2::ExifThumb(exif).setJpegThumbnail(
                reinterpret_cast<const Exiv2::byte *>(thumb.constData()), long(thumb.size()));
        });
        // Large enough for a small request: used as it is.
        const QImage asSmall = ImageLoader::decodeThumbnail(path, 100);
        QCOMPARE(asSmall.size(), QSize(100, 75));
        QVERIFY(colourNear(asSmall.pixelColor(50, 37), Qt::green, 30));
        ImageLoader loader(m_queues);
        QList<QImage> shown;
        QList<bool> cachedWhenShown, loadingWhenShown;
        connect(&loader, &ImageLoader::thumbnailReady, this, [&](const QString &, const QImage &i) {
            shown << i;
            cachedWhenShown << (loader.cachedThumbnail(path).value_or(QImage()).cacheKey() ==
                                i.cacheKey());
            loadingWhenShown << loader.isLoading(path);
        });
        const QImage first = waitFor(loader.loadThumbnail(ImageItem(path), 320));
        QCOMPARE(first.size(), QSize(160, 120)); // at once, the stored one
        QVERIFY(colourNear(first.pixelColor(80, 60), Qt::green, 30));
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown[0].cacheKey(), first.cacheKey());
        QCOMPARE(shown[1].size(), QSize(320, 240)); // too small for the cell: the main picture
        QVERIFY(colourNear(shown[1].pixelColor(160, 120), Qt::red, 30));
        // Cached from the first moment on, so a cell never falls back to the
        // spinner; loading only until the sharp one is there.
        QCOMPARE(cachedWhenShown, (QList<bool>{true, true}));
        QCOMPARE(loadingWhenShown, (QList<bool>{true, false}));
        QCOMPARE(loader.decodeJobCount(), 1);
        // A larger request later (a HiDPI screen) decodes a sharper one behind
        // the cached one, which is served at once meanwhile.
        QFuture<QImage> larger = loader.loadThumbnail(ImageItem(path), 640);
        QVERIFY(larger.isFinished());
        QCOMPARE(larger.result().size(), QSize(320, 240));
        QTRY_COMPARE(shown.size(), 3);
        QCOMPARE(shown[2].size(), QSize(640, 480));
        QCOMPARE(loader.cachedThumbnail(path)->size(), QSize(640, 480));
        QVERIFY(!loader.wouldRefine(path, 640));
    }
    void rawWithoutUsablePreviewIsDevelopedAtHalfSize()
    {
        // An 8 x 8 green preview is no thumbnail; the sensor data is grey.
        QImage stub(8, 8, QImage::Format_RGB32);
        stub.fill(Qt::green);
        const QString path = file(QStringLiteral("stub_preview.dng"));
        QVERIFY(writeDng(path, 1000, 700, stub));
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(thumbnail.size(), QSize(320, 224));
        const QColor centre = thumbnail.pixelColor(160, 112);
        QVERIFY2(qAbs(centre.red() - centre.green()) < 40 &&
                     qAbs(centre.blue() - centre.green()) < 40,
                 "developed from the grey sensor data, not the green preview");
        QCOMPARE(ImageLoader::decodeThumbnail(path, 100).size(), QSize(100, 70));
    }
    void panoramaOverThePixelLimitGetsAThumbnail()
    {
        // 250 megapixels: more than the limit at full size, a few megabytes
        // when decoded at an eighth.
        const QString path = file(QStringLiteral("panorama.jpg"));
        QVERIFY(writePlainJpeg(path, 20000, 12500, QColor(30, 90, 200)));
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(thumbnail.size(), QSize(320, 200));
        QVERIFY(colourNear(thumbnail.pixelColor(160, 100), QColor(30, 90, 200), 12));
        QFile::remove(path);
        // Shown in full, such a picture comes at the largest DCT scale under
        // the limit: here 5/8 of 2000 x 1000 under one megapixel.
        const QImage reduced =
            JpegDecoder::decode(jpegBytes(quadrantPicture(2000, 1000)), 1'000'000);
        QCOMPARE(reduced.size(), QSize(1250, 625));
        QVERIFY(hasUprightQuadrants(reduced));
    }
    // The stored thumbnail is offered first, then refined; one that reaches
    // the size asked is not. A phone's gain map linked to two items made older
    // libheif refuse the file.
    void heifStoredThumbnailIsShownThenRefined_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("stored"); // the stored thumbnail's width
        QTest::newRow("heic") << "heic" << 160;
        QTest::newRow("avif") << "avif" << 160;
        QTest::newRow("phone heic with gain map") << "gain map" << 240;
    }
    void heifStoredThumbnailIsShownThenRefined()
    {
        QFETCH(QString, kind);
        QFETCH(int, stored);
        const bool avif = kind == QLatin1String("avif");
        const QString path =
            file(kind + (avif ? QStringLiteral(".avif") : QStringLiteral(".HEIC")));
        const QImage upright = quadrantPicture(1200, 800);
        QVERIFY(kind == QLatin1String("gain map")
                    ? writeGainMapHeic(path, upright, stored)
                    : writeHeif(path, storedForOrientation(upright, 6), avif, 6, 0, 1, stored));
        QImage interim;
        const QImage thumbnail =
            ImageDecoder::thumbnail(path, 320, [&](const QImage &image) { interim = image; });
        QCOMPARE(interim.width(), stored);
        QVERIFY(qAbs(interim.height() - stored * 2 / 3) <= 1);
        QVERIFY(hasUprightQuadrants(interim));
        QCOMPARE(thumbnail.size(), QSize(320, 213));
        QVERIFY(hasUprightQuadrants(thumbnail));
        const QImage full = ImageDecoder::fullImage(path);
        QCOMPARE(full.size(), QSize(1200, 800));
        QVERIFY(hasUprightQuadrants(full));
        bool offered = false;
        const auto offer = [&](const QImage &) { offered = true; };
        QCOMPARE(ImageDecoder::thumbnail(path, stored, offer).width(), stored);
        QVERIFY(!offered);
    }
    void otherFormatsDecode_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QImage::Format>("pixels");
        for (const char *format : {"png", "bmp", "tiff", "webp"}) // Qt writes no GIF
            QTest::newRow(format) << QString::fromLatin1(format) << QImage::Format_RGB32;
        // PNG is read row by row: every layout its reader turns into 8-bit BGRA.
        QTest::newRow("png palette") << "png" << QImage::Format_Indexed8;
        QTest::newRow("png 16-bit") << "png" << QImage::Format_RGBX64;
        QTest::newRow("png alpha") << "png" << QImage::Format_ARGB32;
        // Qt's reader refuses 16-bit tiles wider than the picture (Pixelmator writes them).
        QTest::newRow("tiff 16-bit wide tiles") << "tif" << QImage::Format_RGBX64;
    }
    void otherFormatsDecode()
    {
        QFETCH(QString, format);
        QFETCH(QImage::Format, pixels);
        const QString path = file(QStringLiteral("picture_%1.").arg(int(pixels)) + format);
        const QImage picture = quadrantPicture(900, 600);
        if (format == QLatin1String("tif"))
            QVERIFY(writeTiledTiff16(path, picture, 1024));
        else
            QVERIFY(picture.convertToFormat(pixels).save(path, format.toLatin1().constData()));
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(thumbnail.size(), QSize(320, 213));
        QVERIFY(hasUprightQuadrants(thumbnail));
        QCOMPARE(thumbnail.hasAlphaChannel(), pixels == QImage::Format_ARGB32);
        if (format == QLatin1String("tif"))
            QVERIFY(hasUprightQuadrants(ImageDecoder::fullImage(path), 4));
    }
    void sampleFormatsDecode_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("landscape"); // -1: either
        for (const char *name :
             {"other/static.gif", "other/animated.gif", "other/rgb8.tif", "other/rgb16.tiff",
              "other/rgb24.bmp", "other/rgba32.bmp", "other/rgba_alpha.png", "other/logo.svg",
              "other/multisize_16_32_48.ico", "webp/photo_lossy_vp8.webp",
              "webp/alpha_lossless_vp8l.webp", "webp/animated_lossy.webp", "jpeg/no_exif.jpg",
              "heif/apple_iphone11promax_gps.heic", "avif/olympus_epl8_exif.avif"})
            QTest::newRow(name) << QString::fromLatin1(name) << -1;
        for (int n = 0; n <= 8; ++n) {
            QTest::addRow("landscape_%d", n)
                << QStringLiteral("orientation/landscape_%1.jpg").arg(n) << 1;
            QTest::addRow("portrait_%d", n)
                << QStringLiteral("orientation/portrait_%1.jpg").arg(n) << 0;
        }
    }
    void sampleFormatsDecode()
    {
        QFETCH(QString, name);
        QFETCH(int, landscape);
        const QString path = sample(name);
        if (!QFile::exists(path))
            QSKIP("sample pictures not available");
        const qreal size = landscape < 0 ? 64 : 320;
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, size);
        QVERIFY(!thumbnail.isNull());
        QVERIFY(qMax(thumbnail.width(), thumbnail.height()) <= size);
        if (landscape >= 0) {
            QCOMPARE(qMax(thumbnail.width(), thumbnail.height()), 320);
            QCOMPARE(thumbnail.width() > thumbnail.height(), landscape == 1);
        }
    }
    void sharedCacheEntriesAreUsedOnlyWhileTheyMatch()
    {
        const QString root = file(QStringLiteral("cache/thumbnails"));
        const QString path = photo(QStringLiteral("shared_cache.jpg"), 1600, 1200);
        // Written by another program: green, with the standard's keys.
        const auto writeEntry = [&](qint64 mtime) {
            QImage entry(512, 384, QImage::Format_RGB32);
            entry.fill(Qt::green);
            entry.setText(QStringLiteral("Thumb::URI"),
                          QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));
            entry.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
            QDir().mkpath(root + QStringLiteral("/x-large"));
            QVERIFY(entry.save(sharedEntry(root, QStringLiteral("x-large"), path), "PNG"));
        };
        const auto loaded = [&](qreal size) {
            ImageLoader loader(m_queues);
            loader.setDiskCacheRoot(root);
            return waitFor(loader.loadThumbnail(ImageItem(path), size));
        };
        writeEntry(mtimeOf(path));
        QVERIFY(colourNear(loaded(320).pixelColor(160, 120), Qt::green, 10));
        // The file changed since: the entry is stale, the picture is decoded
        // and the entry replaced by one that matches.
        writeEntry(mtimeOf(path) - 10);
        const QImage decoded = loaded(320);
        QCOMPARE(decoded.size(), QSize(320, 240));
        QVERIFY(hasUprightQuadrants(decoded));
        const QString entry = sharedEntry(root, QStringLiteral("x-large"), path);
        const QImage written(entry);
        QCOMPARE(written.size(), QSize(512, 384)); // the folder's own size
        QVERIFY(hasUprightQuadrants(written));
        QCOMPARE(written.text(QStringLiteral("Thumb::URI")),
                 QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));
        QCOMPARE(written.text(QStringLiteral("Thumb::MTime")), QString::number(mtimeOf(path)));
        QCOMPARE(written.text(QStringLiteral("Thumb::Size")),
                 QString::number(QFileInfo(path).size()));
        QVERIFY(!written.text(QStringLiteral("Software")).isEmpty());
        QCOMPARE(QFileInfo(entry).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        // A HiDPI cell's size goes to the larger folder.
        QCOMPARE(loaded(640).size(), QSize(640, 480));
        QVERIFY(QFile::exists(sharedEntry(root, QStringLiteral("xx-large"), path)));
        // Transparency survives the cache's own writer and a folder opened again.
        const ThumbnailDiskCache disk(root);
        const ThumbnailDiskCache::Stamp stamp = disk.stampOf(path);
        QImage translucent(512, 256, QImage::Format_ARGB32);
        translucent.fill(QColor(250, 20, 10, 100));
        disk.store(stamp, translucent, true);
        QCOMPARE(QImage(disk.thumbnailPath(stamp, 512)).pixelColor(300, 200),
                 QColor(250, 20, 10, 100));
        const ThumbnailDiskCache::Lookup found = disk.find(stamp, 320);
        QCOMPARE(found.verdict, ThumbnailDiskCache::Verdict::hit);
        QCOMPARE(found.image.size(), QSize(512, 256));
        const QImage shown = loaded(320);
        QCOMPARE(shown.size(), QSize(320, 160));
        QCOMPARE(shown.pixelColor(160, 80).alpha(), 100);
    }
    void failuresAreRecordedUntilTheFileChanges()
    {
        const QString root = file(QStringLiteral("failcache/thumbnails"));
        const QString path = file(QStringLiteral("broken.jpg"));
        QVERIFY(writeBytes(path, "\xFF\xD8 not really a JPEG"));
        ImageLoader loader(m_queues);
        loader.setDiskCacheRoot(root);
        QVERIFY(waitFor(loader.loadThumbnail(ImageItem(path), 320)).isNull());
        const QStringList failed =
            QDir(root + QStringLiteral("/fail")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(failed.size(), 1);
        const QString fileName = QFileInfo(sharedEntry(root, QString(), path)).fileName();
        const QImage mark(root + QStringLiteral("/fail/") + failed[0] + QLatin1Char('/') +
                          fileName);
        QCOMPARE(mark.text(QStringLiteral("Thumb::URI")),
                 QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));
        // Repaired: a new request decodes it, and its thumbnail is written.
        QVERIFY(!writeJpeg(path, quadrantPicture(400, 200)).isEmpty());
        QCOMPARE(waitFor(loader.loadThumbnail(ImageItem(path), 320)).size(), QSize(320, 160));
        QVERIFY(QFile::exists(sharedEntry(root, QStringLiteral("x-large"), path)));
        // Nothing is written for pictures inside the cache itself.
        const QString inside =
            writeJpeg(root + QStringLiteral("/x-large/picture.jpg"), quadrantPicture(600, 400));
        QVERIFY(!waitFor(loader.loadThumbnail(ImageItem(inside), 320)).isNull());
        QVERIFY(!QFile::exists(sharedEntry(root, QStringLiteral("x-large"), inside)));
        // Whatever the umask lets through, every folder made for the cache is 0700.
        const mode_t umask = ::umask(0022);
        const QString cache = file(QStringLiteral("private-cache"));
        const ThumbnailDiskCache disk(cache + QStringLiteral("/thumbnails"));
        const ThumbnailDiskCache::Stamp stamp = disk.stampOf(path);
        disk.store(stamp, quadrantPicture(512, 384), false);
        disk.recordFailure(stamp);
        ::umask(umask);
        for (const char *folder : {"", "/thumbnails", "/thumbnails/x-large", "/thumbnails/fail",
                                   "/thumbnails/fail/Kelvane-1"}) {
            struct stat info;
            QVERIFY(::stat(QFile::encodeName(cache + QLatin1String(folder)).constData(), &info) ==
                    0);
            QCOMPARE(info.st_mode & 0777, mode_t(0700));
        }
    }
    // A file known to fail is not decoded again by the loaders of the same
    // queues until it changes; other queues keep a memory of their own.
    void failedFilesAreRememberedByTheirQueuesAlone()
    {
        const QString path = file(QStringLiteral("remembered.jpg"));
        const QByteArray picture = jpegBytes(quadrantPicture(400, 200));
        const QDateTime stamp = QDateTime::currentDateTime().addSecs(-60);
        writeDated(path, QByteArray(picture.size(), 'x'), stamp);
        WorkQueues first;
        ImageLoader remembering(first);
        remembering.setDiskCacheRoot({});
        QSignalSpy ready(&remembering, &ImageLoader::thumbnailReady);
        QVERIFY(waitFor(remembering.loadThumbnail(ImageItem(path), 320)).isNull());
        QCOMPARE(ready.count(), 1); // announced, and neither cached nor loading
        QVERIFY(ready.at(0).at(1).value<QImage>().isNull());
        QVERIFY(!remembering.cachedThumbnail(path) && !remembering.isLoading(path));
        // Repaired behind the program's back, with the same size and time.
        writeDated(path, picture, stamp);
        QVERIFY(waitFor(remembering.loadThumbnail(ImageItem(path), 320)).isNull());
        WorkQueues second;
        ImageLoader fresh(second);
        fresh.setDiskCacheRoot({});
        QCOMPARE(waitFor(fresh.loadThumbnail(ImageItem(path), 320)).size(), QSize(320, 160));
        // Once it changes, the first queues' loaders try it again.
        writeDated(path, picture, stamp.addSecs(1));
        QCOMPARE(waitFor(remembering.loadThumbnail(ImageItem(path), 320)).size(), QSize(320, 160));
        QCOMPARE(remembering.decodeJobCount(), 3);
    }
    void namesThatAreNotUtf8AreListedAndLoad()
    {
        // "café/été.jpg" in Latin-1, as an old camera card or a Windows share
        // leaves it: bytes that are not UTF-8.
        const QByteArray parent = QFile::encodeName(file(QStringLiteral("latin1")));
        const QByteArray folder = parent + "/caf\xE9";
        const QByteArray name = folder + "/\xE9t\xE9.jpg";
        QVERIFY(::mkdir(parent.constData(), 0700) == 0);
        QVERIFY(::mkdir(folder.constData(), 0700) == 0);
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
        QVERIFY(hasUprightQuadrants(ImageLoader::decodeThumbnail(path, 320)));
        QVERIFY(hasUprightQuadrants(ImageDecoder::fullImage(path)));
        ImageLoader loader(m_queues);
        loader.setDiskCacheRoot(file(QStringLiteral("latin1-cache")));
        QVERIFY(!waitFor(loader.loadThumbnail(child.images[0], 320)).isNull());
        // QDir cannot remove what it cannot name.
        QCOMPARE(::unlink(name.constData()), 0);
        QCOMPARE(::rmdir(folder.constData()), 0);
    }
    void concurrentRequestsShareOneDecodeAndItsCachedResult()
    {
        ImageLoader loader(m_queues);
        const ImageItem item(photo(QStringLiteral("shared.jpg")));
        QSignalSpy ready(&loader, &ImageLoader::thumbnailReady);
        QFuture<QImage> first = loader.loadThumbnail(item, 320);
        QFuture<QImage> second = loader.loadThumbnail(ImageItem(item.path()), 320);
        QVERIFY(loader.isLoading(item.path()));
        const QImage a = waitFor(first);
        QCOMPARE(a.size(), QSize(320, 213));
        QCOMPARE(waitFor(second).cacheKey(), a.cacheKey()); // the very same image
        QTRY_COMPARE(ready.count(), 1);
        QCOMPARE(ready.at(0).at(0).toString(), item.path());
        QVERIFY(!loader.isLoading(item.path()));
        // Any later size is served at once from the cache, without a job.
        QFuture<QImage> again = loader.loadThumbnail(item, 100);
        QVERIFY(again.isFinished());
        QCOMPARE(again.result().cacheKey(), a.cacheKey());
        QCOMPARE(loader.decodeJobCount(), 1);
    }
    void cacheIsBoundedByMemoryLeastRecentlyUsedFirst()
    {
        ImageLoader loader(m_queues);
        // Room for two 320 x 213 thumbnails (about 266 KiB each), not three.
        loader.setCacheLimitBytes(600 * 1024);
        const ImageItem a(photo(QStringLiteral("lru-a.jpg")));
        const ImageItem b(photo(QStringLiteral("lru-b.jpg")));
        const ImageItem c(photo(QStringLiteral("lru-c.jpg")));
        QVERIFY(!waitFor(loader.loadThumbnail(a, 320)).isNull());
        QVERIFY(!waitFor(loader.loadThumbnail(b, 320)).isNull());
        QVERIFY(loader.loadThumbnail(a, 320).isFinished()); // a is now the most recent
        QVERIFY(!waitFor(loader.loadThumbnail(c, 320)).isNull());
        QVERIFY(loader.cachedThumbnail(a.path()).has_value());
        QVERIFY(!loader.cachedThumbnail(b.path()).has_value());
        QVERIFY(loader.cachedThumbnail(c.path()).has_value());
        // The dropped one is decoded again on request, not lost.
        QVERIFY(!waitFor(loader.loadThumbnail(b, 320)).isNull());
        QCOMPARE(loader.decodeJobCount(), 4);
        // Clearing keeps the jobs in flight: their results are stored after it.
        const ImageItem running(photo(QStringLiteral("running.jpg")));
        QFuture<QImage> inFlight = loader.loadThumbnail(running, 320);
        QVERIFY(loader.clearThumbnailCache().isFinished());
        QVERIFY(!loader.cachedThumbnail(a.path()).has_value());
        QVERIFY(!waitFor(inFlight).isNull());
        QVERIFY(loader.cachedThumbnail(running.path()).has_value());
    }
    void manyRequestsAllCompleteNewestFirst()
    {
        ImageLoader loader(m_queues);
        QList<QFuture<QImage>> futures;
        QStringList paths;
        for (int i = 0; i < 24; ++i) {
            paths << photo(QStringLiteral("many_%1.jpg").arg(i), 300 + i, 200);
            futures << loader.loadThumbnail(ImageItem(paths.last()), 128);
        }
        for (int i = 0; i < futures.size(); ++i) {
            QCOMPARE(waitFor(futures[i]).width(), 128);
            QVERIFY(loader.cachedThumbnail(paths[i]).has_value());
        }
        QCOMPARE(loader.decodeJobCount(), 24);
        // The queue itself: pending jobs run newest first, on a pool it may share.
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QSemaphore release;
        pool.start([&] { release.acquire(); }); // keeps the only worker busy
        ThumbnailJobQueue queue(&pool);
        QMutex mutex;
        QList<int> order;
        for (int i = 1; i <= 5; ++i)
            queue.push([&, i] {
                QMutexLocker locker(&mutex);
                order << i;
            });
        QCOMPARE(queue.pendingCount(), 5);
        release.release();
        pool.waitForDone();
        QCOMPARE(order, (QList<int>{5, 4, 3, 2, 1}));
        QCOMPARE(queue.pendingCount(), 0);
    }
    // A loader going away waits for its own running decode, not for the other
    // work of the pool it shares.
    void destroyingWaitsOnlyForItsOwnJobs()
    {
        WorkQueues queues;
        queues.decode().setMaxThreadCount(2);
        QSemaphore otherJobMayEnd, loaderGone;
        queues.decode().start([&] { otherJobMayEnd.acquire(); }); // another user's job
        bool releasedByWatchdog = false;
        std::thread watchdog([&] {
            releasedByWatchdog = !loaderGone.tryAcquire(1, 10000);
            otherJobMayEnd.release();
        });
        auto loader = std::make_unique<ImageLoader>(queues);
        loader->setDiskCacheRoot({});
        loader->loadThumbnail(ImageItem(photo(QStringLiteral("own.jpg"))), 64);
        loader.reset();
        loaderGone.release();
        watchdog.join();
        QVERIFY(!releasedByWatchdog);
    }
    // Large pictures are turned by hand into memory of their own: pixel for
    // pixel what Qt's transforms give (mirror, horizontally or vertically for
    // 4, then turn clockwise).
    void largePicturesTurnAsQtTurnsThem_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("mirrored");
        QTest::addColumn<int>("degrees");
        const int turns[9][2] = {{},       {},      {1, 0},  {0, 180}, {1, 0},
                                 {1, 270}, {0, 90}, {1, 90}, {0, 270}};
        for (int n = 2; n <= 8; ++n)
            QTest::addRow("%d", n) << n << bool(turns[n][0]) << turns[n][1];
    }
    void largePicturesTurnAsQtTurnsThem()
    {
        QFETCH(int, orientation);
        QFETCH(bool, mirrored);
        QFETCH(int, degrees);
        QImage stored(1601, 1203, QImage::Format_ARGB32);
        QRandomGenerator random(orientation);
        for (int y = 0; y < stored.height(); ++y)
            random.fillRange(reinterpret_cast<quint32 *>(stored.scanLine(y)), stored.width());
        QVERIFY(stored.sizeInBytes() >= ImageBuffer::largeBytes);
        QImage expected = mirrored ? stored.mirrored(orientation != 4, orientation == 4) : stored;
        if (degrees != 0)
            expected = expected.transformed(QTransform().rotate(degrees));
        QCOMPARE(ImageOrientation::apply(stored, orientation), expected);
    }
    void largePicturesGetWholeRowsOfTheirOwn_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QImage::Format>("format");
        QTest::newRow("24 MP RGB32") << QSize(6000, 4000) << QImage::Format_RGB32;
        QTest::newRow("odd RGB888 rows") << QSize(3001, 1999) << QImage::Format_RGB888;
        QTest::newRow("small") << QSize(300, 200) << QImage::Format_ARGB32;
    }
    void largePicturesGetWholeRowsOfTheirOwn()
    {
        QFETCH(QSize, size);
        QFETCH(QImage::Format, format);
        QImage image = ImageBuffer::allocate(size, format);
        QCOMPARE(image.size(), size);
        QCOMPARE(image.bytesPerLine(), QImage(size, format).bytesPerLine());
        // Every byte is writable (a short mapping would fault), and the
        // picture survives being copied and dropped on another thread.
        for (int y = 0; y < image.height(); ++y)
            memset(image.scanLine(y), y & 0xFF, size_t(image.bytesPerLine()));
        std::thread([copy = image]() mutable { copy = QImage(); }).join();
        const QImage kept = image;
        image = QImage();
        QCOMPARE(kept.constScanLine(size.height() - 1)[kept.bytesPerLine() - 1],
                 uchar((size.height() - 1) & 0xFF));
        QCOMPARE(kept.copy(0, 7, 1, 1).constBits()[0], uchar(7));
    }
};

QTEST_GUILESS_MAIN(TestImageLoader)
#include "tst_imageloader.moc"
