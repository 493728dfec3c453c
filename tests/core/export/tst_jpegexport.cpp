#include "FileSystemFixtures.h"
#include "PixelProbe.h"
#include "export/FrameRenderer.h"
#include "export/NoReplaceFileWriter.h"
#include "model/FolderListing.h"
#include "model/LocalFileName.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mount.h>
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

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

// Writing exported files: names, folder, contents, and never replacing a file.
class TestJpegExport : public QObject
{
    Q_OBJECT

private slots:
    void outputNamesAcrossThreeExports();
    void outputFolderReused();
    void baseNameKeepsInnerDots();
    void jpegReadableAtExpectedSize();
    void existingFileNeverReplaced();
    void nameTakenBetweenChoiceAndWrite();
    void blockedDestinationFolder();
    void badImagesWriteNothing();
    void fileSystemWithoutNoReplaceRenames();
    void failedInPlaceWriteLeavesNothing();
    void staleTemporariesOfOursAreRemoved();
    void folderNameThatIsNotUtf8();
    void longNamesAreShortenedToFit_data();
    void longNamesAreShortenedToFit();
};

void TestJpegExport::outputNamesAcrossThreeExports()
{
    QTemporaryDir dir;
    const QString source = dir.filePath("IMG_0001.JPG");
    QVERIFY(writeBytes(source, "source bytes"));
    const QImage image = plainImage(64, 48, kRed);

    QStringList written;
    for (int i = 0; i < 3; ++i)
        written << FrameRenderer::exportToOutputFolder(image, source);
    const QString folder = dir.filePath("图片边框");
    QCOMPARE(written,
             QStringList({folder + "/IMG_0001_framed.jpg", folder + "/IMG_0001_framed_1.jpg",
                          folder + "/IMG_0001_framed_2.jpg"}));
    QCOMPARE(allEntries(folder), QStringList({"IMG_0001_framed.jpg", "IMG_0001_framed_1.jpg",
                                              "IMG_0001_framed_2.jpg"}));
    // The caller-driven flow, outputURL then exportAsJPEG, continues the sequence.
    const QString fourth = FrameRenderer::outputURL(source);
    QCOMPARE(fourth, folder + "/IMG_0001_framed_3.jpg");
    QVERIFY(FrameRenderer::exportAsJPEG(image, fourth));
    QCOMPARE(readAll(source), QByteArray("source bytes"));
}

void TestJpegExport::outputFolderReused()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("图片边框");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeBytes(folder + "/other_framed.jpg", "keep"));

    const QString path = FrameRenderer::outputURL(dir.filePath("photo.png"));
    QCOMPARE(path, folder + "/photo_framed.jpg");
    QVERIFY(FrameRenderer::exportAsJPEG(plainImage(10, 10, kRed), path));
    QCOMPARE(allEntries(folder), QStringList({"other_framed.jpg", "photo_framed.jpg"}));
    QCOMPARE(readAll(folder + "/other_framed.jpg"), QByteArray("keep"));
}

void TestJpegExport::baseNameKeepsInnerDots()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("图片边框");
    QCOMPARE(FrameRenderer::outputURL(dir.filePath("trip.day1.final.heic")),
             folder + "/trip.day1.final_framed.jpg");
    QCOMPARE(FrameRenderer::outputURL(dir.filePath("noextension")),
             folder + "/noextension_framed.jpg");
    // Nested source folders are created with their own "图片边框".
    QCOMPARE(FrameRenderer::outputURL(dir.filePath("a/b/c.jpg")),
             dir.filePath("a/b/图片边框/c_framed.jpg"));
    QVERIFY(QFileInfo(dir.filePath("a/b/图片边框")).isDir());
}

