#include "BrowseFixtures.h"
#include "FileSystemFixtures.h"
#include "export/FrameRenderer.h"
#include "imaging/ImageDecoder.h"
#include "imaging/InFileRatingReader.h"
#include "model/StarRatingStore.h"
#include "model/WorkQueues.h"
#include "state/ArchiveMover.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using BrowseFixtures::contents;
using BrowseFixtures::writeImage;

// The archive's file work on real folders: free names, no-replace moves,
// moves onto another file system, and the whole archive against AppState.
class TestArchiveMover : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void uniqueNamesCountUpFromOne();
    void uniqueNameTreatsADanglingLinkAsTaken();
    void movesWithinAFileSystem();
    void clashesNeverReplaceAFile();
    void sameNamesFromTwoFoldersBothSurvive();
    void aMissingSourceIsSkipped();
    void destinationThatIsAFileMovesNothing();
    void existingFolderIsReused();
    void movesOntoAnotherFileSystem();
    void failedCopyLeavesNoPartialFile();
    void freeNameSearchStopsAtUnusableNames();
    void movesWhereNoRenameRefusesANameCopyInPlace();
    void copiesLeftByAKilledArchiveAreRemoved();
    void copyOfAnotherRunningArchiveIsNeverRemoved();

    void rawAndJpegShareTheirStemSidecar();
    void ownSidecarTravelsUnderThePhotosNumber();
    void sidecarsAreFoundInAnyCase_data();
    void sidecarsAreFoundInAnyCase();
    void sidecarThatCannotMoveKeepsItsPhoto();
    void archiveCarriesSidecarsWhateverTheSyncSetting();

    void archiveOfThreeSelectedImages();
    void archiveWithNoImagesStillReports();
    void archiveIntoAFileReportsAndKeepsEverything();
    void archiveAfterTheOpenFolderWasDeletedCreatesNothing_data();
    void archiveAfterTheOpenFolderWasDeletedCreatesNothing();
    void archiveOfUnusableNamesStillReportsAndRescans();
    void secondArchiveIsRefusedWhileOneRuns();
    void folderOpenedMeanwhileKeepsItsFiltersAndSelection();
    void folderCleanUpDuringAnArchiveKeepsTheMovingRatings();
    void namesWithEmojiWorkThroughout();

private:
    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    // A tmpfs at `path` (root only); false when the machine does not allow it.
    bool mountTmpfs(const QString &path, const QByteArray &options);
    QStringList filesBelow(const QString &folder) const;
    static QString writeFile(const QString &path, const QByteArray &bytes);

    WorkQueues m_queues;
    QTemporaryDir m_dir;
    QStringList m_mounts;
};

void TestArchiveMover::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
    QDir().mkpath(root());
}

void TestArchiveMover::cleanup()
{
    for (const QString &mount : std::as_const(m_mounts))
        ::umount2(QFile::encodeName(mount).constData(), MNT_DETACH);
    m_mounts.clear();
}

bool TestArchiveMover::mountTmpfs(const QString &path, const QByteArray &options)
{
    if (::geteuid() != 0)
        return false;
    QDir().mkpath(path);
    if (::mount("kelvane-test", QFile::encodeName(path).constData(), "tmpfs", 0,
                options.constData()) != 0) {
        qWarning("mount -t tmpfs failed: %s", std::strerror(errno));
        return false;
    }
    m_mounts << path;
    return true;
}

QStringList TestArchiveMover::filesBelow(const QString &folder) const
{
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QDir(folder).relativeFilePath(it.next());
    names.sort();
    return names;
}

QString TestArchiveMover::writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

void TestArchiveMover::uniqueNamesCountUpFromOne()
{
    const QString folder = root();
    QCOMPARE(ArchiveMover::uniqueURL("IMG_0001.JPG", folder), folder + "/IMG_0001.JPG");
    writeImage(folder, "IMG_0001.JPG");
    QCOMPARE(ArchiveMover::uniqueURL("IMG_0001.JPG", folder), folder + "/IMG_0001_1.JPG");
    writeImage(folder, "IMG_0001_1.JPG");
    QCOMPARE(ArchiveMover::uniqueURL("IMG_0001.JPG", folder), folder + "/IMG_0001_2.JPG");
    writeImage(folder, "a.b.jpg");
    QCOMPARE(ArchiveMover::uniqueURL("a.b.jpg", folder), folder + "/a.b_1.jpg");
    // A folder of that name is taken as well.
    QDir().mkpath(folder + "/x.png");
    QCOMPARE(ArchiveMover::uniqueURL("x.png", folder), folder + "/x_1.png");
}

void TestArchiveMover::uniqueNameTreatsADanglingLinkAsTaken()
{
    QVERIFY(QFile::link(root() + "/nowhere.jpg", root() + "/link.jpg"));
    QCOMPARE(ArchiveMover::uniqueURL("link.jpg", root()), root() + "/link_1.jpg");
}

void TestArchiveMover::movesWithinAFileSystem()
{
    const QString source = writeImage(root(), "IMG_1.jpg");
    const QByteArray bytes = contents(source);
    const QString target = root() + "/归档-3星";
    QString error;
    QVERIFY(ArchiveMover::createFolder(target, &error));
    const QString moved = ArchiveMover::moveFile(source, target);
    QCOMPARE(moved, target + "/IMG_1.jpg");
    QVERIFY(!QFileInfo::exists(source));
    QCOMPARE(contents(moved), bytes);
}

