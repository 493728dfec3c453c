#include "FifoGate.h"
#include "ImagingFixtures.h"
#include "imaging/ImageLoadError.h"
#include "imaging/RAWProcessor.h"
#include "model/WorkQueues.h"

#include <QColorSpace>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <lcms2.h>

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

const QString sourceFailed = QStringLiteral("无法读取图片文件");
const QString decodeFailed = QStringLiteral("图片解码失败");

// sRGB value of an 8-bit Display P3 colour, computed by Little CMS from Qt's
// own Display P3 profile: an independent route to the expected pixel.
QColor p3ToSRGB(QColor p3)
{
    const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    cmsHPROFILE input = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE output = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform =
        cmsCreateTransform(input, TYPE_RGB_8, output, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    const uchar in[3] = {uchar(p3.red()), uchar(p3.green()), uchar(p3.blue())};
    uchar out[3] = {};
    cmsDoTransform(transform, in, out, 1);
    cmsDeleteTransform(transform);
    cmsCloseProfile(input);
    cmsCloseProfile(output);
    return QColor(out[0], out[1], out[2]);
}

} // namespace

class TestRAWProcessor : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    WorkQueues m_queues;
    RAWProcessor m_processor{m_queues};
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString textFile(const QString &name)
    {
        QFile f(file(name));
        f.open(QIODevice::WriteOnly);
        f.write("no picture in here\n");
        return f.fileName();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void loadImageIsFullSizeAndUpright_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation");
        for (int n : {1, 3, 6, 8}) {
            QTest::addRow("jpeg %d", n) << "jpeg" << n;
            QTest::addRow("heic %d", n) << "heic" << n;
        }
        QTest::newRow("avif 6") << "avif" << 6;
        QTest::newRow("png") << "png" << 1;
        QTest::newRow("tiff") << "tiff" << 1;
        QTest::newRow("webp") << "webp" << 1;
    }
    void loadImageIsFullSizeAndUpright()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        const QImage upright = quadrantPicture(1200, 800);
        const QImage stored = storedForOrientation(upright, orientation);
        const QString path =
            file(QStringLiteral("full_%1_%2.%3").arg(format).arg(orientation).arg(format));
        if (format == QLatin1String("jpeg")) {
            QVERIFY(!writeJpeg(path, stored).isEmpty());
            editExif(path, [&](Exiv2::ExifData &e) {
                e["Exif.Image.Orientation"] = uint16_t(orientation);
            });
        } else if (format == QLatin1String("heic") || format == QLatin1String("avif")) {
            // The container carries the orientation; a contradicting EXIF tag
            // inside must not be applied a second time.
            QVERIFY(writeHeif(path, stored, format == QLatin1String("avif"), orientation, 8));
        } else {
            QVERIFY(stored.save(path, format.toLatin1().constData()));
        }
        const Outcome result = outcomeOf(m_processor.loadImage(path));
        QCOMPARE(result.error, QString());
        QCOMPARE(result.image.size(), upright.size());
        QVERIFY(hasUprightQuadrants(result.image));
        if (result.image.format() == QImage::Format_RGB32) // padding byte must be opaque
            QCOMPARE(int(result.image.constBits()[3]), 0xFF);
    }

    void displayP3IsConvertedToSRGB_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("jpeg") << "jpeg";
        QTest::newRow("png") << "png";
        QTest::newRow("heic nclx") << "heic";
        QTest::newRow("avif nclx") << "avif";
        QTest::newRow("heic icc") << "heic-icc";
    }
    void displayP3IsConvertedToSRGB()
    {
        QFETCH(QString, format);
        // A saturated red inside the sRGB gamut, so that conversion shows.
        const QColor p3Red(220, 40, 40);
        const QColor expected = p3ToSRGB(p3Red);
        QVERIFY2(qAbs(expected.red() - p3Red.red()) > 10, "test colour must move in conversion");
        QImage picture(256, 256, QImage::Format_RGB32);
        picture.fill(p3Red);
        const QString path = file(QStringLiteral("p3.") + format);
        if (format == QLatin1String("heic-icc")) {
            const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
            QVERIFY(writeHeif(path, picture, false, 1, 0, 1, 0, icc));
        } else if (format == QLatin1String("heic") || format == QLatin1String("avif")) {
            QVERIFY(writeHeif(path, picture, format == QLatin1String("avif"), 1, 0, 12));
        } else {
            picture.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
            QVERIFY(picture.save(path, format.toLatin1().constData(), 95));
        }
        const QImage full = RAWProcessor::loadImageSync(path);
        const QColor actual = full.pixelColor(128, 128);
        QVERIFY2(
            colourNear(actual, expected, 4),
            qPrintable(QStringLiteral("got %1 expected %2").arg(actual.name(), expected.name())));
        QVERIFY(full.colorSpace() == QColorSpace(QColorSpace::SRgb));
    }

    void untaggedPicturesStayAsTheyAre()
    {
        QImage picture(64, 64, QImage::Format_RGB32);
        picture.fill(QColor(220, 40, 40));
        const QString path = file(QStringLiteral("untagged.png"));
        QVERIFY(picture.save(path));
        QCOMPARE(RAWProcessor::loadImageSync(path).pixelColor(10, 10), QColor(220, 40, 40));
    }

    void rawPreviewAndFullDevelopment_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::newRow("landscape") << 1;
        QTest::newRow("rotated") << 6;
    }
    void rawPreviewAndFullDevelopment()
    {
        QFETCH(int, orientation);
        const QString path = file(QStringLiteral("bayer_%1.dng").arg(orientation));
        QImage preview(300, 200, QImage::Format_RGB32);
        preview.fill(Qt::green);
        QVERIFY(writeDng(path, 600, 400, preview, orientation));
        const bool rotated = orientation == 6;

        const Outcome quick = outcomeOf(m_processor.loadImage(path));
        QCOMPARE(quick.error, QString());
        QCOMPARE(quick.image.size(), rotated ? QSize(200, 300) : QSize(300, 200));
        QVERIFY(colourNear(quick.image.pixelColor(50, 50), Qt::green, 30));

        const Outcome developed = outcomeOf(m_processor.decodeRAW(path));
        QCOMPARE(developed.error, QString());
        QCOMPARE(developed.image.size(), rotated ? QSize(400, 600) : QSize(600, 400));
        // A grey scene stays grey with as-shot (neutral) white balance.
        const QColor centre =
            developed.image.pixelColor(developed.image.width() / 2, developed.image.height() / 2);
        QVERIFY2(qAbs(centre.red() - centre.green()) < 30 &&
                     qAbs(centre.blue() - centre.green()) < 30,
                 qPrintable(centre.name()));
    }

    // A full-size JPEG preview shows as quickly as a JPEG file: reduced
    // first, turned as the RAW file says, then in full.
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

    void rawContextIsCreatedOnceAndReused()
    {
        RAWProcessor processor(m_queues);
        QCOMPARE(processor.rawContextCount(), 0);
        const QString path = file(QStringLiteral("reuse.dng"));
        QVERIFY(writeDng(path, 128, 96, quadrantPicture(64, 48)));
        QVERIFY(!processor.loadImage(path).result().isNull());
        QCOMPARE(processor.rawContextCount(), 0); // the quick load does not need it
        QCOMPARE(outcomeOf(processor.decodeRAW(path)).image.size(), QSize(128, 96));
        QCOMPARE(outcomeOf(processor.decodeRAW(path)).image.size(), QSize(128, 96));
        QCOMPARE(processor.rawContextCount(), 1);
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
        // The job that had not started is dropped at once, without a result.
        QVERIFY(queued.isCanceled() && queued.isFinished());
        QCOMPARE(queued.resultCount(), 0);
        gate.release();
        QCOMPARE(outcomeOf(held).error, decodeFailed); // an empty file
        m_queues.processorRetirement().waitForDone();
    }

    void errorsCarryTheirTexts()
    {
        const QString missing = file(QStringLiteral("missing.nef"));
        QCOMPARE(outcomeOf(m_processor.loadImage(missing)).error, sourceFailed);
        QCOMPARE(outcomeOf(m_processor.decodeRAW(missing)).error, sourceFailed);

        const QString text = textFile(QStringLiteral("text.nef"));
        QCOMPARE(outcomeOf(m_processor.loadImage(text)).error, decodeFailed);
        QCOMPARE(outcomeOf(m_processor.decodeRAW(text)).error, sourceFailed);

        const QString jpeg = writeJpeg(file(QStringLiteral("plain.jpg")), quadrantPicture(80, 60));
        QCOMPARE(outcomeOf(m_processor.decodeRAW(jpeg)).error, sourceFailed);

        try {
            RAWProcessor::loadImageSync(missing);
            QFAIL("a missing file must throw");
        } catch (const ImageLoadError &error) {
            QCOMPARE(error.kind(), ImageLoadError::Kind::sourceCreationFailed);
        }
    }

    void sensorDataCutShortFailsToDevelop()
    {
        const QString path = file(QStringLiteral("cut.dng"));
        QVERIFY(writeDng(path, 600, 400, quadrantPicture(300, 200), 1, 0.25));
        QCOMPARE(outcomeOf(m_processor.decodeRAW(path)).error, decodeFailed);
        // Its preview is intact and still loads.
        QCOMPARE(outcomeOf(m_processor.loadImage(path)).image.size(), QSize(300, 200));
        // Cut inside the directories instead: LibRaw cannot open it at all.
        const QString cut = file(QStringLiteral("cut_directories.dng"));
        QVERIFY(writeDng(cut, 600, 400, quadrantPicture(300, 200)));
        QFile dng(cut);
        QVERIFY(dng.resize(dng.size() - 200));
        QCOMPARE(outcomeOf(m_processor.decodeRAW(cut)).error, sourceFailed);
    }

    void cameraSamples_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("previewSize"); // empty: loadImage must fail
        QTest::addColumn<QString>("developError");
        QTest::newRow("fuji raf") << "raw/fujifilm_s5pro_stripped.raf" << QSize(160, 120)
                                  << decodeFailed;
        QTest::newRow("nikon nef") << "raw/nikon_d70_stripped.nef" << QSize() << decodeFailed;
        QTest::newRow("iphone dng")
            << "raw/apple_iphone12pro_proraw_stripped.dng" << QSize() << decodeFailed;
        QTest::newRow("panasonic rw2")
            << "raw/panasonic_lx3_stripped.rw2" << QSize(8, 8) << decodeFailed;
        QTest::newRow("canon cr3") << "raw/canon_eosm50_stripped.cr3" << QSize() << decodeFailed;
        QTest::newRow("nikon z9 jxl dng")
            << "raw/nikon_z9_dng17_jxl_cropped.dng" << QSize(256, 171) << sourceFailed;
        QTest::newRow("sony arw truncated")
            << "broken/sony_zv-e10_truncated_100k.arw" << QSize(120, 160) << sourceFailed;
        QTest::newRow("jpeg named nef")
            << "broken/jpeg_content_named.nef" << QSize(2000, 3008) << sourceFailed;
    }
    void cameraSamples()
    {
        QFETCH(QString, name);
        QFETCH(QSize, previewSize);
        QFETCH(QString, developError);
        const QString path = sample(name);
        if (!QFile::exists(path))
            QSKIP("sample RAW files not available");
        const Outcome quick = outcomeOf(m_processor.loadImage(path));
        if (previewSize.isEmpty()) {
            QCOMPARE(quick.error, decodeFailed);
        } else {
            QCOMPARE(quick.error, QString());
            QCOMPARE(quick.image.size(), previewSize);
        }
        QCOMPARE(outcomeOf(m_processor.decodeRAW(path)).error, developError);
    }
};

QTEST_GUILESS_MAIN(TestRAWProcessor)
#include "tst_rawprocessor.moc"
