#include "TestFiles.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QDir>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using TestFiles::touch;
using Category = ImageItem::FormatCategory;

class TestAppState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsEmpty();
    void openFolderFollowsItsSteps();
    void openEmptyTree();
    void imagesBelowAreCountedAfterTheOpen();
    void folderThatCannotBeListedKeepsTheOpenOne();
    void theFileSystemRootIsNamedSlash();
    void overlappingOpensEndWithTheLastToFinish();
    void refreshReplacesOnlyTheSubtree();
    void filtersByStarsAndFormat();
    void availableListsInDeclarationOrder();
    void filteredListFollowsRatingChanges();
    void selectionOperations();
    void selectImageAndStepping();
    void updateRatingTogglesAndReportsInTheStatusLine();
    void ratingInTheViewerUnderAStarFilter();
    void settersNotifyOnlyOnRealChange();
    void openFolderDropsVanishedRatings();
    void removingRatingsInOneBatchRefiltersOnce();

private:
    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    QStringList filteredNames() const;
    void open(const QString &path, bool includeSubfolders = true);
    ImageItem item(const QString &filename) const;

    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
};

void TestAppState::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
    m_state = std::make_unique<AppState>(m_queues, m_dir.path() + "/ratings.json",
                                         m_dir.path() + "/settings.ini");
}

void TestAppState::cleanup()
{
    m_state.reset();
}

QStringList TestAppState::filteredNames() const
{
    QStringList names;
    for (const ImageItem &image : m_state->filteredImages())
        names << image.filename();
    return names;
}

void TestAppState::open(const QString &path, bool includeSubfolders)
{
    QFuture<void> done = m_state->openFolder(QUrl::fromLocalFile(path), includeSubfolders);
    QTRY_VERIFY(done.isFinished());
}

ImageItem TestAppState::item(const QString &filename) const
{
    for (const ImageItem &image : m_state->images()) {
        if (image.filename() == filename)
            return image;
    }
    return {};
}

void TestAppState::startsEmpty()
{
    QVERIFY(!m_state->currentFolder());
    QVERIFY(m_state->images().isEmpty());
    QVERIFY(m_state->filteredImages().isEmpty());
    QVERIFY(!m_state->isViewerActive());
    QVERIFY(!m_state->isLoading());
    QVERIFY(m_state->statusMessage().isEmpty());
    QVERIFY(!m_state->toastMessage());
    QCOMPARE(m_state->availableStarRatings(), QList<int>());
}

void TestAppState::openFolderFollowsItsSteps()
{
    touch(root(), "IMG_10.jpg");
    touch(root(), "IMG_2.jpg");
    touch(root(), "sub/IMG_1.heic");
    touch(root(), "notes.txt");
    m_state->setStarFilter(3);
    m_state->setSelectedImageIDs({QUuid::createUuid()});

    QSignalSpy loading(m_state.get(), &AppState::loadingChanged);
    QFuture<void> done = m_state->openFolder(QUrl::fromLocalFile(root()), true);
    QVERIFY(m_state->isLoading());
    QCOMPARE(m_state->statusMessage(), QStringLiteral("正在扫描文件夹..."));
    QTRY_VERIFY(done.isFinished());

    QVERIFY(!m_state->isLoading());
    QCOMPARE(loading.count(), 2);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 3 张图片"));
    QCOMPARE(m_state->currentFolder()->url, QUrl::fromLocalFile(root()));
    QCOMPARE(*m_state->selectedFolderURL(), QUrl::fromLocalFile(root()));
    QCOMPARE(filteredNames(), (QStringList{"IMG_1.heic", "IMG_2.jpg", "IMG_10.jpg"}));
    QCOMPARE(m_state->starFilter(), 0);
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    QCOMPARE(m_state->folderHistory().folders().size(), 1);
    QCOMPARE(m_state->folderHistory().folders()[0].path, root());
}

void TestAppState::openEmptyTree()
{
    TestFiles::makeDir(root(), "empty/inside");
    open(root());
    QVERIFY(m_state->currentFolder());
    QVERIFY(m_state->images().isEmpty());
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 0 张图片"));
}

