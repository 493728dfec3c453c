#include "EditorFixtures.h"
#include "PixelProbe.h"
#include "export/FrameRenderer.h"
#include "export/JpegEncoder.h"
#include "export/RenderPipeline.h"
#include "model/FolderListing.h"
#include "model/LocalFileName.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace PixelProbe;

namespace {

const QColor kRed(220, 20, 20);

QStringList allEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestJpegExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void outputNamesContentsAndModes()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath("IMG_0001.JPG");
        QVERIFY(!EditorFixtures::writeBytes(source, "source bytes").isEmpty());
        const QImage image = plainImage(64, 48, kRed);
        QStringList written;
        for (int i = 0; i < 3; ++i)
            written << FrameRenderer::exportToOutputFolder(image, source);
        const QString folder = dir.filePath("图片边框");
        QCOMPARE(written,
                 QStringList({folder + "/IMG_0001_framed.jpg", folder + "/IMG_0001_framed_1.jpg",
                              folder + "/IMG_0001_framed_2.jpg"}));
        // The caller-driven flow, outputURL then exportAsJPEG, continues the sequence.
        const QString fourth = FrameRenderer::outputURL(source);
        QCOMPARE(fourth, folder + "/IMG_0001_framed_3.jpg");
        const mode_t previous = ::umask(022);
        QVERIFY(FrameRenderer::exportAsJPEG(image, fourth));
        ::umask(previous);
        QImageReader reader(fourth);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage read = reader.read();
        QVERIFY(read.size() == image.size() && near(read.pixel(30, 20), kRed.rgb(), 6));
        QVERIFY(QFileInfo(fourth).permissions().testFlag(QFileDevice::ReadOther)); // umask applies
        QCOMPARE(allEntries(folder).size(), 4); // no temporary left behind
        const QByteArray fourthBytes = readAll(fourth);
        QVERIFY(!FrameRenderer::exportAsJPEG(plainImage(8, 8, kRed), fourth)); // never replaced
        QCOMPARE(readAll(fourth), fourthBytes);
        QCOMPARE(readAll(source), QByteArray("source bytes"));
        // Names keep inner dots; nested sources get their own folder; others' files stay.
        QCOMPARE(FrameRenderer::outputURL(dir.filePath("trip.day1.heic")),
                 folder + "/trip.day1_framed.jpg");
        QCOMPARE(FrameRenderer::outputURL(dir.filePath("noext")), folder + "/noext_framed.jpg");
        QCOMPARE(FrameRenderer::outputURL(dir.filePath("a/b/c.jpg")),
                 dir.filePath("a/b/图片边框/c_framed.jpg"));
        QVERIFY(QFileInfo(dir.filePath("a/b/图片边框")).isDir());
        // Higher quality, larger file: the quality argument reaches the encoder.
        const QImage photo = EditorFixtures::photo(256, 256);
        QVERIFY(FrameRenderer::exportAsJPEG(photo, dir.filePath("q50.jpg"), 0.5));
        QVERIFY(FrameRenderer::exportAsJPEG(photo, dir.filePath("q95.jpg")));
        QVERIFY(QFileInfo(dir.filePath("q95.jpg")).size() >
                QFileInfo(dir.filePath("q50.jpg")).size());
    }

    // The export paints the frame a band at a time as the encoder reads it and
    // writes the stream while it is compressed: the file must be, byte for
    // byte, the JPEG of the whole decorated canvas with its EXIF and profile.
    void streamedExportIsTheWholeCanvasEncoded_data()
    {
        QTest::addColumn<QImage>("photo");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("border");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("position");
        QTest::addColumn<double>("quality");
        QTest::addColumn<double>("margin");
        using Kind = WatermarkConfig::Kind;
        using Position = WatermarkConfig::Position;
        const QImage photo = EditorFixtures::photo(600, 400);
        const auto row = [](const char *name, const QImage &image, EditMode mode, bool border,
                            Kind kind, Position position, double quality = 0.95,
                            double margin = 0.03) {
            QTest::newRow(name) << image << int(mode) << border << int(kind) << int(position)
                                << quality << margin;
        };
        row("both, text bottom right", photo, EditMode::both, false, Kind::text,
            Position::bottomRight);
        row("both, text top left, accurate DCT", photo, EditMode::both, false, Kind::text,
            Position::topLeft, 0.97);
        row("fractional bar, text in the middle", EditorFixtures::photo(403, 302), EditMode::both,
            false, Kind::text, Position::midCenter);
        row("portrait with border", EditorFixtures::photo(300, 500), EditMode::both, true,
            Kind::text, Position::bottomCenter);
        // The photo's place on the canvas is (1.25, 0.5): rounded the same way in every band.
        row("border at half a pixel", EditorFixtures::photo(1250, 800), EditMode::frame, true,
            Kind::text, Position::bottomCenter);
        row("frame only", photo, EditMode::frame, false, Kind::text, Position::bottomRight);
        row("transparent photo", EditorFixtures::photo(600, 400, QImage::Format_ARGB32),
            EditMode::both, false, Kind::text, Position::topRight);
        row("tiled watermark", photo, EditMode::both, false, Kind::tiled, Position::bottomRight);
        row("watermark only", photo, EditMode::watermark, false, Kind::text, Position::bottomLeft);
        row("margin out of range", photo, EditMode::both, false, Kind::text, Position::topLeft,
            0.95, std::numeric_limits<double>::quiet_NaN());
    }

    void streamedExportIsTheWholeCanvasEncoded()
    {
        QFETCH(QImage, photo);
        QFETCH(int, mode);
        QFETCH(bool, border);
        QFETCH(int, kind);
        QFETCH(int, position);
        QFETCH(double, quality);
        QFETCH(double, margin);
        RenderInputs inputs;
        inputs.mode = EditMode(mode);
        inputs.style.borderEnabled = border;
        inputs.exif.cameraModel = "ILCE-7M4";
        inputs.exif.lensModel = "FE 24-70mm F2.8 GM II";
        inputs.exif.author = "林晓";
        inputs.logo = plainImage(120, 40, kRed);
        inputs.rightMainText = "35mm f/2.8 1/250s ISO 100";
        inputs.watermark.kind = WatermarkConfig::Kind(kind);
        inputs.watermark.position = WatermarkConfig::Position(position);
        inputs.watermark.text = "© Kelvane 水印";
        inputs.watermark.margin = margin;
        Exiv2::ExifData exif;
        exif["Exif.Image.Make"] = std::string("SONY");
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(100);
        const ExportMetadata metadata(exif);

        QTemporaryDir dir;
        const QString path = dir.filePath("streamed.jpg");
        QVERIFY(RenderPipeline::exportAsJPEG(photo, inputs, path, quality, metadata));
        const QImage whole = RenderPipeline::render(photo, inputs);
        const QByteArray expected =
            JpegEncoder::encode(whole, quality, metadata.jpegSegments(whole.size()));
        const QByteArray written = readAll(path);
        QCOMPARE(written.size(), expected.size());
        QVERIFY(written == expected);
        QCOMPARE(allEntries(dir.path()), QStringList({"streamed.jpg"}));
    }

    // Nothing written for a blocked folder (a file named "图片边框"), a missing
    // folder, no path, or an image without pixels; other formats are converted.
    void refusedWritesLeaveNothing()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath("图片边框");
        QVERIFY(!EditorFixtures::writeBytes(blocker, "not a folder").isEmpty());
        const QString source = dir.filePath("photo.jpg");
        const QImage image = plainImage(32, 32, kRed);
        QVERIFY(!FrameRenderer::outputURL(source).isEmpty());
        QVERIFY(!FrameRenderer::exportAsJPEG(image, FrameRenderer::outputURL(source)));
        QVERIFY(FrameRenderer::exportToOutputFolder(image, source).isEmpty());
        QCOMPARE(readAll(blocker), QByteArray("not a folder"));
        for (const auto &[refused, path] :
             {std::pair{image, dir.filePath("no/such/dir/x.jpg")},
              {image, QString()},
              {QImage(), dir.filePath("null.jpg")},
              {QImage(0, 10, QImage::Format_RGB32), dir.filePath("empty.jpg")}})
            QVERIFY2(!FrameRenderer::exportAsJPEG(refused, path), qPrintable(path));
        QVERIFY(FrameRenderer::exportToOutputFolder(QImage(), dir.filePath("x.jpg")).isEmpty());
        QCOMPARE(allEntries(dir.path()), QStringList({"图片边框"}));
        QImage gray(16, 16, QImage::Format_Grayscale8);
        gray.fill(128);
        QVERIFY(FrameRenderer::exportAsJPEG(gray, dir.filePath("gray.jpg")));
        QCOMPARE(QImageReader(dir.filePath("gray.jpg")).size(), QSize(16, 16));
    }

    void folderNameThatIsNotUtf8()
    {
        QTemporaryDir dir;
        // QDir cannot remove a name that is not UTF-8.
        const auto removeAll = qScopeGuard([&] { QProcess::execute("rm", {"-rf", dir.path()}); });
        const QByteArray folder = QFile::encodeName(dir.path()) + "/Kr\xf6ller";
        QVERIFY(::mkdir(folder.constData(), 0777) == 0);
        // A crashed export's stale temporary there goes.
        QVERIFY(::mkdir((folder + "/图片边框").constData(), 0777) == 0);
        const QByteArray stale = folder + "/图片边框/.kelvane-0123456789abcdef.part";
        QVERIFY(::close(::open(stale.constData(), O_CREAT | O_WRONLY, 0666)) == 0);
        const timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 7200, 0}};
        QVERIFY(::utimensat(AT_FDCWD, stale.constData(), old, 0) == 0);
        const QString source = LocalFileName::decode(folder) + "/photo.jpg";
        const QString written = FrameRenderer::exportToOutputFolder(plainImage(8, 8, kRed), source);
        QCOMPARE(LocalFileName::encode(written), folder + "/图片边框/photo_framed.jpg");
        struct stat info;
        QVERIFY(::stat(LocalFileName::encode(written).constData(), &info) == 0);
        QCOMPARE(FolderListing::names(QFile::encodeName(dir.path()))->size(), 1); // no look-alike
        QCOMPARE(FolderListing::names(folder + "/图片边框")->size(), 1);
    }

    // Latin (251 bytes), CJK (249 bytes) and emoji (248 bytes) stems.
    void longNamesAreShortenedToFit()
    {
        for (const QString &stem : {QString(251, QLatin1Char('a')), QString(83, QChar(0x56FE)),
                                    QString::fromUtf8("\xF0\x9F\x98\x80").repeated(62)}) {
            QTemporaryDir dir;
            const QString source = dir.filePath(stem + ".jpg");
            QVERIFY(!EditorFixtures::writeBytes(source, "source bytes").isEmpty());
            QStringList names;
            for (int i = 0; i < 3; ++i) {
                const QString written =
                    FrameRenderer::exportToOutputFolder(plainImage(8, 8, kRed), source);
                QVERIFY2(!written.isEmpty(), qPrintable(QString::number(i)));
                names << QFileInfo(written).fileName();
            }
            QCOMPARE(allEntries(dir.filePath("图片边框")).size(), 3);
            QCOMPARE(names.removeDuplicates(), 0);
            for (const QString &name : std::as_const(names)) {
                QVERIFY(name.toUtf8().size() <= 255 && name.isValidUtf16()); // whole characters
                const QString kept = name.left(name.indexOf("_framed"));
                QVERIFY(stem.startsWith(kept) && kept.size() > stem.size() / 2);
            }
        }
    }
};

QTEST_MAIN(TestJpegExport)
#include "tst_jpegexport.moc"