void TestJpegExport::jpegReadableAtExpectedSize()
{
    QTemporaryDir dir;
    QImage photo = plainImage(600, 400, kRed);
    const auto framed = FrameRenderer::composeFramedImage(photo, {}, FrameStyle());
    QVERIFY(framed);
    const QString path = dir.filePath("out.jpg");
    const mode_t previous = ::umask(022);
    QVERIFY(FrameRenderer::exportAsJPEG(*framed, path));
    ::umask(previous);

    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(600, 448));
    const QImage decoded = reader.read();
    QVERIFY(near(decoded.pixel(300, 200), kRed.rgb(), 6));
    QVERIFY(near(decoded.pixel(300, 430), QColor(Qt::white).rgb(), 3));
    QVERIFY(QFileInfo(path).permissions().testFlag(QFileDevice::ReadOther));
    QCOMPARE(allEntries(dir.path()), QStringList({"out.jpg"}));

    // Higher quality, larger file: the quality argument reaches the encoder.
    QImage noisy(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            noisy.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x ^ y) % 256));
    QVERIFY(FrameRenderer::exportAsJPEG(noisy, dir.filePath("q50.jpg"), 0.5));
    QVERIFY(FrameRenderer::exportAsJPEG(noisy, dir.filePath("q95.jpg")));
    QVERIFY(QFileInfo(dir.filePath("q95.jpg")).size() > QFileInfo(dir.filePath("q50.jpg")).size());
}

void TestJpegExport::existingFileNeverReplaced()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("taken_framed.jpg");
    QVERIFY(writeBytes(path, "precious"));
    QVERIFY(!FrameRenderer::exportAsJPEG(plainImage(32, 32, kRed), path));
    QCOMPARE(readAll(path), QByteArray("precious"));
    QCOMPARE(allEntries(dir.path()), QStringList({"taken_framed.jpg"})); // no temporary left

    // A dangling symlink also occupies the name.
    const QString link = dir.filePath("dangling.jpg");
    QVERIFY(QFile::link(dir.filePath("missing-target"), link));
    QVERIFY(!FrameRenderer::exportAsJPEG(plainImage(32, 32, kRed), link));
    QVERIFY(!QFileInfo::exists(dir.filePath("missing-target")));
}

void TestJpegExport::nameTakenBetweenChoiceAndWrite()
{
    QTemporaryDir dir;
    const QString first = dir.filePath("a_framed.jpg");
    const QString second = dir.filePath("a_framed_1.jpg");
    QStringList offered{first, second};
    // Another writer takes `first` after it was chosen.
    QVERIFY(writeBytes(first, "other writer"));
    const QString written = NoReplaceFileWriter::writeUnderFreeName(QByteArray("new bytes"), [&] {
        return offered.isEmpty() ? QString() : offered.takeFirst();
    });
    QCOMPARE(written, second);
    QCOMPARE(readAll(first), QByteArray("other writer"));
    QCOMPARE(readAll(second), QByteArray("new bytes"));
    QCOMPARE(allEntries(dir.path()), QStringList({"a_framed.jpg", "a_framed_1.jpg"}));
}

void TestJpegExport::blockedDestinationFolder()
{
    QTemporaryDir dir;
    // A file where the "图片边框" folder should be: the folder cannot be made.
    const QString blocker = dir.filePath("图片边框");
    QVERIFY(writeBytes(blocker, "not a folder"));
    const QString source = dir.filePath("photo.jpg");
    const QString path = FrameRenderer::outputURL(source);
    QVERIFY(!path.isEmpty());
    QVERIFY(!FrameRenderer::exportAsJPEG(plainImage(32, 32, kRed), path));
    QVERIFY(FrameRenderer::exportToOutputFolder(plainImage(32, 32, kRed), source).isEmpty());
    QCOMPARE(readAll(blocker), QByteArray("not a folder"));
    QCOMPARE(allEntries(dir.path()), QStringList({"图片边框"}));

    QVERIFY(
        !FrameRenderer::exportAsJPEG(plainImage(8, 8, kRed), dir.filePath("no/such/dir/x.jpg")));
    QVERIFY(!FrameRenderer::exportAsJPEG(plainImage(8, 8, kRed), QString()));
}