void TestArchiveMover::clashesNeverReplaceAFile()
{
    const QString target = root() + "/批量归档";
    const QString existing = writeImage(target, "IMG_1.jpg", Qt::blue);
    const QString existingNext = writeImage(target, "IMG_1_1.jpg", Qt::green);
    const QByteArray existingBytes = contents(existing);
    const QByteArray existingNextBytes = contents(existingNext);
    const QString source = writeImage(root(), "IMG_1.jpg", Qt::red);
    const QByteArray bytes = contents(source);

    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({source}, target);
    QVERIFY(outcome.folderReady);
    QCOMPARE(outcome.movedSources, QStringList{source});
    QCOMPARE(outcome.destinations, QStringList{target + "/IMG_1_2.jpg"});
    QCOMPARE(contents(existing), existingBytes);
    QCOMPARE(contents(existingNext), existingNextBytes);
    QCOMPARE(contents(target + "/IMG_1_2.jpg"), bytes);
}

void TestArchiveMover::sameNamesFromTwoFoldersBothSurvive()
{
    const QString first = writeImage(root(), "a/DSC_7.jpg", Qt::red);
    const QString second = writeImage(root(), "b/DSC_7.jpg", Qt::blue);
    const QByteArray firstBytes = contents(first), secondBytes = contents(second);
    const QString target = root() + "/批量归档";
    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({first, second}, target);
    QCOMPARE(outcome.destinations, (QStringList{target + "/DSC_7.jpg", target + "/DSC_7_1.jpg"}));
    QCOMPARE(contents(target + "/DSC_7.jpg"), firstBytes);
    QCOMPARE(contents(target + "/DSC_7_1.jpg"), secondBytes);
    QCOMPARE(filesBelow(root()), (QStringList{"批量归档/DSC_7.jpg", "批量归档/DSC_7_1.jpg"}));
}

void TestArchiveMover::aMissingSourceIsSkipped()
{
    const QString kept = writeImage(root(), "IMG_2.jpg");
    const QString target = root() + "/out";
    const ArchiveMover::Outcome outcome =
        ArchiveMover::moveFiles({root() + "/vanished.jpg", kept}, target);
    QVERIFY(outcome.folderReady);
    QCOMPARE(outcome.movedSources, QStringList{kept});
    QCOMPARE(filesBelow(root()), QStringList{"out/IMG_2.jpg"});
}

void TestArchiveMover::destinationThatIsAFileMovesNothing()
{
    const QString source = writeImage(root(), "IMG_3.jpg");
    const QString blocker = root() + "/批量归档";
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a folder");
    file.close();

    QString error;
    QVERIFY(!ArchiveMover::createFolder(blocker, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!ArchiveMover::createFolder(blocker + "/inner", &error));
    QVERIFY(!error.isEmpty());

    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({source}, blocker);
    QVERIFY(!outcome.folderReady);
    QVERIFY(!outcome.folderError.isEmpty());
    QVERIFY(outcome.movedSources.isEmpty());
    QVERIFY(QFileInfo::exists(source));
    QCOMPARE(contents(blocker), QByteArray("not a folder"));
}

void TestArchiveMover::existingFolderIsReused()
{
    const QString target = root() + "/归档-5星";
    writeImage(target, "old.jpg");
    const QString source = writeImage(root(), "new.jpg");
    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({source}, target + "/");
    QVERIFY(outcome.folderReady);
    QCOMPARE(filesBelow(target), (QStringList{"new.jpg", "old.jpg"}));
}

void TestArchiveMover::movesOntoAnotherFileSystem()
{
    const QString mount = m_dir.path() + "/other-volume";
    if (!mountTmpfs(mount, "size=16m"))
        QSKIP("Cannot mount a tmpfs here (needs root and mount rights): the move across file "
              "systems is not exercised");
    const QString source = writeImage(root(), "IMG_9.jpg");
    const QByteArray bytes = contents(source);
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0640) == 0);
    const QDateTime modified = QFileInfo(source).lastModified().addSecs(-3600);
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    writeImage(mount + "/archive", "IMG_9.jpg", Qt::black);
    const QByteArray clashBytes = contents(mount + "/archive/IMG_9.jpg");

    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({source}, mount + "/archive");
    QCOMPARE(outcome.destinations, QStringList{mount + "/archive/IMG_9_1.jpg"});
    QVERIFY(!QFileInfo::exists(source));
    const QFileInfo moved(mount + "/archive/IMG_9_1.jpg");
    QCOMPARE(contents(moved.filePath()), bytes);
    QCOMPARE(moved.lastModified(), modified);
    QCOMPARE(int(moved.permissions() &
                 (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteOther)),
             int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QCOMPARE(contents(mount + "/archive/IMG_9.jpg"), clashBytes);
    QCOMPARE(filesBelow(mount), (QStringList{"archive/IMG_9.jpg", "archive/IMG_9_1.jpg"}));
}

