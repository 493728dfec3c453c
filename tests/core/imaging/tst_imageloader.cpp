#include "ImagingFixtures.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageLoader.h"
#include "imaging/ThumbnailDiskCache.h"
#include "imaging/ThumbnailJobQueue.h"
#include "model/WorkQueues.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <sys/stat.h>
#include <thread>

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

private Q_SLOTS:
    void thumbnailSizeBounds_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<qreal>("maxSize");
        QTest::addColumn<QSize>("expected"); // 0 x 0: no image
        QTest::newRow("landscape") << QSize(1000, 500) << 320.0 << QSize(320, 160);
        QTest::newRow("square exact") << QSize(320, 320) << 320.0 << QSize(320, 320);
        QTest::newRow("small not enlarged") << QSize(200, 100) << 320.0 << QSize(200, 100);
        QTest::newRow("fractional size") << QSize(1000, 1000) << 99.7 << QSize(99, 99);
        QTest::newRow("one by many") << QSize(1, 3000) << 320.0 << QSize(1, 320);
        QTest::newRow("zero") << QSize(100, 80) << 0.0 << QSize(0, 0);
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
    void thumbnailsAreUpright_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QImage::Format>("pixels");
        for (int n = 1; n <= 8; ++n)
            QTest::addRow("jpeg %d", n) << "jpeg" << n << QImage::Format_RGB32;
        for (const char *format : {"webp", "tiff"})
            QTest::addRow("%s 6", format)
                << QString::fromLatin1(format) << 6 << QImage::Format_RGB32;
        for (const char *format : {"png", "bmp", "tiff", "webp"}) // Qt writes no GIF
            QTest::newRow(format) << QString::fromLatin1(format) << 0 << QImage::Format_RGB32;
        QTest::newRow("png palette") << "png" << 0 << QImage::Format_Indexed8;
        QTest::newRow("png 16-bit") << "png" << 0 << QImage::Format_RGBX64;
        QTest::newRow("png alpha") << "png" << 0 << QImage::Format_ARGB32;
        // Qt's reader refuses 16-bit tiles wider than the picture (Pixelmator writes them).
        QTest::newRow("tiff 16-bit wide tiles") << "tif" << 0 << QImage::Format_RGBX64;
    }
    void thumbnailsAreUpright()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        QFETCH(QImage::Format, pixels);
        const QString path =
            file(QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_') + u'.' + format);
        const QImage stored = storedForOrientation(quadrantPicture(600, 400), orientation);
        if (format == QLatin1String("tif"))
            QVERIFY(writeTiledTiff16(path, stored, 1024));
        else
            QVERIFY(stored.convertToFormat(pixels).save(path, format.toLatin1().constData()));
        if (orientation > 0)
            setExifOrientation(path, orientation);
        const QImage thumbnail = ImageLoader::decodeThumbnail(path, 320);
        QCOMPARE(thumbnail.size(), QSize(320, 213));
        QVERIFY(hasUprightQuadrants(thumbnail));
        QCOMPARE(thumbnail.hasAlphaChannel(), pixels == QImage::Format_ARGB32);
        if (format == QLatin1String("tif"))
            QVERIFY(hasUprightQuadrants(ImageDecoder::fullImage(path), 4));
    }
    void smallStoredThumbnailIsShownThenReplacedBySharpOne()
    {
        // The main picture is red, the stored EXIF thumbnail green.
        const QString path =
            writeJpeg(file(QStringLiteral("with_thumb.jpg")), filled(QSize(2000, 1500), Qt::red));
        const QByteArray thumb = jpegBytes(filled(QSize(160, 120), Qt::green));
        editExif(path, [&](Exiv2::ExifData &exif) {
            Exiv2::ExifThumb(exif).setJpegThumbnail(
                reinterpret_cast<const Exiv2::byte *>(thumb.constData()), long(thumb.size()));
        });
        QVERIFY(
            colourNear(ImageLoader::decodeThumbnail(path, 100).pixelColor(50, 37), Qt::green, 30));
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
        QVERIFY(colourNear(first.pixelColor(80, 60), Qt::green, 30)); // at once, the stored one
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown[0].cacheKey(), first.cacheKey());
        QCOMPARE(shown[1].size(), QSize(320, 240)); // too small for the cell: the main picture
        QVERIFY(colourNear(shown[1].pixelColor(160, 120), Qt::red, 30));
        // Cached from the first moment on, loading only until the sharp one is there.
        QCOMPARE(cachedWhenShown, (QList<bool>{true, true}));
        QCOMPARE(loadingWhenShown, (QList<bool>{true, false}));
        QCOMPARE(loader.decodeJobCount(), 1);
        // A larger request (HiDPI) is served the cached one at once, then a sharper one.
        QFuture<QImage> larger = loader.loadThumbnail(ImageItem(path), 640);
        QVERIFY(larger.isFinished());
        QCOMPARE(larger.result().size(), QSize(320, 240));
        QTRY_COMPARE(shown.size(), 3);
        QCOMPARE(shown[2].size(), QSize(640, 480));
        QVERIFY(!loader.wouldRefine(path, 640));
    }
    // A RAW's 8 x 8 preview is no thumbnail; 250 MP of JPEG are decoded at an eighth.
    void thumbnailsOfRawAndPanoramas()
    {
        const QString raw = file(QStringLiteral("stub_preview.dng"));
        QVERIFY(writeDng(raw, 1000, 700, filled(QSize(8, 8), Qt::green)));
        const QImage developed = ImageLoader::decodeThumbnail(raw, 320);
        QCOMPARE(developed.size(), QSize(320, 224));
        const QColor centre = developed.pixelColor(160, 112);
        QVERIFY2(qAbs(centre.red() - centre.green()) < 40 &&
                     qAbs(centre.blue() - centre.green()) < 40,
                 qPrintable(centre.name()));
        const QString panorama = file(QStringLiteral("panorama.jpg"));
        QVERIFY(writePlainJpeg(panorama, 20000, 12500, QColor(30, 90, 200)));
        const QImage thumbnail = ImageLoader::decodeThumbnail(panorama, 320);
        QCOMPARE(thumbnail.size(), QSize(320, 200));
        QVERIFY(colourNear(thumbnail.pixelColor(160, 100), QColor(30, 90, 200), 12));
    }
    // The stored thumbnail first, refined unless large enough; phones' gain maps load.
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
        const QImage full = ImageDecoder::fullImage(path);
        QCOMPARE((QList<QSize>{thumbnail.size(), full.size()}),
                 (QList<QSize>{QSize(320, 213), QSize(1200, 800)}));
        QVERIFY(hasUprightQuadrants(interim) && hasUprightQuadrants(thumbnail) &&
                hasUprightQuadrants(full));
        bool offered = false;
        const auto offer = [&](const QImage &) { offered = true; };
        QCOMPARE(ImageDecoder::thumbnail(path, stored, offer).width(), stored);
        QVERIFY(!offered);
    }
    void sharedCacheEntriesAreUsedOnlyWhileTheyMatch()
    {
        const QString root = file(QStringLiteral("cache/thumbnails"));
        const QString path = photo(QStringLiteral("shared_cache.jpg"), 1600, 1200);
        const QString uri = QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded());
        const QString entry = sharedEntry(root, QStringLiteral("x-large"), path);
        const auto writeEntry = [&](qint64 mtime) {
            QImage green = filled(QSize(512, 384), Qt::green);
            green.setText(QStringLiteral("Thumb::URI"), uri);
            green.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
            QDir().mkpath(root + QStringLiteral("/x-large"));
            QVERIFY(green.save(entry, "PNG"));
        };
        const auto loaded = [&](qreal size) {
            ImageLoader loader(m_queues);
            loader.setDiskCacheRoot(root);
            return waitFor(loader.loadThumbnail(ImageItem(path), size));
        };
        writeEntry(mtimeOf(path));
        QVERIFY(colourNear(loaded(320).pixelColor(160, 120), Qt::green, 10));
        // Stale: decoded, and replaced by a private entry of the folder's size.
        writeEntry(mtimeOf(path) - 10);
        const QImage decoded = loaded(320);
        QCOMPARE(decoded.size(), QSize(320, 240));
        QTRY_COMPARE(QImage(entry).text(QStringLiteral("Thumb::MTime")),
                     QString::number(mtimeOf(path)));
        const QImage written(entry);
        QCOMPARE(written.size(), QSize(512, 384));
        QVERIFY(hasUprightQuadrants(decoded) && hasUprightQuadrants(written));
        QCOMPARE((QStringList{written.text(QStringLiteral("Thumb::URI")),
                              written.text(QStringLiteral("Thumb::MTime")),
                              written.text(QStringLiteral("Thumb::Size"))}),
                 (QStringList{uri, QString::number(mtimeOf(path)),
                              QString::number(QFileInfo(path).size())}));
        QCOMPARE(QFileInfo(entry).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        QCOMPARE(loaded(640).size(), QSize(640, 480)); // a HiDPI cell's: the larger folder
        QTRY_VERIFY(QFile::exists(sharedEntry(root, QStringLiteral("xx-large"), path)));
        // Transparency survives the cache's own writer and a folder opened again.
        const ThumbnailDiskCache disk(root);
        const ThumbnailDiskCache::Stamp stamp = disk.stampOf(path);
        const QColor translucent(250, 20, 10, 100);
        disk.store(stamp, filled(QSize(512, 256), translucent, QImage::Format_ARGB32), true);
        QCOMPARE(QImage(disk.thumbnailPath(stamp, 512)).pixelColor(300, 200), translucent);
        const QImage shown = loaded(320);
        QCOMPARE(shown.size(), QSize(320, 160));
        QCOMPARE(shown.pixelColor(160, 80).alpha(), 100);
    }
    // The decode's result reaches the screen before its shared entry is written.
    void sharedCacheEntryIsWrittenAfterDelivery()
    {
        const QString root = file(QStringLiteral("late-cache/thumbnails"));
        const QString path = photo(QStringLiteral("late.jpg"), 1600, 1200);
        const QString entry = sharedEntry(root, QStringLiteral("x-large"), path);
        ImageLoader loader(m_queues);
        loader.setDiskCacheRoot(root);
        QList<bool> existedWhenDelivered;
        connect(&loader, &ImageLoader::thumbnailReady, this,
                [&] { existedWhenDelivered << QFile::exists(entry); });
        QCOMPARE(waitFor(loader.loadThumbnail(ImageItem(path), 320)).size(), QSize(320, 240));
        QCOMPARE(existedWhenDelivered, QList<bool>{false});
        QTRY_VERIFY(QFile::exists(entry));
        QCOMPARE(QImage(entry).size(), QSize(512, 384));
    }
    // A failure is marked on disk and remembered by its queues until the file changes.
    void failuresAreRememberedUntilTheFileChanges()
    {
        const QString root = file(QStringLiteral("failcache/thumbnails"));
        const QString path = file(QStringLiteral("broken.jpg"));
        const QByteArray picture = jpegBytes(quadrantPicture(400, 200));
        const QDateTime stamp = QDateTime::currentDateTime().addSecs(-60);
        writeDated(path, QByteArray(picture.size(), 'x'), stamp);
        WorkQueues other;
        ImageLoader remembering(m_queues), fresh(other);
        remembering.setDiskCacheRoot(root);
        fresh.setDiskCacheRoot({});
        QSignalSpy ready(&remembering, &ImageLoader::thumbnailReady);
        QVERIFY(waitFor(remembering.loadThumbnail(ImageItem(path), 320)).isNull());
        QCOMPARE(ready.count(), 1); // announced, and neither cached nor loading
        QVERIFY(ready.at(0).at(1).value<QImage>().isNull());
        QVERIFY(!remembering.cachedThumbnail(path) && !remembering.isLoading(path));
        const QDir failed(root + QStringLiteral("/fail"));
        const QStringList apps = failed.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(apps.size(), 1);
        const QImage mark(failed.filePath(apps[0] + QLatin1Char('/') +
                                          QFileInfo(sharedEntry(root, {}, path)).fileName()));
        QCOMPARE(mark.text(QStringLiteral("Thumb::URI")),
                 QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));
        // Repaired behind the program's back, with the same size and time.
        writeDated(path, picture, stamp);
        QVERIFY(waitFor(remembering.loadThumbnail(ImageItem(path), 320)).isNull());
        QCOMPARE(waitFor(fresh.loadThumbnail(ImageItem(path), 320)).size(), QSize(320, 160));
        // Changed: decoded again, and its thumbnail is written.
        writeDated(path, picture, stamp.addSecs(1));
        QCOMPARE(waitFor(remembering.loadThumbnail(ImageItem(path), 320)).size(), QSize(320, 160));
        QTRY_VERIFY(QFile::exists(sharedEntry(root, QStringLiteral("x-large"), path)));
        // Nothing is written for pictures inside the cache itself.
        const QString inside =
            writeJpeg(root + QStringLiteral("/x-large/picture.jpg"), quadrantPicture(600, 400));
        QVERIFY(!waitFor(remembering.loadThumbnail(ImageItem(inside), 320)).isNull());
        QVERIFY(!QFile::exists(sharedEntry(root, QStringLiteral("x-large"), inside)));
        // Whatever the umask lets through, every folder made for the cache is 0700.
        const mode_t umask = ::umask(0022);
        const QString cache = file(QStringLiteral("private-cache"));
        const ThumbnailDiskCache disk(cache + QStringLiteral("/thumbnails"));
        disk.store(disk.stampOf(path), quadrantPicture(512, 384), false);
        disk.recordFailure(disk.stampOf(path));
        ::umask(umask);
        for (const char *folder : {"", "/thumbnails", "/thumbnails/x-large", "/thumbnails/fail",
                                   "/thumbnails/fail/Kelvane-1"}) {
            struct stat info;
            QCOMPARE(::stat(QFile::encodeName(cache + QLatin1String(folder)).constData(), &info),
                     0);
            QCOMPARE(info.st_mode & 0777, mode_t(0700));
        }
    }
    // Concurrent requests share one decode; later sizes come from the bounded cache.
    void requestsShareDecodesAndTheBoundedCache()
    {
        ImageLoader loader(m_queues);
        const ImageItem item(photo(QStringLiteral("shared.jpg")));
        QSignalSpy ready(&loader, &ImageLoader::thumbnailReady);
        QFuture<QImage> first = loader.loadThumbnail(item, 320);
        QFuture<QImage> second = loader.loadThumbnail(ImageItem(item.path()), 320);
        QVERIFY(loader.isLoading(item.path()));
        const QImage a = waitFor(first);
        QCOMPARE(a.size(), QSize(320, 213));
        QCOMPARE(waitFor(second).cacheKey(), a.cacheKey());
        QTRY_COMPARE(ready.count(), 1);
        QCOMPARE(ready.at(0).at(0).toString(), item.path());
        QVERIFY(!loader.isLoading(item.path()));
        QFuture<QImage> again = loader.loadThumbnail(item, 100);
        QVERIFY(again.isFinished());
        QCOMPARE(again.result().cacheKey(), a.cacheKey());
        QCOMPARE(loader.decodeJobCount(), 1);
        // Room for two 320 x 213 thumbnails (about 266 KiB each), not three.
        loader.setCacheLimitBytes(600 * 1024);
        const ImageItem b(photo(QStringLiteral("lru-b.jpg"))),
            c(photo(QStringLiteral("lru-c.jpg")));
        QVERIFY(!waitFor(loader.loadThumbnail(b, 320)).isNull());
        QVERIFY(loader.loadThumbnail(item, 320).isFinished()); // the most recent again
        QVERIFY(!waitFor(loader.loadThumbnail(c, 320)).isNull());
        QVERIFY(loader.cachedThumbnail(item.path()) && loader.cachedThumbnail(c.path()));
        QVERIFY(!loader.cachedThumbnail(b.path()));
        QVERIFY(!waitFor(loader.loadThumbnail(b, 320)).isNull()); // decoded again, not lost
        QCOMPARE(loader.decodeJobCount(), 4);
        // Clearing keeps the jobs in flight: their results are stored after it.
        const ImageItem running(photo(QStringLiteral("running.jpg")));
        QFuture<QImage> inFlight = loader.loadThumbnail(running, 320);
        QVERIFY(loader.clearThumbnailCache().isFinished());
        QVERIFY(!loader.cachedThumbnail(item.path()).has_value());
        QVERIFY(!waitFor(inFlight).isNull());
        QVERIFY(loader.cachedThumbnail(running.path()).has_value());
    }
    // Every pending job runs, newest burst first, on a pool the queue may share.
    void pendingJobsAllRunNewestBurstFirst()
    {
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QSemaphore release;
        ThumbnailJobQueue queue(&pool);
        QMutex mutex;
        QList<int> order;
        const auto record = [&](int i) {
            return [&, i] {
                QMutexLocker locker(&mutex);
                order << i;
            };
        };
        // Queued while the only worker is busy, then run.
        const auto runQueued = [&](const std::function<void()> &enqueue) {
            order.clear();
            pool.start([&] { release.acquire(); });
            enqueue();
            release.release();
            pool.waitForDone();
        };
        // The newest burst first, each burst in the order it was pushed.
        const auto pause = [] { QThread::msleep(5 * ThumbnailJobQueue::burstGap.count()); };
        runQueued([&] {
            for (int i = 1; i <= 3; ++i)
                queue.push(record(i));
            pause();
            for (int i = 4; i <= 5; ++i)
                queue.push(record(i));
            pause();
            queue.push(record(6));
            QCOMPARE(queue.pendingCount(), 6);
        });
        QCOMPARE(order, (QList<int>{6, 4, 5, 1, 2, 3}));
        QCOMPARE(queue.pendingCount(), 0);
        // Deferred jobs wait for every other one, oldest first, and outlive clear().
        runQueued([&] {
            for (int i = 1; i <= 4; ++i)
                i % 2 ? queue.pushDeferred(record(i)) : queue.push(record(i));
            queue.clear();
            queue.push(record(5));
        });
        QCOMPARE(order, (QList<int>{5, 1, 3}));
        // A backlog of deferred jobs beyond the bound goes first.
        const int backlog = int(ThumbnailJobQueue::maxDeferred) + 1;
        runQueued([&] {
            for (int i = 0; i <= backlog; ++i)
                i < backlog ? queue.pushDeferred(record(i)) : queue.push(record(i));
        });
        QCOMPARE(order.mid(0, 2), (QList<int>{0, backlog}));
    }
    // A loader going away waits for its own decode, not for the pool's other work.
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
};

QTEST_GUILESS_MAIN(TestImageLoader)
#include "tst_imageloader.moc"
