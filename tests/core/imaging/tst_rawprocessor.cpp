#include "FifoGate.h"
#include "ImagingFixtures.h"
#include "imaging/ImageBuffer.h"
#include "imaging/ImageLoadError.h"
#include "imaging/ImageOrientation.h"
#include "imaging/JpegDecoder.h"
#include "imaging/RAWProcessor.h"
#include "model/WorkQueues.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

using namespace ImagingFixtures;

namespace {

struct Outcome
{
    QImage image;
    QString error; // errorDescription(), empty on success
};

Outcome outcomeOf(QFuture<QImage> future)
{
    try {
        return {future.result(), {}};
    } catch (const ImageLoadError &error) {
        return {{}, error.errorDescription()};
    }
}

// How many of the pages under `image` are in memory.
qsizetype residentPages(const QImage &image)
{
    const qsizetype page = sysconf(_SC_PAGESIZE);
    const auto first = reinterpret_cast<quintptr>(image.constBits()) & ~quintptr(page - 1);
    const qsizetype length = qsizetype(quintptr(image.constBits()) - first) + image.sizeInBytes();
    std::vector<unsigned char> pages(size_t((length + page - 1) / page));
    if (mincore(reinterpret_cast<void *>(first), size_t(length), pages.data()) != 0)
        return -1;
    return std::ranges::count_if(pages, [](unsigned char flags) { return flags & 1; });
}

const QString sourceFailed = QStringLiteral("无法读取图片文件");
const QString decodeFailed = QStringLiteral("图片解码失败");

} // namespace

