#include "BrowseFixtures.h"
#include "TestFiles.h"
#include "model/NoReplaceRename.h"
#include "model/WorkQueues.h"
#include "state/ArchiveFlow.h"
#include "state/CompareSession.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

using BrowseFixtures::item;

namespace {

// The first rename into the Trash holds until the test lets it go on.
QSemaphore g_moved, g_goOn;
std::atomic<bool> g_held = false;
int holdingRename(const char *from, const char *to)
{
    const int result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (!g_held.exchange(true)) {
        g_moved.release();
        g_goOn.acquire();
    }
    return result;
}
constexpr NoReplaceRename::SystemCalls kHoldingCalls{&holdingRename, &::link};

} // namespace
using TestFiles::filesBelow;

// Moves to the Trash and back, and the undo and redo of archives and
// trashings, on real folders with a Trash in a temporary data home.
class TestFileMoves : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY((m_dir = QTemporaryDir()).isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + "/data"));
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
    }
    void cleanup()
    {
        m_state.reset();
        qunsetenv("XDG_DATA_HOME");
    }

    void trashTakesSidecarsAlongAndUndoBringsThemBack()
    {
        for (const char *name : {"IMG_1.jpg", "IMG_2.JPG", "IMG_3.jpg", "IMG_4.jpg"})
            BrowseFixtures::writeImage(root(), name);
        TestFiles::touch(root(), "IMG_2.CR2", "raw");
        TestFiles::touch(root(), "IMG_1.jpg.xmp", ""); // empty, and still its own
        TestFiles::touch(root(), "IMG_2.xmp", "shared by the pair");
        TestFiles::touch(root(), "IMG_4.xmp", "stays with IMG_4");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        const QList<ImageItem> leaving = {item(*m_state, "IMG_1.jpg"), item(*m_state, "IMG_2.CR2"),
                                          item(*m_state, "IMG_2.JPG")};
        m_state->updateRating(4, leaving[0]);
        m_state->setFlag(CullingFlag::pick, {leaving[2]});
        m_state->toggleSelection(item(*m_state, "IMG_4.jpg").id());
        m_state->selectImage(0); // the viewer on IMG_1.jpg
        const QStringList before = filesBelow(root());

        QFuture<void> done = m_state->moveToTrash(leaving);
        // The viewer leaves at once for the next photo that stays.
        QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("IMG_3.jpg"));
        QVERIFY(m_state->isMovingFiles());
        QTRY_VERIFY(done.isFinished());
        QVERIFY(!done.isCanceled());
        QCOMPARE(m_state->toastMessage().value_or(QString()),
                 QStringLiteral("已移到废纸篓 3 张，按 Ctrl+Z 撤销"));
        QCOMPARE(filesBelow(root()), (QStringList{"IMG_3.jpg", "IMG_4.jpg", "IMG_4.xmp"}));
        QCOMPARE(
            filesBelow(trash() + "/files"),
            (QStringList{"IMG_1.jpg", "IMG_1.jpg.xmp", "IMG_2.CR2", "IMG_2.JPG", "IMG_2.xmp"}));
        QCOMPARE(filesBelow(trash() + "/info").size(), 5);
        // The list, the selection and the viewer stay on the files still there.
        QCOMPARE(BrowseFixtures::filenames(m_state->images()),
                 (QStringList{"IMG_3.jpg", "IMG_4.jpg"}));
        QCOMPARE(m_state->selectedImages(), QList{item(*m_state, "IMG_4.jpg")});
        QVERIFY(m_state->isViewerActive());
        QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("IMG_3.jpg"));
        QCOMPARE(m_state->currentIndex(), 0);
        // Ratings and marks wait in the Trash with their files.
        QCOMPARE(m_state->starRatingStore().rating(trash() + "/files/IMG_1.jpg"), 4);
        QCOMPARE(m_state->cullingMarks().mark(trash() + "/files/IMG_2.JPG").flag,
                 CullingFlag::pick);

        m_state->undo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已撤销：移到废纸篓（3 张）"));
        QCOMPARE(filesBelow(root()), before);
        QVERIFY(filesBelow(trash()).isEmpty()); // the .trashinfo files went too
        QCOMPARE(TestFiles::contents(root() + "/IMG_2.xmp"), QByteArray("shared by the pair"));
        QCOMPARE(m_state->rating(item(*m_state, "IMG_1.jpg")), 4);
        QCOMPARE(m_state->mark(item(*m_state, "IMG_2.JPG")).flag, CullingFlag::pick);
        QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("IMG_3.jpg"));

        m_state->redo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已重做：移到废纸篓（3 张）"));
        QCOMPARE(filesBelow(root()), (QStringList{"IMG_3.jpg", "IMG_4.jpg", "IMG_4.xmp"}));
        QVERIFY(m_state->undoHistory().canUndo() && !m_state->undoHistory().canRedo());
    }

    void fileThatCannotGoToTheTrashStays()
    {
        BrowseFixtures::writeImage(root(), "IMG_1.jpg");
        BrowseFixtures::writeImage(root(), "IMG_2.jpg");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        // A file (not a folder) where the Trash should be: nothing can be trashed.
        TestFiles::touch(m_dir.path(), "data/Trash");
        QFuture<void> done = m_state->moveToTrash({item(*m_state, "IMG_1.jpg")});
        QTRY_VERIFY(done.isFinished());
        QVERIFY(m_state->toastMessage().value_or(QString()).startsWith("无法移到废纸篓："));
        QCOMPARE(filesBelow(root()), (QStringList{"IMG_1.jpg", "IMG_2.jpg"}));
        QCOMPARE(m_state->images().size(), 2);
        QVERIFY(!m_state->undoHistory().canUndo());
    }

    // A photo that cannot go back (here its rename is refused) takes the
    // sidecars that went ahead of it back to where they were.
    void photoThatCannotGoBackKeepsItsSidecars()
    {
        BrowseFixtures::writeImage(root(), "IMG_1.jpg");
        TestFiles::touch(root(), "IMG_1.jpg.xmp", "sidecar");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        QFuture<void> done = m_state->moveToTrash({item(*m_state, "IMG_1.jpg")});
        QTRY_VERIFY(done.isFinished());
        static constexpr NoReplaceRename::SystemCalls refusePhotos{
            [](const char *from, const char *to) {
                if (QByteArray(to).endsWith("/IMG_1.jpg"))
                    return errno = EACCES, -1;
                return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
            },
            &::link};
        NoReplaceRename::setSystemCalls(&refusePhotos);
        const auto restoreCalls = qScopeGuard([] { NoReplaceRename::setSystemCalls(nullptr); });
        m_state->undo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QCOMPARE(m_state->toastMessage().value_or(QString()), QStringLiteral("1 张无法恢复"));
        QVERIFY(filesBelow(root()).isEmpty());
        QCOMPARE(filesBelow(trash() + "/files"), (QStringList{"IMG_1.jpg", "IMG_1.jpg.xmp"}));
        QCOMPARE(filesBelow(trash() + "/info").size(), 2);
    }

    // Another folder opened while files are on their way: they arrive, their
    // ratings and marks with them (the new folder's clean-up keeps them), and
    // the new folder keeps its own state.
    void folderOpenedDuringATrashing()
    {
        BrowseFixtures::writeImage(root(), "IMG_1.jpg");
        BrowseFixtures::writeImage(root(), "IMG_2.jpg");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        const ImageItem leaving = item(*m_state, "IMG_1.jpg");
        m_state->updateRating(3, leaving);
        m_state->setLabel(ColourLabel::green, {leaving});
        g_held = false;
        NoReplaceRename::setSystemCalls(&kHoldingCalls);
        const auto restoreCalls = qScopeGuard([] { NoReplaceRename::setSystemCalls(nullptr); });
        QFuture<void> done = m_state->moveToTrash({leaving});
        QVERIFY(g_moved.tryAcquire(1, 10000)); // the photo is in the Trash, the UI not told yet
        BrowseFixtures::writeImage(m_dir.path() + "/other", "DSC_1.jpg");
        QVERIFY(BrowseFixtures::open(*m_state, m_dir.path()));
        QSignalSpy rescans(m_state.get(), &AppState::imagesChanged);
        g_goOn.release();
        QTRY_VERIFY(done.isFinished());
        QVERIFY(!m_state->isMovingFiles());
        QCOMPARE(rescans.count(), 0); // the open folder is not the one the photo left
        QCOMPARE(m_state->currentFolder()->path(), m_dir.path());
        const QString trashed = trash() + "/files/IMG_1.jpg";
        QCOMPARE(m_state->starRatingStore().rating(trashed), 3);
        QCOMPARE(m_state->cullingMarks().mark(trashed).label, ColourLabel::green);
        m_state->undo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QCOMPARE(m_state->starRatingStore().rating(root() + "/IMG_1.jpg"), 3);
    }

    void undoLeavesFilesChangedSinceOrWhoseNameIsTaken_data()
    {
        QTest::addColumn<bool>("archive");
        QTest::addColumn<bool>("edit"); // else another file takes the name
        QTest::newRow("archive, edited in the archive") << true << true;
        QTest::newRow("archive, name taken") << true << false;
        QTest::newRow("trash, edited in the Trash") << false << true;
        QTest::newRow("trash, name taken") << false << false;
    }
    void undoLeavesFilesChangedSinceOrWhoseNameIsTaken()
    {
        QFETCH(bool, archive);
        QFETCH(bool, edit);
        for (const char *name : {"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"})
            BrowseFixtures::writeImage(root(), name);
        TestFiles::touch(root(), "IMG_1.jpg.xmp", "sidecar");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        const QList<ImageItem> moving = {item(*m_state, "IMG_1.jpg"), item(*m_state, "IMG_2.jpg")};
        m_state->updateRating(5, moving[0]);
        const QString away = archive ? root() + "/归档" : trash() + "/files";
        QFuture<void> done =
            archive ? ArchiveFlow(*m_state, m_queues.fileOperations()).run(moving, root() + "/归档")
                    : m_state->moveToTrash(moving);
        QTRY_VERIFY(done.isFinished());
        const QByteArray original = TestFiles::contents(away + "/IMG_1.jpg");
        if (edit) {
            QFile file(away + "/IMG_1.jpg");
            QVERIFY(file.open(QIODevice::Append) && file.write("edited") == 6);
        } else {
            TestFiles::touch(root(), "IMG_1.jpg", "another file");
        }

        m_state->undo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QCOMPARE(m_state->toastMessage().value_or(QString()), QStringLiteral("1 张无法恢复"));
        // IMG_2 came back; IMG_1 stayed whole, with its sidecar and rating.
        QVERIFY(QFileInfo::exists(root() + "/IMG_2.jpg") &&
                !QFileInfo::exists(away + "/IMG_2.jpg"));
        QCOMPARE(TestFiles::contents(away + "/IMG_1.jpg.xmp"), QByteArray("sidecar"));
        QCOMPARE(TestFiles::contents(away + "/IMG_1.jpg"), edit ? original + "edited" : original);
        if (!edit)
            QCOMPARE(TestFiles::contents(root() + "/IMG_1.jpg"), QByteArray("another file"));
        QCOMPARE(m_state->starRatingStore().rating(away + "/IMG_1.jpg"), 5);
        // Redo takes again what came back.
        QVERIFY(m_state->undoHistory().canRedo());
        m_state->redo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QVERIFY(!QFileInfo::exists(root() + "/IMG_2.jpg") &&
                QFileInfo::exists(away + "/IMG_2.jpg"));
    }

    void archiveUndoReturnsSidecarsUnderTheOriginalNames()
    {
        for (const char *name : {"IMG_1.jpg", "IMG_2.JPG", "IMG_2.PNG"})
            BrowseFixtures::writeImage(root(), name);
        TestFiles::touch(root(), "IMG_1.jpg.xmp", "own");
        TestFiles::touch(root(), "IMG_2.xmp", "shared");
        BrowseFixtures::writeImage(root() + "/归档", "IMG_1.jpg"); // the archive numbers ours _1
        QVERIFY(BrowseFixtures::open(*m_state, root(), false));
        const QStringList before = filesBelow(root());
        QFuture<void> done =
            ArchiveFlow(*m_state, m_queues.fileOperations())
                .run({item(*m_state, "IMG_1.jpg"), item(*m_state, "IMG_2.JPG")}, root() + "/归档");
        QTRY_VERIFY(done.isFinished());
        // IMG_2.PNG shares IMG_2.xmp and stays: the archive got a copy.
        QCOMPARE(
            filesBelow(root() + "/归档"),
            (QStringList{"IMG_1.jpg", "IMG_1_1.jpg", "IMG_1_1.jpg.xmp", "IMG_2.JPG", "IMG_2.xmp"}));
        QCOMPARE(m_state->undoHistory().undoDescription(),
                 QStringLiteral("归档到「归档」（2 张）"));
        m_state->undo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QCOMPARE(filesBelow(root()), before); // the unchanged copy went
        QCOMPARE(TestFiles::contents(root() + "/IMG_1.jpg.xmp"), QByteArray("own"));
    }

    // An archive onto another file system was copied; its undo copies back.
    void archiveOnAnotherFileSystemComesBack()
    {
        QTemporaryDir card(QStringLiteral("/dev/shm/kelvane-card-XXXXXX"));
        struct stat cardInfo, rootInfo;
        if (!card.isValid() || ::stat(QFile::encodeName(card.path()), &cardInfo) != 0 ||
            ::stat(QFile::encodeName(m_dir.path()), &rootInfo) != 0 ||
            cardInfo.st_dev == rootInfo.st_dev)
            QSKIP("No second writable file system (/dev/shm) here");
        BrowseFixtures::writeImage(root(), "IMG_1.jpg");
        TestFiles::touch(root(), "IMG_1.jpg.xmp", "own");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        const QByteArray bytes = TestFiles::contents(root() + "/IMG_1.jpg");
        const QDateTime modified = QFileInfo(root() + "/IMG_1.jpg").lastModified();
        QFuture<void> done = ArchiveFlow(*m_state, m_queues.fileOperations())
                                 .run({item(*m_state, "IMG_1.jpg")}, card.path() + "/归档");
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(filesBelow(card.path()), (QStringList{"归档/IMG_1.jpg", "归档/IMG_1.jpg.xmp"}));
        m_state->undo();
        QTRY_VERIFY(!m_state->isMovingFiles());
        QCOMPARE(filesBelow(root()), (QStringList{"IMG_1.jpg", "IMG_1.jpg.xmp"}));
        QVERIFY(filesBelow(card.path()).isEmpty());
        QCOMPARE(TestFiles::contents(root() + "/IMG_1.jpg"), bytes);
        QCOMPARE(QFileInfo(root() + "/IMG_1.jpg").lastModified(), modified);
    }

    void mixedActionsUndoneAndRedoneReachTheSameState()
    {
        for (int n = 1; n <= 8; ++n)
            BrowseFixtures::writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(n));
        TestFiles::touch(root(), "IMG_1.jpg.xmp", "sidecar");
        QVERIFY(BrowseFixtures::open(*m_state, root(), false));
        const Snapshot start = snapshot();
        QRandomGenerator random(20);
        for (int action = 0; action < 20; ++action)
            act(random, action);
        const Snapshot end = snapshot();
        QVERIFY(end != start);
        int undone = 0;
        for (; m_state->undoHistory().canUndo(); ++undone) {
            m_state->undo();
            QTRY_VERIFY(!m_state->isMovingFiles());
        }
        QCOMPARE(undone, 20);
        QCOMPARE(snapshot(), start);
        while (m_state->undoHistory().canRedo()) {
            m_state->redo();
            QTRY_VERIFY(!m_state->isMovingFiles());
        }
        QCOMPARE(snapshot(), end);
    }

    void deleteInCompareMovesTheCandidateOn()
    {
        for (int n = 1; n <= 4; ++n)
            BrowseFixtures::writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(n));
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        CompareSession &compare = m_state->compare();
        m_state->selectImage(0);
        QVERIFY(compare.openFromViewer());
        compare.setActivePane(1); // the candidate, IMG_2
        QFuture<void> done = compare.moveActiveToTrash();
        QCOMPARE(BrowseFixtures::filenames(compare.items()),
                 (QStringList{"IMG_1.jpg", "IMG_3.jpg"}));
        QTRY_VERIFY(done.isFinished());
        QVERIFY(compare.isOpen());
        QCOMPARE(BrowseFixtures::filenames(compare.items()),
                 (QStringList{"IMG_1.jpg", "IMG_3.jpg"}));
        QCOMPARE(filesBelow(root()), (QStringList{"IMG_1.jpg", "IMG_3.jpg", "IMG_4.jpg"}));

        // With three or four panes the active one goes, the last one too.
        BrowseFixtures::writeImage(root(), "IMG_5.jpg");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        m_state->selectAllVisible();
        QVERIFY(compare.openSelection());
        compare.setActivePane(3);
        QSignalSpy active(&compare, &CompareSession::activePaneChanged);
        done = compare.moveActiveToTrash();
        QCOMPARE(BrowseFixtures::filenames(compare.items()),
                 (QStringList{"IMG_1.jpg", "IMG_3.jpg", "IMG_4.jpg"}));
        QCOMPARE(QList({compare.activePane(), int(active.count())}), QList({2, 1}));
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(filesBelow(root()), (QStringList{"IMG_1.jpg", "IMG_3.jpg", "IMG_4.jpg"}));
    }

