#include "BrowseFixtures.h"
#include "FileSystemFixtures.h"
#include "TestFiles.h"
#include "imaging/ImageDecoder.h"
#include "imaging/InFileRatingReader.h"
#include "model/SafePublisher.h"
#include "model/StarRatingStore.h"
#include "model/WorkQueues.h"
#include "state/ArchiveFlow.h"
#include "state/ArchiveMover.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using BrowseFixtures::contents;
using BrowseFixtures::writeImage;
using TestFiles::filesBelow;

namespace {

const QString kLongName = QString(251, QLatin1Char('n')) + ".jpg"; // no room for _1

// Before each rename another archive sweeps the destination, or the first waits for the test.
enum class Hook { sweep, hold };
std::atomic<Hook> g_hook = Hook::sweep;
QString g_sweptFolder;
QSemaphore g_firstMoved, g_goOn;
std::atomic<int> g_renames = 0;
std::atomic<QThread *> g_renamingThread = nullptr;
int hookedRename(const char *from, const char *to)
{
    g_renamingThread = QThread::currentThread();
    if (g_hook == Hook::sweep)
        SafePublisher::removeStaleTemporaries(g_sweptFolder);
    const int result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (g_hook == Hook::hold && g_renames++ == 0) {
        g_firstMoved.release();
        g_goOn.acquire();
    }
    return result;
}
constexpr NoReplaceRename::SystemCalls kHookedCalls{&hookedRename, &::link};

void age(const QString &path, qint64 seconds)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - seconds, 0}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

} // namespace