void TestAppState::imagesBelowAreCountedAfterTheOpen()
{
    touch(root(), "trip/day 1/a.jpg");
    touch(root(), "trip/day 2/b.jpg");
    touch(root(), "other/c.jpg");
    // The count's thread is held, so the open can only finish without it.
    QSemaphore held;
    QThreadPool &counts = m_state->folderScanner().countExecutor();
    counts.start([&held] { held.acquire(); });
    const auto releaseOnFailure = qScopeGuard([&held] { held.release(); });
    open(root() + "/trip", false);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 0 张图片"));
    QCOMPARE(m_state->imagesOnlyInSubfolders(), 0);
    // A newer open drops the pending count; the folder opened again gets its own.
    open(root() + "/other", false);
    open(root() + "/trip", false);
    held.release();
    QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("此文件夹没有图片，子文件夹中有 2 张"));
    QCOMPARE(m_state->imagesOnlyInSubfolders(), 2);
}

void TestAppState::folderThatCannotBeListedKeepsTheOpenOne()
{
    touch(root(), "a.jpg");
    touch(root(), "sub/b.jpg");
    open(root());
    const FolderNode before = *m_state->currentFolder();
    const QList<ImageItem> images = m_state->images();

    // A vanished folder or a file where a folder was: the scan has nothing to list.
    open(m_dir.path() + "/vanished");
    QVERIFY(!m_state->isLoading());
    QCOMPARE(m_state->statusMessage(), QStringLiteral("无法读取文件夹「vanished」"));
    QCOMPARE(m_state->currentFolder()->id, before.id);
    QCOMPARE(m_state->images(), images);
    QCOMPARE(m_state->folderHistory().folders().size(), 1);

    QVERIFY(QDir(root() + "/sub").removeRecursively());
    QVERIFY(QFile(root() + "/sub").open(QIODevice::WriteOnly));
    QFuture<void> done = m_state->refreshFolder(before.children[0]);
    QTRY_VERIFY(done.isFinished());
    QVERIFY(!m_state->isLoading());
    QCOMPARE(m_state->statusMessage(), QStringLiteral("无法读取文件夹「sub」"));
    QCOMPARE(m_state->currentFolder()->children[0].id, before.children[0].id);
    QCOMPARE(m_state->images(), images);
}

void TestAppState::theFileSystemRootIsNamedSlash()
{
    open("/", false);
    QCOMPARE(m_state->currentFolder()->name, QStringLiteral("/"));
    QCOMPARE(m_state->folderHistory().folders().value(0).name, QStringLiteral("/"));
}

void TestAppState::overlappingOpensEndWithTheLastToFinish()
{
    touch(root(), "a/1.jpg");
    touch(root(), "b/2.jpg");
    touch(root(), "b/3.jpg");
    QFuture<void> first = m_state->openFolder(QUrl::fromLocalFile(root() + "/a"), false);
    QFuture<void> second = m_state->openFolder(QUrl::fromLocalFile(root() + "/b"), false);
    QTRY_VERIFY(first.isFinished() && second.isFinished());
    // One scanner runs scans in order, so the second finishes last.
    QCOMPARE(m_state->images().size(), 2);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 2 张图片"));
    QVERIFY(!m_state->isLoading());
}

void TestAppState::refreshReplacesOnlyTheSubtree()
{
    touch(root(), "top.jpg");
    touch(root(), "day1/a.jpg");
    touch(root(), "day2/b.jpg");
    open(root());
    const FolderNode before = *m_state->currentFolder();
    const FolderNode day1 = before.children[0];
    touch(root(), "day1/new.png");
    m_state->selectImage(0);
    QVERIFY(m_state->isViewerActive());

    QFuture<void> done = m_state->refreshFolder(day1);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("正在刷新..."));
    QTRY_VERIFY(done.isFinished());

    const FolderNode &after = *m_state->currentFolder();
    QCOMPARE(after.id, before.id);
    QCOMPARE(after.children[1].id, before.children[1].id);
    QVERIFY(after.children[0].id != day1.id);
    QCOMPARE(after.children[0].images.size(), 2);
    QCOMPARE(filteredNames(), (QStringList{"a.jpg", "new.png"}));
    QCOMPARE(*m_state->selectedFolderURL(), day1.url);
    QVERIFY(!m_state->isViewerActive());
    QVERIFY(!m_state->selectedImage());
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 2 张图片"));
    QCOMPARE(m_state->folderHistory().folders().size(), 1);
}