void TestArchiveMover::failedCopyLeavesNoPartialFile()
{
    const QString mount = m_dir.path() + "/small-volume";
    if (!mountTmpfs(mount, "size=64k"))
        QSKIP("Cannot mount a tmpfs here (needs root and mount rights): a copy that runs out of "
              "space is not exercised");
    // Noise does not compress: this PNG is far larger than the volume.
    QImage noise(400, 400, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y,
                           qRgb((x * 7919 + y * 104729) % 251, (x * y) % 253, (x + y * 31) % 255));
    }
    const QString big = root() + "/big.png";
    QVERIFY(noise.save(big));
    QVERIFY(QFileInfo(big).size() > 64 * 1024);
    const QByteArray bytes = contents(big);
    const QString small = writeImage(root(), "small.jpg");

    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({big, small}, mount);
    QVERIFY(outcome.folderReady);
    QCOMPARE(outcome.movedSources, QStringList{small});
    QCOMPARE(contents(big), bytes);
    QCOMPARE(filesBelow(mount), QStringList{"small.jpg"});
}

void TestArchiveMover::freeNameSearchStopsAtUnusableNames()
{
    // A long name whose _k forms exceed the file system's name limit (255 bytes).
    const QString longName = QString(251, QLatin1Char('n')) + ".jpg";
    const QString target = root() + "/批量归档";
    writeImage(target, longName, Qt::blue);
    const QString source = writeImage(root(), longName, Qt::red);
    const QByteArray bytes = contents(source);
    QCOMPARE(ArchiveMover::uniqueURL(longName, target), QString());
    ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({source}, target);
    QVERIFY(outcome.folderReady);
    QVERIFY(outcome.movedSources.isEmpty());
    QCOMPARE(contents(source), bytes);

    // A destination without search permission: every look-up fails with EACCES.
    const QString locked = root() + "/locked";
    QVERIFY(QDir().mkpath(locked));
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0600) == 0);
    const QString other = writeImage(root(), "IMG_5.jpg");
    {
        const PermissionChecksOnThisThread asAUser;
        if (!asAUser.isActive())
            QSKIP("Cannot set root's permission overrides aside: EACCES is not exercised");
        QCOMPARE(ArchiveMover::uniqueURL("IMG_5.jpg", locked), QString());
        outcome = ArchiveMover::moveFiles({other}, locked);
    }
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    QVERIFY(outcome.folderReady);
    QVERIFY(outcome.movedSources.isEmpty());
    QVERIFY(QFileInfo::exists(other));
    QCOMPARE(filesBelow(locked), QStringList());
}

void TestArchiveMover::movesWhereNoRenameRefusesANameCopyInPlace()
{
    const QString target = root() + "/批量归档";
    const QString existing = writeImage(target, "IMG_1.jpg", Qt::blue);
    const QByteArray existingBytes = contents(existing);
    const QString source = writeImage(root(), "IMG_1.jpg", Qt::red);
    const QByteArray bytes = contents(source);
    QVERIFY(::chmod(QFile::encodeName(source).constData(), 0640) == 0);
    const QString second = writeImage(root(), "IMG_2.jpg", Qt::green);

    ArchiveMover::Outcome outcome;
    {
        const WithoutNoReplaceRenames noRenames;
        outcome = ArchiveMover::moveFiles({source, second}, target);
    }
    QCOMPARE(outcome.destinations, (QStringList{target + "/IMG_1_1.jpg", target + "/IMG_2.jpg"}));
    QCOMPARE(contents(existing), existingBytes);
    QCOMPARE(contents(target + "/IMG_1_1.jpg"), bytes);
    QCOMPARE(int(QFileInfo(target + "/IMG_1_1.jpg").permissions() & QFile::WriteGroup), 0);
    QCOMPARE(filesBelow(root()),
             (QStringList{"批量归档/IMG_1.jpg", "批量归档/IMG_1_1.jpg", "批量归档/IMG_2.jpg"}));

    // A copy in place that runs out of space leaves nothing under its name.
    const QString mount = m_dir.path() + "/card";
    if (!mountTmpfs(mount, "size=64k"))
        QSKIP("Cannot mount a tmpfs here (needs root and mount rights): a copy in place that "
              "runs out of space is not exercised");
    QImage noise(400, 400, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7919 + y * 104729) % 251, (x * y) % 253, x % 255));
    }
    const QString big = root() + "/big.png";
    QVERIFY(noise.save(big));
    const QByteArray bigBytes = contents(big);
    {
        const WithoutNoReplaceRenames noRenames;
        outcome = ArchiveMover::moveFiles({big}, mount);
    }
    QVERIFY(outcome.movedSources.isEmpty());
    QCOMPARE(contents(big), bigBytes);
    QCOMPARE(filesBelow(mount), QStringList());
}