void TestJpegExport::badImagesWriteNothing()
{
    QTemporaryDir dir;
    QVERIFY(!FrameRenderer::exportAsJPEG(QImage(), dir.filePath("null.jpg")));
    QVERIFY(!FrameRenderer::exportAsJPEG(QImage(0, 10, QImage::Format_RGB32),
                                         dir.filePath("empty.jpg")));
    QVERIFY(FrameRenderer::exportToOutputFolder(QImage(), dir.filePath("x.jpg")).isEmpty());
    // Formats other than 32-bit are converted, not rejected.
    QImage gray(16, 16, QImage::Format_Grayscale8);
    gray.fill(128);
    QVERIFY(FrameRenderer::exportAsJPEG(gray, dir.filePath("gray.jpg")));
    QCOMPARE(QImageReader(dir.filePath("gray.jpg")).size(), QSize(16, 16));
    QVERIFY(!QFileInfo::exists(dir.filePath("null.jpg")));
    QVERIFY(!QFileInfo::exists(dir.filePath("empty.jpg")));
    const QStringList entries = allEntries(dir.path());
    QCOMPARE(entries.filter(".part").size(), 0);
}

void TestJpegExport::fileSystemWithoutNoReplaceRenames()
{
    QTemporaryDir dir;
    const QString source = dir.filePath("IMG_7.JPG");
    QVERIFY(writeBytes(source, "source bytes"));
    const QString folder = dir.filePath("图片边框");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeBytes(folder + "/IMG_7_framed_1.jpg", "precious"));

    const WithoutNoReplaceRenames noRenames;
    QStringList written;
    for (int i = 0; i < 3; ++i)
        written << FrameRenderer::exportToOutputFolder(plainImage(64, 48, kRed), source);
    QCOMPARE(written, QStringList({folder + "/IMG_7_framed.jpg", folder + "/IMG_7_framed_2.jpg",
                                   folder + "/IMG_7_framed_3.jpg"}));
    QCOMPARE(readAll(folder + "/IMG_7_framed_1.jpg"), QByteArray("precious"));
    for (const QString &path : std::as_const(written))
        QVERIFY(near(QImage(path).pixel(32, 24), kRed.rgb(), 6));
    QVERIFY(!FrameRenderer::exportAsJPEG(plainImage(8, 8, kRed), written.first()));
    QCOMPARE(allEntries(folder), QStringList({"IMG_7_framed.jpg", "IMG_7_framed_1.jpg",
                                              "IMG_7_framed_2.jpg", "IMG_7_framed_3.jpg"}));
}