void TestAppState::filtersByStarsAndFormat()
{
    for (const char *name : {"a.jpg", "b.jpg", "c.heif", "d.HEIC", "e.png", "f.jpg"})
        touch(root(), name);
    open(root());
    m_state->updateRating(2, item("a.jpg"));
    m_state->updateRating(3, item("b.jpg"));
    m_state->updateRating(4, item("c.heif"));
    m_state->updateRating(3, item("e.png"));

    m_state->setStarFilter(-1);
    QCOMPARE(filteredNames(), (QStringList{"d.HEIC", "f.jpg"}));
    m_state->setStarFilter(3);
    QCOMPARE(filteredNames(), (QStringList{"b.jpg", "e.png"}));
    m_state->setFormatFilter(Category::jpeg);
    QCOMPARE(filteredNames(), QStringList{"b.jpg"});
    m_state->setStarFilter(0);
    QCOMPARE(filteredNames(), (QStringList{"a.jpg", "b.jpg", "f.jpg"}));
    m_state->setFormatFilter(Category::heic);
    QCOMPARE(filteredNames(), (QStringList{"c.heif", "d.HEIC"}));
    m_state->setStarFilter(5);
    QVERIFY(m_state->filteredImages().isEmpty());
}

void TestAppState::availableListsInDeclarationOrder()
{
    touch(root(), "z.png");
    touch(root(), "a.DNG");
    touch(root(), "m.png");
    open(root());
    QCOMPARE(m_state->availableFormats(), (QList<Category>{Category::raw, Category::png}));
    m_state->updateRating(5, item("z.png"));
    m_state->updateRating(5, item("a.DNG"));
    QCOMPARE(m_state->availableStarRatings(), (QList<int>{0, 5}));
    m_state->updateRating(5, item("a.DNG")); // toggles back to 0
    QCOMPARE(m_state->availableStarRatings(), (QList<int>{0, 5}));
    m_state->updateRating(2, item("m.png"));
    m_state->updateRating(2, item("a.DNG"));
    QCOMPARE(m_state->availableStarRatings(), (QList<int>{2, 5}));
}

void TestAppState::filteredListFollowsRatingChanges()
{
    touch(root(), "a.jpg");
    touch(root(), "b.jpg");
    open(root());
    m_state->setStarFilter(-1);
    QSignalSpy filtered(m_state.get(), &AppState::filteredImagesChanged);
    m_state->updateRating(1, item("a.jpg"));
    QCOMPARE(filteredNames(), QStringList{"b.jpg"});
    QCOMPARE(filtered.count(), 1);

    // Without a star filter a rating leaves the list alone.
    m_state->setStarFilter(0);
    filtered.clear();
    m_state->updateRating(4, item("b.jpg"));
    QCOMPARE(filtered.count(), 0);
}

void TestAppState::selectionOperations()
{
    for (const char *name : {"a.jpg", "b.png", "c.jpg"})
        touch(root(), name);
    open(root());
    const ImageItem b = item("b.png");
    m_state->toggleSelection(item("c.jpg").id());
    m_state->toggleSelection(b.id());
    QCOMPARE(m_state->selectedImages().size(), 2);
    QCOMPARE(m_state->selectedImages()[0], b); // in images order

    m_state->setFormatFilter(Category::png);
    QCOMPARE(m_state->selectedImages().size(), 2); // hidden ones still count
    m_state->selectAllVisible();
    QCOMPARE(m_state->selectedImageIDs(), QSet<QUuid>{b.id()});
    m_state->toggleSelection(b.id());
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    m_state->toggleSelection(b.id());
    m_state->clearSelection();
    QVERIFY(m_state->selectedImages().isEmpty());
}

void TestAppState::selectImageAndStepping()
{
    for (const char *name : {"1.jpg", "2.jpg", "3.jpg"})
        touch(root(), name);
    open(root());
    m_state->selectImage(-1);
    m_state->selectImage(3);
    QVERIFY(!m_state->isViewerActive());
    QVERIFY(!m_state->selectedImage());

    m_state->selectImage(1);
    QVERIFY(m_state->isViewerActive());
    QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("2.jpg"));
    m_state->nextImage();
    QCOMPARE(m_state->currentIndex(), 2);
    m_state->setStatusMessage(QString());
    m_state->nextImage();
    QCOMPARE(m_state->currentIndex(), 2);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已是最后一张"));
    m_state->selectImage(0);
    m_state->previousImage();
    QCOMPARE(m_state->currentIndex(), 0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已是第一张"));
}