void TestArchiveMover::copiesLeftByAKilledArchiveAreRemoved()
{
    const QString target = root() + "/批量归档";
    const auto leave = [&](const QString &name, int minutesAgo) {
        const QString path = writeFile(target + "/" + name, "half a RAW file");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60 * minutesAgo),
                                 QFileDevice::FileModificationTime));
    };
    leave(".kelvane-archive-0123456789abcdef.part", 120); // killed mid-copy: goes
    leave(".kelvane-archive-fedcba9876543210.part", 30);  // may still be syncing: stays
    leave(".kelvane-0123456789abcdef.part", 120);         // the export's: stays
    leave(".kelvane-archive-notours.part", 120);
    const QString source = writeImage(root(), "IMG_1.jpg");
    QCOMPARE(ArchiveMover::moveFiles({source}, target).movedSources, QStringList{source});
    QCOMPARE(filesBelow(target), (QStringList{".kelvane-0123456789abcdef.part",
                                              ".kelvane-archive-fedcba9876543210.part",
                                              ".kelvane-archive-notours.part", "IMG_1.jpg"}));
}

namespace {
QString g_sweptFolder;
// Another process's archive into the same folder sweeps it just as ours
// publishes a copy.
int sweepThenRename(const char *from, const char *to)
{
    ArchiveMover::removeStaleTemporaries(g_sweptFolder);
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}
constexpr NoReplaceRename::SystemCalls kSweepingCalls{&sweepThenRename, &::link};
} // namespace

void TestArchiveMover::copyOfAnotherRunningArchiveIsNeverRemoved()
{
    // A RAW leaves another RAW of its stem behind: their shared sidecar, last
    // changed long ago, is copied, and the copy takes its times.
    const QString target = root() + "/批量归档";
    writeFile(root() + "/IMG.CR2", "raw bytes");
    const QString jpeg = writeFile(root() + "/IMG.DNG", "raw bytes");
    const QString sidecar = writeFile(root() + "/IMG.xmp", "<x:xmpmeta/>");
    const QDateTime lastYear = QDateTime::currentDateTime().addYears(-1);
    {
        QFile file(sidecar);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(lastYear, QFileDevice::FileModificationTime));
    }
    g_sweptFolder = target;
    ArchiveMover::Outcome outcome;
    {
        NoReplaceRename::setSystemCalls(&kSweepingCalls);
        outcome = ArchiveMover::moveFiles({jpeg}, target);
        NoReplaceRename::setSystemCalls(nullptr);
    }
    QCOMPARE(outcome.movedSources, QStringList{jpeg});
    QCOMPARE(contents(target + "/IMG.xmp"), QByteArray("<x:xmpmeta/>"));
    QCOMPARE(QFileInfo(target + "/IMG.xmp").lastModified().toSecsSinceEpoch(),
             lastYear.toSecsSinceEpoch());
}

void TestArchiveMover::rawAndJpegShareTheirStemSidecar()
{
    const QString target = root() + "/批量归档";
    const QString raw = writeFile(root() + "/IMG.CR2", "raw bytes");
    const QString jpeg = writeImage(root(), "IMG.JPG");
    const QByteArray sidecar = "<x:xmpmeta>shared</x:xmpmeta>";
    writeFile(root() + "/IMG.xmp", sidecar);
    writeFile(target + "/IMG.xmp", "someone else's");

    // The sidecar is the RAW's: it leaves with the RAW, under a number where
    // both names are free, and the JPEG left behind has none.
    ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({raw}, target);
    QCOMPARE(outcome.destinations, QStringList{target + "/IMG_1.CR2"});
    QCOMPARE(contents(target + "/IMG_1.xmp"), sidecar);
    QVERIFY(QFileInfo::exists(jpeg));

    outcome = ArchiveMover::moveFiles({jpeg}, target);
    QCOMPARE(outcome.destinations, QStringList{target + "/IMG.JPG"});
    QCOMPARE(contents(target + "/IMG.xmp"), QByteArray("someone else's"));
    QCOMPARE(filesBelow(root()), (QStringList{"批量归档/IMG.JPG", "批量归档/IMG.xmp",
                                              "批量归档/IMG_1.CR2", "批量归档/IMG_1.xmp"}));

    // A JPEG leaving its RAW behind takes nothing of the RAW's.
    const QString kept = root() + "/kept";
    writeFile(kept + "/MVI.CR2", "raw");
    writeFile(kept + "/MVI.xmp", sidecar);
    outcome = ArchiveMover::moveFiles({writeImage(kept, "MVI.JPG")}, target);
    QCOMPARE(outcome.destinations, QStringList{target + "/MVI.JPG"});
    QCOMPARE(filesBelow(kept), (QStringList{"MVI.CR2", "MVI.xmp"}));
    QVERIFY(!QFileInfo::exists(target + "/MVI.xmp"));

    // A pair archived together keeps one number for all three files.
    const QString pair = root() + "/pair";
    const QStringList sources{writeFile(pair + "/DSC.CR2", "raw"), writeImage(pair, "DSC.JPG")};
    writeFile(pair + "/DSC.XMP", sidecar);
    writeFile(target + "/DSC.JPG", "already there");
    outcome = ArchiveMover::moveFiles(sources, target);
    QCOMPARE(outcome.destinations, (QStringList{target + "/DSC_1.CR2", target + "/DSC_1.JPG"}));
    QCOMPARE(contents(target + "/DSC_1.XMP"), sidecar);
    QCOMPARE(contents(target + "/DSC.JPG"), QByteArray("already there"));
    QCOMPARE(filesBelow(pair), QStringList());
}