void TestJpegExport::failedInPlaceWriteLeavesNothing()
{
    QTemporaryDir dir;
    const QString mount = dir.filePath("card");
    QDir().mkpath(mount);
    if (::geteuid() != 0 ||
        ::mount("kelvane-test", QFile::encodeName(mount).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("Cannot mount a tmpfs here (needs root): a write running out of space in place is "
              "not exercised");
    // Room for the temporary copy, not for a second one under the final name.
    QByteArray bytes(40 * 1024, 'x');
    {
        const WithoutNoReplaceRenames noRenames;
        QVERIFY(!NoReplaceFileWriter::write(bytes, mount + "/big_framed.jpg"));
    }
    const QStringList left = allEntries(mount);
    ::umount2(QFile::encodeName(mount).constData(), MNT_DETACH);
    QCOMPARE(left, QStringList());
}

void TestJpegExport::staleTemporariesOfOursAreRemoved()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("图片边框");
    QVERIFY(QDir().mkpath(folder));
    const QDateTime twoMinutesAgo = QDateTime::currentDateTime().addSecs(-120);
    const auto leave = [&](const QString &name, bool old) {
        const QString path = folder + "/" + name;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("half a JPEG");
        file.flush();
        if (old)
            QVERIFY(file.setFileTime(twoMinutesAgo, QFileDevice::FileModificationTime));
    };
    leave(".kelvane-0123456789abcdef.part", true);         // a crashed export: goes
    leave(".kelvane-fedcba9876543210.part", false);        // may be being written: stays
    leave(".kelvane-archive-0123456789abcdef.part", true); // the archive's: stays
    leave(".kelvane-notours.part", true);                  // not our pattern: stays
    leave("photo.part", true);

    QVERIFY(!FrameRenderer::exportToOutputFolder(plainImage(8, 8, kRed), dir.filePath("a.jpg"))
                 .isEmpty());
    QCOMPARE(
        allEntries(folder),
        QStringList({".kelvane-archive-0123456789abcdef.part", ".kelvane-fedcba9876543210.part",
                     ".kelvane-notours.part", "a_framed.jpg", "photo.part"}));
}

void TestJpegExport::folderNameThatIsNotUtf8()
{
    QTemporaryDir dir;
    // QDir cannot remove a name that is not UTF-8.
    const auto removeAll = qScopeGuard([&] { QProcess::execute("rm", {"-rf", dir.path()}); });
    const QByteArray folder = QFile::encodeName(dir.path()) + "/Kr\xf6ller";
    QVERIFY(::mkdir(folder.constData(), 0777) == 0);
    // A crashed export's temporary there is swept as anywhere else.
    const QByteArray stale = folder + "/图片边框/.kelvane-0123456789abcdef.part";
    QVERIFY(::mkdir((folder + "/图片边框").constData(), 0777) == 0);
    QVERIFY(::close(::open(stale.constData(), O_CREAT | O_WRONLY, 0666)) == 0);
    const timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 120, 0}};
    QVERIFY(::utimensat(AT_FDCWD, stale.constData(), old, 0) == 0);
    const QString source = LocalFileName::decode(folder) + "/photo.jpg";
    const QString written = FrameRenderer::exportToOutputFolder(plainImage(8, 8, kRed), source);
    QCOMPARE(LocalFileName::encode(written), folder + "/图片边框/photo_framed.jpg");
    struct stat info;
    QVERIFY(::stat(LocalFileName::encode(written).constData(), &info) == 0);
    QCOMPARE(FolderListing::names(QFile::encodeName(dir.path()))->size(), 1); // no look-alike
    QVERIFY(::lstat(stale.constData(), &info) != 0);
}

void TestJpegExport::longNamesAreShortenedToFit_data()
{
    QTest::addColumn<QString>("stem");
    QTest::newRow("Latin, 251 bytes") << QString(251, QLatin1Char('a'));
    QTest::newRow("CJK, 249 bytes") << QString(83, QChar(0x56FE));
    QTest::newRow("emoji, 248 bytes") << QString::fromUtf8("\xF0\x9F\x98\x80").repeated(62);
}

void TestJpegExport::longNamesAreShortenedToFit()
{
    QFETCH(QString, stem);
    QTemporaryDir dir;
    const QString source = dir.filePath(stem + ".jpg");
    QVERIFY(writeBytes(source, "source bytes"));
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        const QString written = FrameRenderer::exportToOutputFolder(plainImage(8, 8, kRed), source);
        QVERIFY2(!written.isEmpty(), qPrintable(QString::number(i)));
        names << QFileInfo(written).fileName();
    }
    QCOMPARE(allEntries(dir.filePath("图片边框")).size(), 3);
    QCOMPARE(names.removeDuplicates(), 0);
    for (const QString &name : std::as_const(names)) {
        QVERIFY(name.toUtf8().size() <= 255);
        QVERIFY(name.isValidUtf16()); // whole characters only
        const QString kept = name.left(name.indexOf("_framed"));
        QVERIFY(stem.startsWith(kept) && kept.size() > stem.size() / 2);
    }
}

QTEST_MAIN(TestJpegExport)
#include "tst_jpegexport.moc"