class TestArchiveMover : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY((m_dir = QTemporaryDir()).isValid());
        QDir().mkpath(root());
    }
    void cleanup() { NoReplaceRename::setSystemCalls(nullptr); }

    void movesKeepEveryFileAndItsSidecars_data()
    {
        // "files | archived | after": files below the open folder, each holding its own path
        // ("A/": in the archive folder; "LONG": no room for a number; "x/": a folder; "@x": a
        // dangling link), the photos archived, every file afterwards ("new<old": old's bytes).
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("noRenames"); // no RENAME_NOREPLACE, no links: copied in place
        for (const bool noRenames : {false, true}) {
            const char *how = noRenames ? "copied" : "moved";
            QTest::addRow("%s: clashes, same names, a vanished photo, no free name", how)
                << "IMG_1.jpg A/IMG_1.jpg A/IMG_1_1.jpg a/DSC_7.jpg b/DSC_7.jpg LONG A/LONG | "
                   "vanished.jpg IMG_1.jpg a/DSC_7.jpg b/DSC_7.jpg LONG | A/DSC_7.jpg<a/DSC_7.jpg "
                   "A/DSC_7_1.jpg<b/DSC_7.jpg A/IMG_1.jpg A/IMG_1_1.jpg A/IMG_1_2.jpg<IMG_1.jpg "
                   "A/LONG LONG"
                << noRenames;
            QTest::addRow("%s: a folder or a dangling link takes the name; the last dot", how)
                << "x.png A/x.png/ l.jpg @A/l.jpg a.b.jpg A/a.b.jpg | x.png l.jpg a.b.jpg | "
                   "A/x_1.png<x.png @A/l.jpg A/l_1.jpg<l.jpg A/a.b.jpg A/a.b_1.jpg<a.b.jpg"
                << noRenames;
            QTest::addRow("%s: own sidecar under the photo's number", how)
                << "IMG_1.jpg IMG_1.jpg.xmp IMG_2.jpg A/IMG_1.jpg A/IMG_1_1.jpg.xmp | IMG_1.jpg "
                   "IMG_2.jpg | A/IMG_1.jpg A/IMG_1_1.jpg.xmp A/IMG_1_2.jpg<IMG_1.jpg "
                   "A/IMG_1_2.jpg.xmp<IMG_1.jpg.xmp A/IMG_2.jpg<IMG_2.jpg"
                << noRenames;
            QTest::addRow("%s: a RAW takes its stem sidecar, one number for both", how)
                << "IMG.CR2 IMG.JPG IMG.xmp A/IMG.xmp | IMG.CR2 | IMG.JPG A/IMG.xmp "
                   "A/IMG_1.CR2<IMG.CR2 A/IMG_1.xmp<IMG.xmp"
                << noRenames;
        }
        QTest::newRow("a JPEG leaving its RAW takes nothing of it")
            << "MVI.CR2 MVI.xmp MVI.JPG | MVI.JPG | MVI.CR2 MVI.xmp A/MVI.JPG<MVI.JPG" << false;
        QTest::newRow("a pair keeps one number") << "DSC.CR2 DSC.JPG DSC.XMP A/DSC.JPG | DSC.CR2 "
                                                    "DSC.JPG | A/DSC.JPG A/DSC_1.CR2<DSC.CR2 "
                                                    "A/DSC_1.JPG<DSC.JPG A/DSC_1.XMP<DSC.XMP"
                                                 << false;
        QTest::newRow("own sidecar found and kept in any case")
            << "img_3.cr2 IMG_3.CR2.XMP A/img_3.cr2 | img_3.cr2 | A/IMG_3_1.CR2.XMP<IMG_3.CR2.XMP "
               "A/img_3.cr2 A/img_3_1.cr2<img_3.cr2"
            << false;
    }
    void movesKeepEveryFileAndItsSidecars()
    {
        QFETCH(QString, row);
        QFETCH(bool, noRenames);
        const QStringList parts =
            row.replace("A/", "批量归档/").replace("LONG", kLongName).split(" | ");
        for (const QString &file : parts[0].split(' ')) {
            const QString path = root() + "/" + QString(file).remove('@');
            QVERIFY(QDir().mkpath(file.endsWith('/') ? path : QFileInfo(path).path()));
            if (file.startsWith('@'))
                QVERIFY(QFile::link(root() + "/nowhere", path));
            else if (!file.endsWith('/'))
                TestFiles::touch(root(), file, file.toUtf8());
        }
        QStringList sources;
        for (const QString &photo : parts[1].split(' '))
            sources << root() + "/" + photo;
        std::optional<WithoutNoReplaceRenames> fallback;
        if (noRenames)
            fallback.emplace();
        const auto outcome = ArchiveMover::moveFiles(sources, target() + "/");
        fallback.reset();
        QVERIFY(outcome.folderReady);
        QStringList expected;
        qsizetype photosMoved = 0;
        for (const QString &entry : parts[2].split(' ')) {
            expected << entry.section('<', 0, 0).remove('@');
            if (entry.startsWith('@'))
                QVERIFY(QFileInfo(root() + "/" + expected.last()).isSymLink());
            else
                QCOMPARE(contents(root() + "/" + expected.last()), entry.section('<', -1).toUtf8());
            photosMoved +=
                entry.contains('<') && sources.contains(root() + "/" + entry.section('<', 1));
        }
        expected.sort();
        QCOMPARE(filesBelow(root()), expected);
        QCOMPARE(outcome.movedSources.size(), photosMoved);
        for (qsizetype i = 0; i < photosMoved; ++i)
            QCOMPARE(contents(outcome.destinations.at(i)),
                     QDir(root()).relativeFilePath(outcome.movedSources.at(i)).toUtf8());
    }
    void sidecarThatCannotMoveKeepsItsPhoto()
    {
        const QString photo = TestFiles::touch(root(), "IMG_1.jpg", "photo");
        const QString sidecar = TestFiles::touch(root(), "IMG_1.jpg.xmp", "<x:xmpmeta/>");
        for (const QString &locked : {sidecar, photo}) {
            const ImmutableFlag immutable(locked);
            if (!immutable.isActive())
                QSKIP("No immutable attribute here (needs root and a file system keeping it)");
            // A locked sidecar keeps the photo; a locked photo brings its moved sidecar back.
            QVERIFY(ArchiveMover::moveFiles({photo}, target()).movedSources.isEmpty());
            QCOMPARE(filesBelow(root()), (QStringList{"IMG_1.jpg", "IMG_1.jpg.xmp"}));
            QCOMPARE(contents(sidecar), QByteArray("<x:xmpmeta/>"));
        }
    }
    void movesOntoAnotherFileSystem()
    {
        const QString mount = TestFiles::makeDir(m_dir.path(), "card");
        if (::geteuid() != 0 || ::mount("kelvane-test", QFile::encodeName(mount).constData(),
                                        "tmpfs", 0, "size=64k") != 0)
            QSKIP("Cannot mount a tmpfs here (needs root and mount rights)");
        const auto unmount =
            qScopeGuard([&] { ::umount2(QFile::encodeName(mount).constData(), MNT_DETACH); });
        const QString source = writeImage(root(), "IMG_9.jpg");
        const QByteArray bytes = contents(source);
        QVERIFY(::chmod(QFile::encodeName(source).constData(), 0640) == 0);
        age(source, 3600);
        const QDateTime modified = QFileInfo(source).lastModified();
        const QString clash = TestFiles::touch(mount, "IMG_9.jpg", "already there");
        // Larger than the card: the copy runs out of space.
        const QString big = TestFiles::touch(root(), "big.raw", QByteArray(80 * 1024, 'x'));
        const ArchiveMover::Outcome outcome = ArchiveMover::moveFiles({big, source}, mount);
        const QFileInfo moved(mount + "/IMG_9_1.jpg");
        QCOMPARE(outcome.movedSources + outcome.destinations,
                 (QStringList{source, moved.filePath()}));
        QCOMPARE(contents(moved.filePath()), bytes);
        QCOMPARE(moved.lastModified(), modified);
        QCOMPARE(int(moved.permissions() & 0x0777), 0x0640); // rw-r-----
        QCOMPARE(contents(clash), QByteArray("already there"));
        QCOMPARE(filesBelow(mount), (QStringList{"IMG_9.jpg", "IMG_9_1.jpg"}));
        QCOMPARE(filesBelow(root()), QStringList{"big.raw"});
    }
    void staleCopiesGoButNotOneBeingPublished()
    {
        // A crashed export's leftover goes; a shared sidecar is copied while swept, with its times.
        age(TestFiles::touch(target(), ".kelvane-0123456789abcdef.part", "half"), 7200);
        TestFiles::touch(root(), "IMG.CR2", "raw");
        const QString dng = TestFiles::touch(root(), "IMG.DNG", "raw");
        const QString sidecar = TestFiles::touch(root(), "IMG.xmp", "<x:xmpmeta/>");
        age(sidecar, 365 * 86400);
        g_sweptFolder = target();
        g_hook = Hook::sweep;
        NoReplaceRename::setSystemCalls(&kHookedCalls);
        QCOMPARE(ArchiveMover::moveFiles({dng}, target()).movedSources, QStringList{dng});
        NoReplaceRename::setSystemCalls(nullptr);
        QCOMPARE(contents(target() + "/IMG.xmp"), QByteArray("<x:xmpmeta/>"));
        QCOMPARE(QFileInfo(target() + "/IMG.xmp").lastModified(),
                 QFileInfo(sidecar).lastModified());
        QCOMPARE(filesBelow(target()), (QStringList{"IMG.DNG", "IMG.xmp"}));
    }
    void archiveOfSelectedImages()
    {
        // 💀 and 📷 are written in UTF-16 with a second unit in U+DC80..U+DCFF.
        const auto state =
            openState({"💀 skull.jpg", "IMG_2.jpg", "📷 Camera/IMG_3.jpg", "IMG_4.jpg"});
        QVERIFY(state);
        QVERIFY(!ImageDecoder::thumbnail(root() + "/💀 skull.jpg", 320).isNull());
        // A rating given just before the archive is in the sidecar that moves.
        state->xmpRatingSync().setEnabled(true);
        QList<ImageItem> chosen;
        for (const char *name : {"💀 skull.jpg", "IMG_2.jpg", "IMG_3.jpg"}) {
            chosen << BrowseFixtures::item(*state, QString::fromUtf8(name));
            state->updateRating(4, chosen.last());
            state->toggleSelection(chosen.last().id());
        }
        state->setFlag(CullingFlag::reject, {chosen[0], chosen[2]});
        state->setLabel(ColourLabel::red, {chosen[0]});
        state->setStarFilter(4);
        QSignalSpy batches(&state->starRatingStore(), &StarRatingStore::ratingsRemoved);
        QSignalSpy changes(&state->starRatingStore(), &StarRatingStore::ratingChanged);
        QSignalSpy archiving(state.get(), &AppState::movingFilesChanged);
        QThread *queueThread = nullptr; // the moves run on the file queue, after the writes
        state->workQueues().fileOperations().start([&] { queueThread = QThread::currentThread(); });
        g_sweptFolder = target();
        g_hook = Hook::sweep;
        NoReplaceRename::setSystemCalls(&kHookedCalls);
        QFuture<void> done = archive(*state, state->selectedImages(), target());
        QVERIFY(state->isMovingFiles());
        QVERIFY(archive(*state, state->images(), root() + "/又一个").isFinished()); // refused
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(state->toastMessage().value_or(QString()),
                 QStringLiteral("已归档 3 张图片到「批量归档」"));
        QCOMPARE(archiving.count(), 2);
        QCOMPARE(g_renamingThread.load(), queueThread);
        QVERIFY(!QFileInfo::exists(root() + "/又一个"));
        QVERIFY(state->selectedImageIDs().isEmpty() && state->starFilter() == 0);
        QCOMPARE(filesBelow(target()),
                 (QStringList{"IMG_2.jpg", "IMG_2.jpg.xmp", "IMG_3.jpg", "IMG_3.jpg.xmp",
                              "💀 skull.jpg", "💀 skull.jpg.xmp"}));
        // The ratings moved with their files, in one batch.
        QCOMPARE(QList({batches.size(), changes.size()}), QList<qsizetype>({1, 0}));
        for (const ImageItem &old : chosen)
            QVERIFY(state->starRatingStore().rating(old.path()) == 0 && state->mark(old).isEmpty());
        // The rescan lists the moved images again, from the archive folder, rated.
        QCOMPARE(state->images().size(), 4);
        for (const char *name : {"💀 skull.jpg", "IMG_3.jpg"}) {
            const ImageItem moved = BrowseFixtures::item(*state, QString::fromUtf8(name));
            QCOMPARE(moved.path(), target() + "/" + QString::fromUtf8(name));
            QCOMPARE(state->rating(moved), 4);
            QCOMPARE(state->mark(moved).flag, CullingFlag::reject); // and their marks
            // A reject's sidecar says -1; the stars stay in the table.
            const InFileRatingReader::Found inFile =
                InFileRatingReader::readAll(moved.path(), {moved.path() + ".xmp"});
            QCOMPARE(inFile.mark.flag, CullingFlag::reject);
        }
        QCOMPARE(state->mark(BrowseFixtures::item(*state, QString::fromUtf8("💀 skull.jpg"))).label,
                 ColourLabel::red);
    }
    void archiveThatMovesNothingReports_data()
    {
        // "folder toast", or how the toast starts when a file stands in the way.
        QTest::addColumn<QString>("row");
        QTest::newRow("no images, new parents")
            << "photos/a/归档-2星 已归档 0 张图片到「归档-2星」";
        QTest::newRow("a file in the way") << "photos/批量归档 创建文件夹失败：";
        QTest::newRow("gone") << "photos/批量归档 文件夹已不存在，无法归档";
        QTest::newRow("gone, elsewhere") << "picked/归档 文件夹已不存在，无法归档";
    }
    void archiveThatMovesNothingReports()
    {
        QFETCH(QString, row);
        const QString folder = row.section(' ', 0, 0), toast = row.section(' ', 1);
        const bool none = toast.startsWith("已归档"), blocked = toast.startsWith("创建");
        const bool gone = !none && !blocked;
        const auto state = openState({"IMG_1.jpg"});
        QVERIFY(state);
        const ImageItem first = BrowseFixtures::item(*state, "IMG_1.jpg");
        state->updateRating(2, first);
        state->setStarFilter(2);
        state->toggleSelection(first.id());
        if (blocked)
            TestFiles::touch(root(), "批量归档", "");
        if (gone)
            QVERIFY(QDir(root()).removeRecursively()); // by another program
        QSignalSpy rescanned(state.get(), &AppState::imagesChanged);
        const QList<ImageItem> images = none ? QList<ImageItem>() : QList{first};
        QFuture<void> done = archive(*state, images, m_dir.path() + "/" + folder);
        QTRY_VERIFY(done.isFinished());
        const QString shown = state->toastMessage().value_or(QString());
        QVERIFY2(blocked ? shown.startsWith(toast) && shown.size() > toast.size() : shown == toast,
                 qPrintable(shown));
        QVERIFY(!state->isMovingFiles());
        QCOMPARE(QFileInfo::exists(first.path()), !gone);
        QCOMPARE(QFileInfo(m_dir.path() + "/" + folder).isDir(), none);
        // Nothing else changes when the archive could not start.
        QCOMPARE(QList({int(rescanned.count()), state->starFilter(),
                        int(state->selectedImageIDs().size())}),
                 none ? QList({1, 0, 0}) : QList({0, 2, 1}));
    }
    void folderOpenedDuringAnArchiveKeepsItsOwnState()
    {
        const auto state = openState({"gone.jpg", "💀 skull.jpg", "IMG_2.jpg"});
        QVERIFY(state);
        QList<ImageItem> moving;
        for (const auto &[name, stars] :
             {std::pair{"💀 skull.jpg", 5}, {"IMG_2.jpg", 3}, {"gone.jpg", 1}}) {
            moving << BrowseFixtures::item(*state, QString::fromUtf8(name));
            state->updateRating(stars, moving.last());
        }
        const QString gone = moving.takeLast().path();
        QVERIFY(QFile::remove(gone));
        bool held = true;
        const auto letGo = qScopeGuard([&] {
            if (held)
                g_goOn.release();
            state->workQueues().fileOperations().waitForDone();
        });
        g_renames = 0;
        g_hook = Hook::hold;
        NoReplaceRename::setSystemCalls(&kHookedCalls);
        QFuture<void> done = archive(*state, moving, target());
        QVERIFY(g_firstMoved.tryAcquire(1, 10000));
        // The folder above opened mid-archive: its clean-up keeps the moving ratings.
        writeImage(m_dir.path() + "/other", "DSC_1.jpg");
        QVERIFY(BrowseFixtures::open(*state, m_dir.path()));
        QTRY_COMPARE(state->starRatingStore().rating(gone), 0); // the clean-up is through
        const ImageItem chosen = BrowseFixtures::item(*state, "DSC_1.jpg");
        state->updateRating(4, chosen);
        state->setStarFilter(4);
        state->toggleSelection(chosen.id());
        QSignalSpy rescans(state.get(), &AppState::imagesChanged);
        held = false;
        g_goOn.release();
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(state->toastMessage().value_or(QString()),
                 QStringLiteral("已归档 2 张图片到「批量归档」"));
        QCOMPARE(QList({state->starRatingStore().rating(target() + "/💀 skull.jpg"),
                        state->starRatingStore().rating(target() + "/IMG_2.jpg"),
                        state->starFilter(), int(rescans.count())}),
                 QList({5, 3, 4, 0}));
        QCOMPARE(state->selectedImageIDs(), QSet<QUuid>{chosen.id()});
        QCOMPARE(state->currentFolder()->path(), m_dir.path());
    }

private:
    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    QString target() const { return root() + QStringLiteral("/批量归档"); }

    std::unique_ptr<AppState> openState(const QStringList &images)
    {
        auto state = BrowseFixtures::makeState(m_queues, m_dir.path());
        for (const QString &image : images)
            writeImage(root(), image);
        return BrowseFixtures::open(*state, root()) ? std::move(state) : nullptr;
    }
    static QFuture<void> archive(AppState &state, const QList<ImageItem> &images,
                                 const QString &folder)
    {
        return ArchiveFlow(state, state.workQueues().fileOperations()).run(images, folder);
    }
    WorkQueues m_queues;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestArchiveMover)
#include "tst_archivemover.moc"