void TestArchiveMover::ownSidecarTravelsUnderThePhotosNumber()
{
    const QString target = root() + "/归档-4星";
    writeImage(target, "IMG_1.jpg", Qt::blue);
    // A name free for the photo but not for its sidecar is passed over.
    writeFile(target + "/IMG_1_1.jpg.xmp", "someone else's");
    const QString photo = writeImage(root(), "IMG_1.jpg");
    const QByteArray sidecar = "<x:xmpmeta>own</x:xmpmeta>";
    writeFile(photo + ".xmp", sidecar);
    const QString plain = writeImage(root(), "IMG_2.jpg");

    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({photo, plain}, target);
    QCOMPARE(outcome.destinations, (QStringList{target + "/IMG_1_2.jpg", target + "/IMG_2.jpg"}));
    QCOMPARE(contents(target + "/IMG_1_2.jpg.xmp"), sidecar);
    QCOMPARE(contents(target + "/IMG_1_1.jpg.xmp"), QByteArray("someone else's"));
    QCOMPARE(filesBelow(root()),
             (QStringList{"归档-4星/IMG_1.jpg", "归档-4星/IMG_1_1.jpg.xmp", "归档-4星/IMG_1_2.jpg",
                          "归档-4星/IMG_1_2.jpg.xmp", "归档-4星/IMG_2.jpg"}));

    // Where no rename refuses a name, and onto another file system, the pair is copied.
    const QString copied = writeImage(root(), "IMG_4.jpg");
    writeFile(copied + ".xmp", sidecar);
    {
        const WithoutNoReplaceRenames noRenames;
        ArchiveMover::moveFiles({copied}, target);
    }
    QCOMPARE(contents(target + "/IMG_4.jpg.xmp"), sidecar);
    QVERIFY(!QFileInfo::exists(copied) && !QFileInfo::exists(copied + ".xmp"));
    const QString mount = m_dir.path() + "/card";
    if (!mountTmpfs(mount, "size=1m"))
        QSKIP("Cannot mount a tmpfs here (needs root and mount rights): sidecars moving to "
              "another file system are not exercised");
    writeImage(mount, "IMG_5.jpg", Qt::blue);
    const QString across = writeImage(root(), "IMG_5.jpg");
    writeFile(across + ".xmp", sidecar);
    const ArchiveMover::Outcome moved = ArchiveMover::moveFiles({across}, mount);
    QCOMPARE(moved.destinations, QStringList{mount + "/IMG_5_1.jpg"});
    QCOMPARE(contents(mount + "/IMG_5_1.jpg.xmp"), sidecar);
    QCOMPARE(filesBelow(mount), (QStringList{"IMG_5.jpg", "IMG_5_1.jpg", "IMG_5_1.jpg.xmp"}));
    QVERIFY(!QFileInfo::exists(across + ".xmp"));
}

void TestArchiveMover::sidecarsAreFoundInAnyCase_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QString>("sidecar");
    QTest::addColumn<QString>("taken"); // already in the archive folder
    QTest::addColumn<QStringList>("archived");
    QTest::newRow("Camera Raw <stem>.xmp")
        << "canon_eos_6d.CR2"
        << "canon_eos_6d.xmp" << QString() << QStringList{"canon_eos_6d.CR2", "canon_eos_6d.xmp"};
    QTest::newRow("Lightroom <stem>.XMP")
        << "IMG_0001.CR2"
        << "IMG_0001.XMP" << QString() << QStringList{"IMG_0001.CR2", "IMG_0001.XMP"};
    QTest::newRow("<name>.<ext>.XMP")
        << "IMG_0002.CR2"
        << "IMG_0002.CR2.XMP"
        << "IMG_0002.CR2" << QStringList{"IMG_0002.CR2", "IMG_0002_1.CR2", "IMG_0002_1.CR2.XMP"};
    // The sidecar keeps its own spelling under the photo's number.
    QTest::newRow("photo named in lower case")
        << "img_3.cr2"
        << "IMG_3.CR2.xmp"
        << "img_3.cr2" << QStringList{"IMG_3_1.CR2.xmp", "img_3.cr2", "img_3_1.cr2"};
}

void TestArchiveMover::sidecarsAreFoundInAnyCase()
{
    QFETCH(QString, photo);
    QFETCH(QString, sidecar);
    QFETCH(QString, taken);
    QFETCH(QStringList, archived);
    const QString target = root() + "/归档-5星";
    if (!taken.isEmpty())
        writeFile(target + "/" + taken, "someone else's");
    const QString source = writeFile(root() + "/" + photo, "raw bytes");
    writeFile(root() + "/" + sidecar, "<x:xmpmeta>crs:Exposure2012</x:xmpmeta>");
    const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({source}, target);
    QCOMPARE(outcome.movedSources, QStringList{source});
    QCOMPARE(filesBelow(target), archived);
    QCOMPARE(filesBelow(root()).size(), archived.size());
}

