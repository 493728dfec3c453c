#include "ImagingFixtures.h"
#include "imaging/ImageLoadError.h"
#include "imaging/ImageLoader.h"
#include "imaging/JpegDecoder.h"
#include "imaging/ThumbnailJobQueue.h"

#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ImagingFixtures;

class TestImageLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString photo(const QString &name, int width = 1200, int height = 800)
    {
        return writeJpeg(file(name), quadrantPicture(width, height));
    }
    static QImage waitFor(QFuture<QImage> future)
    {
        if (!QTest::qWaitFor([&] { return future.isFinished(); }, 20000))
            return QImage(1, 1, QImage::Format_Mono); // a sentinel the checks reject
        return future.result();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void errorDescriptions()
    {
        QCOMPARE(ImageLoadError::sourceCreationFailed().errorDescription(),
                 QStringLiteral("无法读取图片文件"));
        QCOMPARE(ImageLoadError::decodeFailed().errorDescription(), QStringLiteral("图片解码失败"));
        QCOMPARE(ImageLoadError::unsupportedFormat(QStringLiteral("XYZ")).errorDescription(),
                 QStringLiteral("不支持的格式: XYZ"));
        QCOMPARE(ImageLoadError::unsupportedFormat(QStringLiteral("XYZ")).kind(),
                 ImageLoadError::Kind::unsupportedFormat);
        QCOMPARE(ImageLoadError::decodeFailed().kind(), ImageLoadError::Kind::decodeFailed);
        QCOMPARE(int(ImageLoadError::Kind::sourceCreationFailed), 1);
    }

    void thumbnailSizeBounds_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<qreal>("maxSize");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("landscape") << QSize(1000, 500) << 320.0 << QSize(320, 160);
        QTest::newRow("portrait") << QSize(500, 1000) << 320.0 << QSize(160, 320);
        QTest::newRow("square exact") << QSize(320, 320) << 320.0 << QSize(320, 320);
        QTest::newRow("small not enlarged") << QSize(200, 100) << 320.0 << QSize(200, 100);
        QTest::newRow("fractional size") << QSize(1000, 1000) << 99.7 << QSize(99, 99);
        QTest::newRow("one by many") << QSize(1, 3000) << 320.0 << QSize(1, 320);
    }
    void thumbnailSizeBounds()
    {
        QFETCH(QSize, source);
        QFETCH(qreal, maxSize);
        QFETCH(QSize, expected);
        const QString path = writeJpeg(
            file(QStringLiteral("bounds_%1x%2.jpg").arg(source.width()).arg(source.height())),
            quadrantPicture(source.width(), source.height()));
        QVERIFY(!path.isEmpty());
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, maxSize);
        QCOMPARE(thumbnail.size(), expected);
    }

    void nonPositiveSizeGivesNoImage()
    {
        const QString path = photo(QStringLiteral("zero_size.jpg"), 100, 80);
        QVERIFY(ImageLoader::decodeThumbnail(path, 0).isNull());
        QVERIFY(ImageLoader::decodeThumbnail(path, -5).isNull());
        QVERIFY(ImageLoader::decodeThumbnail(path, qQNaN()).isNull());
    }

    void uprightForEveryOrientation_data()
    {
        QTest::addColumn<int>("orientation");
        for (int n = 1; n <= 8; ++n)
            QTest::addRow("orientation %d", n) << n;
    }
    void uprightForEveryOrientation()
    {
        QFETCH(int, orientation);
        const QImage stored = storedForOrientation(quadrantPicture(600, 400), orientation);
        const QString path =
            writeJpeg(file(QStringLiteral("orient%1.jpg").arg(orientation)), stored);
        editExif(path, [&](Exiv2::ExifData &exif) {
            exif["Exif.Image.Orientation"] = uint16_t(orientation);
        });
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
        const QSize upright(4000, 3000);
        const QString path =
            writeJpeg(file(QStringLiteral("cover%1.jpg").arg(orientation)),
                      storedForOrientation(quadrantPicture(4000, 3000), orientation));
        editExif(path, [&](Exiv2::ExifData &exif) {
            exif["Exif.Image.Orientation"] = uint16_t(orientation);
        });
        QFile source(path);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray data = source.readAll();

        const ViewPicture picture = JpegDecoder::decodeCovering(data, 200'000'000, view);
        QCOMPARE(picture.image.size(), standIn);
        if (!standIn.isEmpty()) {
            QCOMPARE(picture.fullSize, upright);
            QVERIFY(picture.isStandIn());
            QVERIFY(hasUprightQuadrants(picture.image));
        }
        // A decode asked to stop gives nothing, however far it got.
        int asked = 0;
        QVERIFY(JpegDecoder::decode(data, 200'000'000, [&] { return ++asked < 3; }).isNull());
        QCOMPARE(asked, 3);
    }

    void storedThumbnailIsUsed()
    {
        // The main picture is red, the stored EXIF thumbnail green: the
        // colour tells which one was decoded.
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
        const QImage asLarge = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(asLarge.size(), QSize(160, 120)); // the largest stored one, not enlarged
        QVERIFY(colourNear(asLarge.pixelColor(80, 60), Qt::green, 30));
        const QImage asSmall = ImageLoader::decodeThumbnail(path, 100);
        QCOMPARE(asSmall.size(), QSize(100, 75));
        QVERIFY(colourNear(asSmall.pixelColor(50, 37), Qt::green, 30));
    }

    void heifStoredThumbnailIsUsedUpright_data()
    {
        QTest::addColumn<bool>("avif");
        QTest::newRow("heic") << false;
        QTest::newRow("avif") << true;
    }
    void heifStoredThumbnailIsUsedUpright()
    {
        QFETCH(bool, avif);
        const QString path =
            file(avif ? QStringLiteral("thumb.avif") : QStringLiteral("thumb.heic"));
        QVERIFY(writeHeif(path, storedForOrientation(quadrantPicture(1200, 800), 6), avif, 6, 0, 1,
                          160));
        // The 160-pixel stored thumbnail is the largest one: used, not enlarged.
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(qMax(thumbnail.width(), thumbnail.height()), 160);
        QVERIFY(hasUprightQuadrants(thumbnail));
    }

    void otherFormatsDecode_data()
    {
        QTest::addColumn<QString>("format");
        for (const char *format : {"png", "bmp", "tiff", "webp"}) // Qt writes no GIF
            QTest::newRow(format) << QString::fromLatin1(format);
    }
    void otherFormatsDecode()
    {
        QFETCH(QString, format);
        const QString path = file(QStringLiteral("picture.") + format);
        QVERIFY(quadrantPicture(900, 600).save(path, format.toLatin1().constData()));
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(thumbnail.size(), QSize(320, 213));
        QVERIFY(hasUprightQuadrants(thumbnail));
    }

    void exifOrientationInOtherContainers_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation");
        for (int n : {3, 6, 8}) {
            QTest::addRow("webp %d", n) << "webp" << n;
            QTest::addRow("tiff %d", n) << "tiff" << n;
        }
    }
    void exifOrientationInOtherContainers()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        const QString path = file(QStringLiteral("oriented_%1.%2").arg(orientation).arg(format));
        QVERIFY(storedForOrientation(quadrantPicture(600, 400), orientation)
                    .save(path, format.toLatin1().constData()));
        editExif(path, [&](Exiv2::ExifData &exif) {
            exif["Exif.Image.Orientation"] = uint16_t(orientation);
        });
        QVERIFY(hasUprightQuadrants(ImageLoader::decodeThumbnail(path, 320)));
    }

    void sampleFormatsDecode_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name :
             {"other/static.gif", "other/animated.gif", "other/rgb8.tif", "other/rgb24.bmp",
              "other/rgba32.bmp", "other/rgba_alpha.png", "other/logo.svg",
              "other/multisize_16_32_48.ico", "webp/photo_lossy_vp8.webp",
              "webp/alpha_lossless_vp8l.webp", "webp/animated_lossy.webp", "jpeg/no_exif.jpg",
              "heif/apple_iphone11promax_gps.heic", "avif/olympus_epl8_exif.avif"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void sampleFormatsDecode()
    {
        QFETCH(QString, name);
        const QString path = sample(name);
        if (!QFile::exists(path))
            QSKIP("sample pictures not available");
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 64);
        QVERIFY(!thumbnail.isNull());
        QVERIFY(qMax(thumbnail.width(), thumbnail.height()) <= 64);
    }

    void sampleOrientationSet_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("landscape");
        for (int n = 0; n <= 8; ++n) {
            QTest::addRow("landscape_%d", n) << QStringLiteral("landscape_%1.jpg").arg(n) << true;
            QTest::addRow("portrait_%d", n) << QStringLiteral("portrait_%1.jpg").arg(n) << false;
        }
    }
    void sampleOrientationSet()
    {
        QFETCH(QString, name);
        QFETCH(bool, landscape);
        const QString path = sample(QStringLiteral("orientation/") + name);
        if (!QFile::exists(path))
            QSKIP("sample orientation pictures not available");
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QVERIFY(!thumbnail.isNull());
        QCOMPARE(qMax(thumbnail.width(), thumbnail.height()), 320);
        QCOMPARE(thumbnail.width() > thumbnail.height(), landscape);
    }

    void concurrentRequestsShareOneDecode()
    {
        ImageLoader loader;
        const ImageItem item(photo(QStringLiteral("shared.jpg")));
        QSignalSpy ready(&loader, &ImageLoader::thumbnailReady);
        QFuture<QImage> first = loader.loadThumbnail(item, 320);
        QFuture<QImage> second = loader.loadThumbnail(ImageItem(item.path()), 320);
        QVERIFY(loader.isLoading(item.path()));
        QCOMPARE(loader.decodeJobCount(), 1);
        const QImage a = waitFor(first);
        const QImage b = waitFor(second);
        QCOMPARE(a.size(), QSize(320, 213));
        QCOMPARE(a.cacheKey(), b.cacheKey()); // the very same image
        QCOMPARE(loader.decodeJobCount(), 1);
        QTRY_COMPARE(ready.count(), 1);
        QCOMPARE(ready.at(0).at(0).toString(), item.path());
        QVERIFY(!loader.isLoading(item.path()));
        QVERIFY(loader.cachedThumbnail(item.path()).has_value());
    }

    void cachedThumbnailServesAnySize()
    {
        ImageLoader loader;
        const ImageItem item(photo(QStringLiteral("cached.jpg")));
        const QImage first = waitFor(loader.loadThumbnail(item, 320));
        QCOMPARE(first.size(), QSize(320, 213));
        QFuture<QImage> again = loader.loadThumbnail(item, 100);
        QVERIFY(again.isFinished()); // served at once, no job
        QCOMPARE(again.result().cacheKey(), first.cacheKey());
        QCOMPARE(loader.decodeJobCount(), 1);
        QVERIFY(!loader.isLoading(item.path()));
    }

    void cacheIsBoundedByMemoryLeastRecentlyUsedFirst()
    {
        ImageLoader loader;
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
        QCOMPARE(loader.decodeJobCount(), 3);
        // The dropped one is decoded again on request, not lost.
        QVERIFY(!waitFor(loader.loadThumbnail(b, 320)).isNull());
        QCOMPARE(loader.decodeJobCount(), 4);
    }

    void failuresAreRetried()
    {
        ImageLoader loader;
        const QString path = file(QStringLiteral("not_an_image.jpg"));
        QFile text(path);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is text, not a picture\n");
        text.close();
        const ImageItem item(path);
        QSignalSpy ready(&loader, &ImageLoader::thumbnailReady);
        QVERIFY(waitFor(loader.loadThumbnail(item, 320)).isNull());
        QVERIFY(!loader.cachedThumbnail(path).has_value());
        QVERIFY(!loader.isLoading(path));
        QCOMPARE(ready.count(), 1);
        QVERIFY(ready.at(0).at(1).value<QImage>().isNull());
        // Now the file becomes a picture: the next request decodes again.
        QVERIFY(!writeJpeg(path, quadrantPicture(400, 200)).isEmpty());
        const QImage second = waitFor(loader.loadThumbnail(item, 320));
        QCOMPARE(loader.decodeJobCount(), 2);
        QCOMPARE(second.size(), QSize(320, 160));
    }

    void clearCacheKeepsJobsInFlight()
    {
        ImageLoader loader;
        const ImageItem done(photo(QStringLiteral("done.jpg")));
        QVERIFY(!waitFor(loader.loadThumbnail(done, 320)).isNull());
        const ImageItem running(photo(QStringLiteral("running.jpg")));
        QFuture<QImage> inFlight = loader.loadThumbnail(running, 320);
        QVERIFY(loader.isLoading(running.path()));
        QVERIFY(loader.clearThumbnailCache().isFinished());
        QVERIFY(!loader.cachedThumbnail(done.path()).has_value());
        QVERIFY(!waitFor(inFlight).isNull());
        QVERIFY(loader.cachedThumbnail(running.path()).has_value()); // stored after the clear
        // The cleared file decodes again.
        QVERIFY(!waitFor(loader.loadThumbnail(done, 320)).isNull());
        QCOMPARE(loader.decodeJobCount(), 3);
    }

    void manyFilesAllComplete()
    {
        ImageLoader loader;
        QList<QFuture<QImage>> futures;
        QStringList paths;
        for (int i = 0; i < 24; ++i) {
            paths << photo(QStringLiteral("many_%1.jpg").arg(i), 300 + i, 200);
            futures << loader.loadThumbnail(ImageItem(paths.last()), 128);
        }
        for (int i = 0; i < futures.size(); ++i) {
            const QImage image = waitFor(futures[i]);
            QCOMPARE(image.width(), 128);
            QVERIFY(loader.cachedThumbnail(paths[i]).has_value());
        }
        QCOMPARE(loader.decodeJobCount(), 24);
    }

    void newestPendingJobRunsFirst()
    {
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
};

QTEST_GUILESS_MAIN(TestImageLoader)
#include "tst_imageloader.moc"