void TestAppState::updateRatingTogglesAndReportsInTheStatusLine()
{
    touch(root(), "a.jpg");
    open(root());
    const ImageItem a = item("a.jpg");
    m_state->updateRating(3, a);
    QCOMPARE(m_state->rating(a), 3);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已标记 3 星"));
    m_state->updateRating(3, a);
    QCOMPARE(m_state->rating(a), 0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已取消标记"));
    m_state->updateRating(5, a);
    m_state->updateRating(0, a);
    QCOMPARE(m_state->rating(a), 0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已取消标记"));
    // Ratings are keyed by path and survive a rescan.
    m_state->updateRating(4, a);
    open(root());
    QCOMPARE(m_state->rating(item("a.jpg")), 4);
    // A ratings file that cannot be used is reported after the rating's own line.
    m_state->starRatingStore().waitForSaved();
    QVERIFY(QFile::remove(m_dir.path() + "/ratings.json"));
    QVERIFY(QDir().mkdir(m_dir.path() + "/ratings.json"));
    m_state->updateRating(2, item("a.jpg"));
    QTRY_VERIFY(m_state->statusMessage().startsWith(QStringLiteral("无法保存评分：")));
}

void TestAppState::ratingInTheViewerUnderAStarFilter()
{
    for (const char *name : {"1.jpg", "2.jpg", "3.jpg"})
        touch(root(), name);
    open(root());
    for (const char *name : {"1.jpg", "2.jpg", "3.jpg"})
        m_state->updateRating(4, item(name));
    m_state->setStarFilter(4);

    m_state->selectImage(1);
    m_state->updateRating(2, *m_state->selectedImage());
    QCOMPARE(m_state->currentIndex(), 1);
    QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("3.jpg"));

    m_state->updateRating(1, *m_state->selectedImage()); // the last one goes away
    QCOMPARE(m_state->currentIndex(), 0);
    QCOMPARE(m_state->selectedImage()->filename(), QStringLiteral("1.jpg"));
    QVERIFY(m_state->isViewerActive());

    m_state->updateRating(3, *m_state->selectedImage());
    QVERIFY(!m_state->isViewerActive());
}

void TestAppState::settersNotifyOnlyOnRealChange()
{
    QSignalSpy status(m_state.get(), &AppState::statusMessageChanged);
    QSignalSpy toast(m_state.get(), &AppState::toastMessageChanged);
    QSignalSpy star(m_state.get(), &AppState::starFilterChanged);
    m_state->setStatusMessage("x");
    m_state->setStatusMessage("x");
    m_state->setToastMessage(QStringLiteral("t"));
    m_state->setToastMessage(QStringLiteral("t"));
    m_state->setToastMessage(std::nullopt);
    m_state->setStarFilter(0);
    QCOMPARE(status.count(), 1);
    QCOMPARE(toast.count(), 2);
    QCOMPARE(star.count(), 0);

    touch(root(), "a.jpg");
    open(root());
    QSignalSpy folder(m_state.get(), &AppState::currentFolderChanged);
    FolderNode rebuilt = *m_state->currentFolder();
    rebuilt.children.clear();
    m_state->setCurrentFolder(rebuilt); // same root id: stored silently
    QCOMPARE(folder.count(), 0);
    QSignalSpy selected(m_state.get(), &AppState::selectedImageChanged);
    m_state->selectImage(0);
    m_state->selectImage(0);
    QCOMPARE(selected.count(), 1);
}

void TestAppState::openFolderDropsVanishedRatings()
{
    const QString kept = touch(root(), "deep/kept.jpg");
    const QString gone = touch(root(), "deep/gone.jpg");
    open(root());
    m_state->updateRating(3, item("kept.jpg"));
    m_state->updateRating(3, item("gone.jpg"));
    QVERIFY(QFile::remove(gone));
    open(root());
    QTRY_COMPARE(m_state->starRatingStore().rating(gone), 0);
    QCOMPARE(m_state->starRatingStore().rating(kept), 3);
    QCOMPARE(m_state->availableStarRatings(), QList<int>{3});

    // Opened again unchanged: the counts per rating are the same, no signal.
    QSignalSpy ratings(m_state.get(), &AppState::ratingsChanged);
    open(root());
    QCOMPARE(ratings.count(), 0);
}

void TestAppState::removingRatingsInOneBatchRefiltersOnce()
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        touch(root(), name);
    open(root());
    QStringList paths;
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"}) {
        m_state->updateRating(5, item(name));
        paths << item(name).path();
    }
    m_state->setStarFilter(5);
    QSignalSpy filtered(m_state.get(), &AppState::filteredImagesChanged);
    QSignalSpy ratings(m_state.get(), &AppState::ratingsChanged);
    m_state->starRatingStore().removeRatings(paths);
    QVERIFY(m_state->filteredImages().isEmpty());
    QCOMPARE(m_state->availableStarRatings(), QList<int>{0});
    QCOMPARE(filtered.count(), 1);
    QCOMPARE(ratings.count(), 1);
}

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