void TestArchiveMover::sidecarThatCannotMoveKeepsItsPhoto()
{
    const QString target = root() + "/批量归档";
    const QString photo = writeImage(root(), "IMG_1.jpg");
    const QString sidecar = writeFile(photo + ".xmp", "<x:xmpmeta/>");
    const QByteArray photoBytes = contents(photo);
    for (const QString &locked : {sidecar, photo}) {
        const ImmutableFlag immutable(locked);
        if (!immutable.isActive())
            QSKIP("The immutable attribute cannot be set here (needs root and a file system "
                  "keeping it): a sidecar or photo that cannot move is not exercised");
        // A locked sidecar keeps the photo; a locked photo brings its moved sidecar back.
        const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({photo}, target);
        QVERIFY(outcome.movedSources.isEmpty());
        QCOMPARE(contents(photo), photoBytes);
        QCOMPARE(contents(sidecar), QByteArray("<x:xmpmeta/>"));
        QCOMPARE(filesBelow(target), QStringList());
    }
}

void TestArchiveMover::archiveCarriesSidecarsWhateverTheSyncSetting()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    const QString target = root() + "/批量归档";
    writeImage(root(), "IMG_1.jpg");
    writeFile(writeImage(root(), "IMG_2.jpg") + ".xmp", "<x:xmpmeta/>");
    writeFile(root() + "/IMG_2.XMP", "<x:xmpmeta>crs:Exposure2012</x:xmpmeta>");
    QVERIFY(BrowseFixtures::open(state, root()));
    // With the setting off the sidecars still belong to their photo; nothing is written.
    QFuture<void> done =
        ArchiveMover::performArchive(state, {BrowseFixtures::item(state, "IMG_2.jpg")}, target);
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(filesBelow(root()), (QStringList{"IMG_1.jpg", "批量归档/IMG_2.XMP",
                                              "批量归档/IMG_2.jpg", "批量归档/IMG_2.jpg.xmp"}));
    QCOMPARE(contents(target + "/IMG_2.jpg.xmp"), QByteArray("<x:xmpmeta/>"));
    QCOMPARE(contents(target + "/IMG_2.XMP"),
             QByteArray("<x:xmpmeta>crs:Exposure2012</x:xmpmeta>"));

    // A rating given just before the archive is in the sidecar that moves.
    state.xmpRatingSync().setEnabled(true);
    const ImageItem first = BrowseFixtures::item(state, "IMG_1.jpg");
    state.updateRating(4, first);
    done = ArchiveMover::performArchive(state, {first}, target);
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(InFileRatingReader::sidecarRating(target + "/IMG_1.jpg.xmp"), std::optional<int>(4));
    QCOMPARE(state.starRatingStore().rating(target + "/IMG_1.jpg"), 4);
    // A photo that has left gets no new sidecar where it was.
    state.starRatingStore().setRating(2, first.path());
    state.xmpRatingSync().waitForDone();
    QCOMPARE(filesBelow(root()),
             (QStringList{"批量归档/IMG_1.jpg", "批量归档/IMG_1.jpg.xmp", "批量归档/IMG_2.XMP",
                          "批量归档/IMG_2.jpg", "批量归档/IMG_2.jpg.xmp"}));
}

void TestArchiveMover::archiveOfThreeSelectedImages()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    writeImage(root(), "sub/IMG_3.jpg");
    writeImage(root(), "IMG_4.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    QList<ImageItem> chosen;
    for (const char *name : {"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"}) {
        chosen << BrowseFixtures::item(state, name);
        state.updateRating(4, chosen.last());
        state.toggleSelection(chosen.last().id());
    }
    state.setStarFilter(4);
    QCOMPARE(state.filteredImages().size(), 3);

    const QString target = root() + "/批量归档";
    QSignalSpy batches(&state.starRatingStore(), &StarRatingStore::ratingsRemoved);
    QSignalSpy changes(&state.starRatingStore(), &StarRatingStore::ratingChanged);
    QFuture<void> done = ArchiveMover::performArchive(state, state.selectedImages(), target);
    QTRY_VERIFY(done.isFinished());

    QCOMPARE(state.toastMessage().value_or(QString()),
             QStringLiteral("已归档 3 张图片到「批量归档」"));
    QVERIFY(state.selectedImageIDs().isEmpty());
    QCOMPARE(state.starFilter(), 0);
    QCOMPARE(filesBelow(target), (QStringList{"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"}));
    // The ratings moved with their files, in one batch.
    QCOMPARE(batches.size(), 1);
    QCOMPARE(changes.size(), 0);
    for (const ImageItem &old : chosen)
        QCOMPARE(state.starRatingStore().rating(old.path()), 0);
    // The rescan lists the moved images again, from the archive folder, rated.
    QCOMPARE(state.images().size(), 4);
    const ImageItem moved = BrowseFixtures::item(state, "IMG_3.jpg");
    QCOMPARE(moved.path(), target + "/IMG_3.jpg");
    QCOMPARE(state.rating(moved), 4);
    QCOMPARE(state.availableStarRatings(), (QList<int>{0, 4}));
    state.starRatingStore().waitForSaved();
    QCOMPARE(StarRatingStore(m_dir.path() + "/ratings.json", state.workQueues())
                 .rating(target + "/IMG_1.jpg"),
             4);
}