private:
    struct Snapshot
    {
        QStringList files;
        QMap<QString, int> ratings;
        QMap<QString, QString> marks;
        friend bool operator==(const Snapshot &, const Snapshot &) = default;
    };

    // One of the actions a culler takes, chosen at random over the folder's images.
    void act(QRandomGenerator &random, int action)
    {
        const QList<ImageItem> &images = m_state->images();
        QList<ImageItem> chosen;
        for (const ImageItem &image : images) {
            if (random.bounded(3) == 0)
                chosen << image;
        }
        if (chosen.isEmpty())
            chosen << images.first();
        switch (action % 5) {
        case 0:
            m_state->updateRating(1 + random.bounded(5), chosen.first());
            return;
        case 1:
            // The other flag than the first one's, so that something changes.
            m_state->setFlag(m_state->mark(chosen.first()).flag == CullingFlag::pick
                                 ? CullingFlag::reject
                                 : CullingFlag::pick,
                             chosen);
            return;
        case 2:
            m_state->setLabel(ColourLabel(1 + random.bounded(5)), chosen);
            return;
        case 3: {
            QFuture<void> done = m_state->moveToTrash(chosen.mid(0, 1));
            QTRY_VERIFY(done.isFinished());
            return;
        }
        default: {
            QFuture<void> done = ArchiveFlow(*m_state, m_queues.fileOperations())
                                     .run(chosen.mid(0, 2), root() + "/归档");
            QTRY_VERIFY(done.isFinished());
            return;
        }
        }
    }

    // Every file below the folder with its rating and marks.
    Snapshot snapshot() const
    {
        Snapshot shot;
        shot.files = filesBelow(root());
        for (const QString &file : std::as_const(shot.files)) {
            const QString path = root() + "/" + file;
            shot.ratings.insert(file, m_state->starRatingStore().rating(path));
            const CullingMark mark = m_state->cullingMarks().mark(path);
            shot.marks.insert(file,
                              QStringLiteral("%1/%2").arg(int(mark.flag)).arg(int(mark.label)));
        }
        return shot;
    }

    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    QString trash() const { return m_dir.path() + QStringLiteral("/data/Trash"); }

    WorkQueues m_queues;
    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
};

QTEST_GUILESS_MAIN(TestFileMoves)
#include "tst_filemoves.moc"