class TestRAWProcessor : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    WorkQueues m_queues;
    RAWProcessor m_processor{m_queues};
    QString file(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void loadImageIsFullSizeAndUpright_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation");
        for (int n : {1, 3, 6, 8})
            QTest::addRow("jpeg %d", n) << "jpeg" << n;
        QTest::newRow("heic 6") << "heic" << 6;
        QTest::newRow("avif 3") << "avif" << 3;
        for (const char *format : {"png", "tiff", "webp"})
            QTest::newRow(format) << QString::fromLatin1(format) << 1;
    }
    void loadImageIsFullSizeAndUpright()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        const QImage stored = storedForOrientation(quadrantPicture(1200, 800), orientation);
        const QString path =
            file(QStringLiteral("full_%1_%2.%3").arg(format).arg(orientation).arg(format));
        if (format == QLatin1String("jpeg")) {
            QVERIFY(!writeJpeg(path, stored).isEmpty());
            setExifOrientation(path, orientation);
        } else if (format == QLatin1String("heic") || format == QLatin1String("avif")) {
            // The container's orientation counts; a contradicting EXIF tag must not.
            QVERIFY(writeHeif(path, stored, format == QLatin1String("avif"), orientation, 8));
        } else {
            QVERIFY(stored.save(path, format.toLatin1().constData()));
        }
        const Outcome result = outcomeOf(m_processor.loadImage(path));
        QCOMPARE(result.error, QString());
        QVERIFY(hasUprightQuadrants(result.image) && result.image.width() == 1200);
        if (result.image.format() == QImage::Format_RGB32) // padding byte must be opaque
            QCOMPARE(int(result.image.constBits()[3]), 0xFF);
    }
    void displayP3IsConvertedToSRGB_data()
    {
        QTest::addColumn<QString>("format");
        for (const char *format : {"jpeg", "png", "heic", "avif", "heic-icc", "untagged png"})
            QTest::newRow(format) << QString::fromLatin1(format);
    }
    void displayP3IsConvertedToSRGB()
    {
        QFETCH(QString, format);
        // A saturated red inside the sRGB gamut, so that conversion shows.
        const QColor p3Red(220, 40, 40);
        const bool untagged = format.startsWith(QLatin1String("untagged"));
        const QColor expected = untagged ? p3Red
                                         : QColorSpace(QColorSpace::DisplayP3)
                                               .transformationToColorSpace(QColorSpace::SRgb)
                                               .map(p3Red);
        QVERIFY2(untagged || qAbs(expected.red() - p3Red.red()) > 10, "the colour must move");
        QImage picture = filled(QSize(256, 256), p3Red);
        const QString ext = format.section(QLatin1Char(' '), -1).section(QLatin1Char('-'), 0, 0);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_');
        const QString path = file(QStringLiteral("p3_%1.%2").arg(tag, ext));
        if (format == QLatin1String("heic-icc")) {
            const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
            QVERIFY(writeHeif(path, picture, false, 1, 0, 1, 0, icc));
        } else if (format == QLatin1String("heic") || format == QLatin1String("avif")) {
            QVERIFY(writeHeif(path, picture, format == QLatin1String("avif"), 1, 0, 12));
        } else {
            if (!untagged)
                picture.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
            QVERIFY(picture.save(path, ext.toLatin1().constData(), 95));
        }
        const QImage full = RAWProcessor::loadImageSync(path);
        const QColor actual = full.pixelColor(128, 128);
        QVERIFY2(colourNear(actual, expected, untagged ? 0 : 4),
                 qPrintable(actual.name() + QLatin1Char(' ') + expected.name()));
        if (!untagged)
            QVERIFY(full.colorSpace() == QColorSpace(QColorSpace::SRgb));
    }
    // The stored preview, and the sensor data developed by one LibRaw context, turned.
    void rawPreviewAndFullDevelopment()
    {
        const QString path = file(QStringLiteral("bayer.dng"));
        QVERIFY(writeDng(path, 600, 400, filled(QSize(300, 200), Qt::green), 6));
        RAWProcessor processor(m_queues);
        const Outcome quick = outcomeOf(processor.loadImage(path));
        QCOMPARE(quick.error, QString());
        QCOMPARE(quick.image.size(), QSize(200, 300));
        QVERIFY(colourNear(quick.image.pixelColor(50, 50), Qt::green, 30));
        QCOMPARE(processor.rawContextCount(), 0); // the quick load needs no LibRaw
        for (int twice = 0; twice < 2; ++twice) {
            const Outcome developed = outcomeOf(processor.decodeRAW(path));
            QCOMPARE(developed.error, QString());
            QCOMPARE(developed.image.size(), QSize(400, 600));
            const QColor centre = developed.image.pixelColor(200, 300);
            QVERIFY2(qAbs(centre.red() - centre.green()) < 30 &&
                         qAbs(centre.blue() - centre.green()) < 30,
                     qPrintable(centre.name()));
        }
        QCOMPARE(processor.rawContextCount(), 1);
    }
    // A full-size JPEG preview shows reduced first, turned as the RAW says, then in full.
    void largePreviewShowsAStandInFirst()
    {
        const QString path = file(QStringLiteral("full_preview.dng"));
        QVERIFY(writeDng(path, 600, 400, storedForOrientation(quadrantPicture(4000, 3000), 6), 6));
        QFuture<ViewPicture> loading = m_processor.loadForView(path, QSize(800, 600));
        loading.waitForFinished();
        QCOMPARE(loading.resultCount(), 2);
        const ViewPicture standIn = loading.resultAt(0);
        QVERIFY(standIn.isStandIn());
        QCOMPARE(standIn.fullSize, QSize(4000, 3000));
        QVERIFY(standIn.image.height() < 3000 && standIn.image.height() >= 600);
        QVERIFY(hasUprightQuadrants(standIn.image));
        const ViewPicture full = loading.resultAt(1);
        QCOMPARE(full.image.size(), QSize(4000, 3000));
        QVERIFY(hasUprightQuadrants(full.image));
    }
    // The viewer's first picture: the smallest DCT scale with a pixel per view pixel.
    void standInCoversTheView_data()
    {
        QTest::addColumn<QSize>("view");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("standIn"); // 0 x 0: none, decode in full
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
        const QString path =
            writeJpeg(file(QStringLiteral("cover%1.jpg").arg(orientation)),
                      storedForOrientation(quadrantPicture(4000, 3000), orientation));
        setExifOrientation(path, orientation);
        const QByteArray data = readBytes(path);
        const ViewPicture picture = JpegDecoder::decodeCovering(data, 200'000'000, view);
        QCOMPARE(picture.image.size(), standIn);
        if (!standIn.isEmpty()) {
            QCOMPARE(picture.fullSize, QSize(4000, 3000));
            QVERIFY(picture.isStandIn());
            QVERIFY(hasUprightQuadrants(picture.image));
        }
        // Over the pixel limit in full: the largest DCT scale under it, 5/8 here.
        const QImage reduced =
            JpegDecoder::decode(jpegBytes(quadrantPicture(2000, 1000)), 1'000'000);
        QCOMPARE(reduced.size(), QSize(1250, 625));
        QVERIFY(hasUprightQuadrants(reduced));
    }
    // Large pictures turned by hand match Qt's transforms pixel for pixel.
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
    // Every byte is writable, and the picture survives a copy dropped on another thread.
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
        QCOMPARE(image.bytesPerLine(), QImage(size, format).bytesPerLine());
        for (int y = 0; y < image.height(); ++y)
            memset(image.scanLine(y), y & 0xFF, size_t(image.bytesPerLine()));
        std::thread([copy = image]() mutable { copy = QImage(); }).join();
        const QImage kept = image;
        image = QImage();
        QCOMPARE(kept.constScanLine(size.height() - 1)[kept.bytesPerLine() - 1],
                 uchar((size.height() - 1) & 0xFF));
    }
    // The memory of a picture that went serves the next one of its size, and
    // is not taken by a much smaller one meanwhile.
    void goneLargePicturesLendTheirMemory()
    {
        if (!ImageBuffer::keepsMemory())
            QSKIP("large pictures use Qt's allocation in this build");
        // 46 and 16 MiB: no other kept picture of these tests serves either.
        const QSize size(4000, 3000);
        QImage gone = ImageBuffer::allocate(size, QImage::Format_RGB32);
        const uchar *memory = gone.constBits();
        std::thread([picture = std::move(gone)]() mutable { picture = QImage(); }).join();
        const QImage standIn = ImageBuffer::allocate(QSize(2000, 2000), QImage::Format_RGB32);
        const QImage next = ImageBuffer::allocate(size, QImage::Format_RGB32);
        QCOMPARE(next.constBits(), memory);
        QVERIFY(!standIn.isNull() && standIn.constBits() != memory);
    }
    // Faulted in on the decoder's thread when mapped: a decode cancelled part
    // way must not leave faults for the next picture that gets its memory.
    void freshLargePicturesArriveResidentUpToThePool()
    {
        if (!ImageBuffer::keepsMemory())
            QSKIP("large pictures use Qt's allocation in this build");
        // Sizes from 12 MiB up until one is not served by a kept mapping (at
        // most poolEntries are).
        std::vector<QImage> served;
        QImage fresh;
        for (int side = 1800; fresh.isNull(); side += 200) {
            const qsizetype keptBefore = ImageBuffer::pooledBytes();
            QImage picture = ImageBuffer::allocate(QSize(side, side), QImage::Format_RGB32);
            QVERIFY(!picture.isNull());
            if (ImageBuffer::pooledBytes() == keptBefore)
                fresh = picture;
            else
                served.push_back(picture);
        }
        const qsizetype pages =
            (fresh.sizeInBytes() + sysconf(_SC_PAGESIZE) - 1) / sysconf(_SC_PAGESIZE);
        QCOMPARE(residentPages(fresh), pages);
        // Memory the pool never keeps is left to fault as it is written: a
        // hostile file may claim a huge picture and fail before any row.
        const QImage huge = ImageBuffer::allocate(QSize(9000, 8000), QImage::Format_RGB32);
        QVERIFY(huge.sizeInBytes() > ImageBuffer::poolBytes);
        QVERIFY(residentPages(huge) < pages);
    }
    // A few are kept, the newest; a picture larger than the bound never is.
    void keptMemoryIsBounded()
    {
        if (!ImageBuffer::keepsMemory())
            QSKIP("large pictures use Qt's allocation in this build");
        const QSize size(4096, 2048); // 32 MiB
        std::vector<QImage> pictures;
        for (int i = 0; i < ImageBuffer::poolEntries + 2; ++i)
            pictures.push_back(ImageBuffer::allocate(size, QImage::Format_RGB32));
        void *oldest = pictures.front().bits(); // the start of its own mapping
        pictures.clear();
        const qsizetype kept = ImageBuffer::poolEntries * (qsizetype(32) << 20);
        QCOMPARE(ImageBuffer::pooledBytes(), kept);
        // What leaves the pool goes back to the system.
        unsigned char residency = 0;
        QCOMPARE(mincore(oldest, size_t(sysconf(_SC_PAGESIZE)), &residency), -1);
        QCOMPARE(errno, ENOMEM);
        QVERIFY(!ImageBuffer::allocate(QSize(9000, 8000), QImage::Format_RGB32).isNull());
        QCOMPARE(ImageBuffer::pooledBytes(), kept);
    }
    void destroyingReturnsWhileAJobRuns()
    {
        // A read of a FIFO holds the job until the test closes the other end.
        FifoGate gate(file(QStringLiteral("hold.fifo")));
        QVERIFY(gate.isMade());
        const QString jpeg = writeJpeg(file(QStringLiteral("queued.jpg")), quadrantPicture(80, 60));
        auto processor = std::make_unique<RAWProcessor>(m_queues);
        const QFuture<QImage> held = processor->loadImage(gate.path());
        const QFuture<QImage> queued = processor->loadImage(jpeg);
        QTRY_VERIFY(gate.isHeld());
        processor.reset(); // must not wait for the held job
        QVERIFY(!held.isFinished());
        QVERIFY(queued.isCanceled() && queued.isFinished());
        QCOMPARE(queued.resultCount(), 0);
        gate.release();
        QCOMPARE(outcomeOf(held).error, decodeFailed); // an empty file
        m_queues.processorRetirement().waitForDone();
    }
    void outcomesOfEachKindOfFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("previewSize"); // empty: loadImage fails with previewError
        QTest::addColumn<QString>("previewError");
        QTest::addColumn<QString>("developError");
        QTest::newRow("missing") << file(QStringLiteral("missing.nef")) << QSize() << sourceFailed
                                 << sourceFailed;
        QVERIFY(writeBytes(file(QStringLiteral("text.nef")), "no picture in here\n"));
        QTest::newRow("text named nef")
            << file(QStringLiteral("text.nef")) << QSize() << decodeFailed << sourceFailed;
        QTest::newRow("jpeg") << writeJpeg(file(QStringLiteral("plain.jpg")),
                                           quadrantPicture(80, 60))
                              << QSize(80, 60) << QString() << sourceFailed;
        // Sensor data cut short: its preview is intact and still loads.
        const QString cut = file(QStringLiteral("cut.dng"));
        QVERIFY(writeDng(cut, 600, 400, quadrantPicture(300, 200), 1, 0.25));
        QTest::newRow("sensor data cut") << cut << QSize(300, 200) << QString() << decodeFailed;
        // Cut inside the directories instead: LibRaw cannot open it at all.
        const QString cutDirectories = file(QStringLiteral("cut_directories.dng"));
        QVERIFY(writeDng(cutDirectories, 600, 400, quadrantPicture(300, 200)));
        QVERIFY(QFile::resize(cutDirectories, QFileInfo(cutDirectories).size() - 200));
        QTest::newRow("directories cut")
            << cutDirectories << QSize(300, 200) << QString() << sourceFailed;
        const auto camera = [](const char *tag, const char *name, QSize preview,
                               const QString &develop) {
            QTest::newRow(tag) << sample(QString::fromLatin1(name)) << preview
                               << (preview.isEmpty() ? decodeFailed : QString()) << develop;
        };
        camera("nikon nef", "raw/nikon_d70_stripped.nef", QSize(), decodeFailed);
        camera("panasonic rw2", "raw/panasonic_lx3_stripped.rw2", QSize(8, 8), decodeFailed);
        camera("canon cr3", "raw/canon_eosm50_stripped.cr3", QSize(), decodeFailed);
        camera("nikon z9 jxl dng", "raw/nikon_z9_dng17_jxl_cropped.dng", QSize(256, 171),
               sourceFailed);
        camera("sony arw truncated", "broken/sony_zv-e10_truncated_100k.arw", QSize(120, 160),
               sourceFailed);
        camera("jpeg named nef", "broken/jpeg_content_named.nef", QSize(2000, 3008), sourceFailed);
    }
    void outcomesOfEachKindOfFile()
    {
        QFETCH(QString, path);
        QFETCH(QSize, previewSize);
        QFETCH(QString, previewError);
        QFETCH(QString, developError);
        if (path.startsWith(sample({})) && !QFile::exists(path))
            QSKIP("sample files not available");
        const Outcome quick = outcomeOf(m_processor.loadImage(path));
        QCOMPARE(quick.error, previewError);
        QCOMPARE(quick.image.size(), previewSize.isEmpty() ? QSize(0, 0) : previewSize);
        QCOMPARE(outcomeOf(m_processor.decodeRAW(path)).error, developError);
        QCOMPARE(outcomeOf(QtConcurrent::run(&RAWProcessor::loadImageSync, path)).error,
                 previewError);
    }
};

QTEST_GUILESS_MAIN(TestRAWProcessor)
#include "tst_rawprocessor.moc"