void TestArchiveMover::archiveWithNoImagesStillReports()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    writeImage(root(), "IMG_1.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    QSignalSpy rescans(&state, &AppState::imagesChanged);
    QFuture<void> done = ArchiveMover::performArchive(state, {}, root() + "/归档-2星");
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(state.toastMessage().value_or(QString()),
             QStringLiteral("已归档 0 张图片到「归档-2星」"));
    QVERIFY(QFileInfo(root() + "/归档-2星").isDir());
    QCOMPARE(rescans.count(), 1); // the folder was scanned again
}

void TestArchiveMover::archiveIntoAFileReportsAndKeepsEverything()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    const ImageItem first = BrowseFixtures::item(state, "IMG_1.jpg");
    state.updateRating(2, first);
    state.setStarFilter(2);
    state.toggleSelection(first.id());
    QFile blocker(root() + "/批量归档");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QSignalSpy rescans(&state, &AppState::imagesChanged);
    QFuture<void> done = ArchiveMover::performArchive(state, {first}, blocker.fileName());
    QTRY_VERIFY(done.isFinished());
    const QString toast = state.toastMessage().value_or(QString());
    QVERIFY2(toast.startsWith(QStringLiteral("创建文件夹失败：")) &&
                 toast.size() > QStringLiteral("创建文件夹失败：").size(),
             qPrintable(toast));
    QVERIFY(QFileInfo::exists(first.path()));
    QCOMPARE(state.rating(first), 2);
    QCOMPARE(state.starFilter(), 2);
    QCOMPARE(state.selectedImageIDs().size(), 1);
    QCOMPARE(rescans.count(), 0);
}

void TestArchiveMover::archiveAfterTheOpenFolderWasDeletedCreatesNothing_data()
{
    QTest::addColumn<QString>("target"); // below the temporary folder
    QTest::newRow("the default, inside the open folder") << "photos/批量归档";
    QTest::newRow("a folder picked elsewhere") << "picked/归档";
}

void TestArchiveMover::archiveAfterTheOpenFolderWasDeletedCreatesNothing()
{
    QFETCH(QString, target);
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    writeImage(root(), "IMG_1.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    const QList<ImageItem> images = state.images();
    QVERIFY(QDir(root()).removeRecursively()); // by another program

    QFuture<void> done = ArchiveMover::performArchive(state, images, m_dir.path() + "/" + target);
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(state.toastMessage().value_or(QString()), QStringLiteral("文件夹已不存在，无法归档"));
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(!state.isArchiving());
}

void TestArchiveMover::archiveOfUnusableNamesStillReportsAndRescans()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    const QString longName = QString(251, QLatin1Char('n')) + ".jpg";
    writeImage(root(), longName);
    writeImage(root() + "/批量归档", longName, Qt::blue);
    QVERIFY(BrowseFixtures::open(state, root()));
    const ImageItem image = BrowseFixtures::item(state, longName);
    QVERIFY(image.path().startsWith(root() + "/n"));
    QSignalSpy rescans(&state, &AppState::imagesChanged);
    QFuture<void> done = ArchiveMover::performArchive(state, {image}, root() + "/批量归档");
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(state.toastMessage().value_or(QString()),
             QStringLiteral("已归档 0 张图片到「批量归档」"));
    QCOMPARE(rescans.count(), 1);
    QVERIFY(QFileInfo::exists(image.path()));
    QVERIFY(!state.isArchiving());
}

void TestArchiveMover::secondArchiveIsRefusedWhileOneRuns()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    const QList<ImageItem> images = state.images();
    QSignalSpy archiving(&state, &AppState::archivingChanged);

    QFuture<void> first = ArchiveMover::performArchive(state, images, root() + "/批量归档");
    QVERIFY(state.isArchiving());
    QFuture<void> second = ArchiveMover::performArchive(state, images, root() + "/又一个");
    QVERIFY(second.isFinished()); // refused at once
    QTRY_VERIFY(first.isFinished());
    QVERIFY(!state.isArchiving());
    QCOMPARE(archiving.count(), 2);
    QCOMPARE(state.toastMessage().value_or(QString()),
             QStringLiteral("已归档 2 张图片到「批量归档」"));
    QVERIFY(!QFileInfo::exists(root() + "/又一个"));
    QCOMPARE(filesBelow(root()), (QStringList{"批量归档/IMG_1.jpg", "批量归档/IMG_2.jpg"}));
}

void TestArchiveMover::folderOpenedMeanwhileKeepsItsFiltersAndSelection()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    writeImage(root(), "IMG_1.jpg");
    const QString elsewhere = m_dir.path() + "/elsewhere";
    writeImage(elsewhere, "DSC_1.jpg");
    writeImage(elsewhere, "DSC_2.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    QFuture<void> done = ArchiveMover::performArchive(state, state.images(), root() + "/批量归档");

    // Another folder is open by the time the moves finish, filtered and with a selection.
    const FolderNode other = FolderScanner::scanFolder(QUrl::fromLocalFile(elsewhere), true);
    state.setCurrentFolder(other);
    state.setImages(other.allImages());
    const ImageItem chosen = state.images().first();
    state.updateRating(3, chosen);
    state.setStarFilter(3);
    state.toggleSelection(chosen.id());
    QSignalSpy rescans(&state, &AppState::imagesChanged);

    QTRY_VERIFY(done.isFinished());
    QCOMPARE(state.toastMessage().value_or(QString()),
             QStringLiteral("已归档 1 张图片到「批量归档」"));
    QCOMPARE(state.starFilter(), 3);
    QCOMPARE(state.selectedImageIDs(), QSet<QUuid>{chosen.id()});
    QCOMPARE(rescans.count(), 0);
    QCOMPARE(state.currentFolder()->path(), elsewhere);
    QVERIFY(QFileInfo::exists(root() + "/批量归档/IMG_1.jpg"));
}

namespace {
QSemaphore g_firstMoved;
QSemaphore g_goOn;
std::atomic<int> g_renames = 0;
// The archive stops after its first move until the test lets it go on.
int renameThenWait(const char *from, const char *to)
{
    const int result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (g_renames++ == 0) {
        g_firstMoved.release();
        g_goOn.acquire();
    }
    return result;
}
constexpr NoReplaceRename::SystemCalls kHoldingCalls{&renameThenWait, &::link};
} // namespace

void TestArchiveMover::folderCleanUpDuringAnArchiveKeepsTheMovingRatings()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    const QString gone = writeImage(root(), "gone.jpg");
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    const QList<ImageItem> moving{BrowseFixtures::item(state, "IMG_1.jpg"),
                                  BrowseFixtures::item(state, "IMG_2.jpg")};
    state.updateRating(5, moving[0]);
    state.updateRating(3, moving[1]);
    state.updateRating(1, BrowseFixtures::item(state, "gone.jpg"));
    QVERIFY(QFile::remove(gone));
    // The clean-up needs a pool thread besides the one the held archive takes.
    QThreadPool &pool = *QThreadPool::globalInstance();
    const int threads = pool.maxThreadCount();
    pool.setMaxThreadCount(std::max(threads, 2));
    bool held = true;
    const auto letGo = qScopeGuard([&] {
        if (held)
            g_goOn.release();
        pool.waitForDone();
        NoReplaceRename::setSystemCalls(nullptr);
        pool.setMaxThreadCount(threads);
    });
    g_renames = 0;
    NoReplaceRename::setSystemCalls(&kHoldingCalls);
    const QString target = root() + "/批量归档";
    QFuture<void> done = ArchiveMover::performArchive(state, moving, target);
    QVERIFY(g_firstMoved.tryAcquire(1, 10000));

    // The folder opened while one photo has left and the other not yet.
    QVERIFY(BrowseFixtures::open(state, root()));
    QTRY_COMPARE(state.starRatingStore().rating(gone), 0); // the clean-up is through
    held = false;
    g_goOn.release();
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(state.starRatingStore().rating(target + "/IMG_1.jpg"), 5);
    QCOMPARE(state.starRatingStore().rating(target + "/IMG_2.jpg"), 3);
}

QTEST_GUILESS_MAIN(TestArchiveMover)
// 💀 and 📷 are written in UTF-16 with a second unit in U+DC80..U+DCFF.
void TestArchiveMover::namesWithEmojiWorkThroughout()
{
    AppState state(m_queues, m_dir.path() + "/ratings.json", m_dir.path() + "/settings.ini");
    const QString skull = writeImage(root(), "💀 skull.jpg");
    const QString gone = writeImage(root(), "gone.jpg");
    writeImage(root(), "plain.jpg");
    writeImage(root(), "📷 Camera/IMG_1.jpg");
    QVERIFY(BrowseFixtures::open(state, root()));
    state.updateRating(5, BrowseFixtures::item(state, "💀 skull.jpg"));
    state.updateRating(1, BrowseFixtures::item(state, "gone.jpg"));
    QVERIFY(QFile::remove(gone));
    QVERIFY(BrowseFixtures::open(state, root()));
    // The clean-up that drops the deleted file's rating has judged the other one too.
    QTRY_COMPARE(state.starRatingStore().rating(gone), 0);
    QCOMPARE(state.starRatingStore().rating(skull), 5);
    QCOMPARE(state.currentFolder()->children.size(), 1);
    QCOMPARE(state.currentFolder()->children[0].name, QStringLiteral("📷 Camera"));
    QVERIFY(BrowseFixtures::open(state, root() + "/📷 Camera"));
    QCOMPARE(BrowseFixtures::filenames(state.images()), QStringList{"IMG_1.jpg"});

    QVERIFY(!ImageDecoder::thumbnail(skull, 320).isNull());
    const QImage full = ImageDecoder::fullImage(skull);
    QCOMPARE(full.size(), QSize(96, 64));
    QCOMPARE(FrameRenderer::exportToOutputFolder(full, skull),
             root() + "/图片边框/💀 skull_framed.jpg");

    QVERIFY(BrowseFixtures::open(state, root()));
    const QString target = root() + "/批量归档";
    QFuture<void> done = ArchiveMover::performArchive(
        state,
        {BrowseFixtures::item(state, "💀 skull.jpg"), BrowseFixtures::item(state, "plain.jpg")},
        target);
    QTRY_VERIFY(done.isFinished());
    QCOMPARE(filesBelow(target), (QStringList{"plain.jpg", "💀 skull.jpg"}));
    QCOMPARE(state.toastMessage().value_or(QString()),
             QStringLiteral("已归档 2 张图片到「批量归档」"));
}

#include "tst_archivemover.moc"
