#include "BrowseFixtures.h"
#include "TestFiles.h"
#include "model/BackgroundTask.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QDir>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using TestFiles::touch;

// The state's own rules (selection, stepping, rating and the viewer under a
// filter), that the list's changes reach the observers, and opening folders
// (FolderSession). The filtering rules are tested on ImageListPipeline.
class TestAppState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = QTemporaryDir();
        QVERIFY(m_dir.isValid());
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
    }
    void cleanup() { m_state.reset(); }

    void listChangesReachTheObservers()
    {
        QSignalSpy images(m_state.get(), &AppState::imagesChanged);
        QSignalSpy filtered(m_state.get(), &AppState::filteredImagesChanged);
        QSignalSpy ratings(m_state.get(), &AppState::ratingsChanged);
        QSignalSpy stars(m_state.get(), &AppState::starFilterChanged);
        QSignalSpy formats(m_state.get(), &AppState::formatFilterChanged);
        showImages({"a.jpg", "b.jpg", "c.png", "d.jpg"});
        m_state->setImages(m_state->images());
        QCOMPARE(counts({&images, &filtered, &ratings}), QList({1, 1, 1}));
        m_state->setStarFilter(5);
        m_state->setStarFilter(5);
        m_state->setFormatFilter(ImageItem::FormatCategory::png);
        // The png filter leaves the empty list as it was.
        QCOMPARE(counts({&stars, &formats, &filtered}), QList({1, 1, 2}));
        m_state->setFormatFilter(std::nullopt);
        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            m_state->updateRating(5, item(i));
            paths << item(i).path();
        }
        QCOMPARE(filteredNames(), (QStringList{"a.jpg", "b.jpg", "c.png"}));
        QCOMPARE(m_state->availableStarRatings(), (QList<int>{0, 5}));
        // Ratings removed in one batch: one refilter, one recount.
        filtered.clear();
        ratings.clear();
        m_state->starRatingStore().removeRatings(paths);
        QVERIFY(m_state->filteredImages().isEmpty());
        QCOMPARE(m_state->availableStarRatings(), QList<int>{0});
        QCOMPARE(counts({&filtered, &ratings}), QList({1, 1}));
    }
    void selectionOperations()
    {
        showImages({"a.jpg", "b.png", "c.jpg"});
        const ImageItem b = item(1);
        m_state->toggleSelection(item(2).id());
        m_state->toggleSelection(b.id());
        QCOMPARE(m_state->selectedImages(), (QList<ImageItem>{b, item(2)})); // in images order
        m_state->setFormatFilter(ImageItem::FormatCategory::png);
        QCOMPARE(m_state->selectedImages().size(), 2); // hidden ones still count
        m_state->selectAllVisible();
        QCOMPARE(m_state->selectedImageIDs(), QSet<QUuid>{b.id()});
        m_state->toggleSelection(b.id());
        QVERIFY(m_state->selectedImageIDs().isEmpty());
        m_state->toggleSelection(b.id());
        m_state->clearSelection();
        QVERIFY(m_state->selectedImages().isEmpty());
    }
    void selectImageAndStepping()
    {
        // Steps go through the filtered list: the png is skipped.
        showImages({"1.jpg", "2.jpg", "x.png", "3.jpg"});
        m_state->setFormatFilter(ImageItem::FormatCategory::jpeg);
        const QList<ImageItem> shown = m_state->filteredImages();
        QSignalSpy selected(m_state.get(), &AppState::selectedImageChanged);
        m_state->selectImage(-1);
        m_state->selectImage(3);
        QVERIFY(!m_state->isViewerActive() && !m_state->selectedImage());
        m_state->selectImage(1);
        m_state->selectImage(1);
        QCOMPARE(selected.count(), 1);
        QVERIFY(m_state->isViewerActive());
        QCOMPARE(m_state->selectedImage(), shown[1]);
        m_state->nextImage();
        QCOMPARE(m_state->currentIndex(), 2);
        QCOMPARE(m_state->selectedImage(), shown[2]);
        m_state->setStatusMessage(QString());
        m_state->nextImage();
        QCOMPARE(m_state->currentIndex(), 2);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已是最后一张"));
        m_state->previousImage();
        QCOMPARE(m_state->currentIndex(), 1);
        m_state->selectImage(0);
        m_state->previousImage();
        QCOMPARE(m_state->currentIndex(), 0);
        QCOMPARE(m_state->selectedImage(), shown[0]);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已是第一张"));
    }
    void updateRatingTogglesAndReportsInTheStatusLine()
    {
        showImages({"a.jpg"});
        const ImageItem a = item(0);
        // The same stars again clear the rating.
        for (const auto &[stars, rating, status] : {std::tuple{3, 3, "已标记 3 星"},
                                                    {3, 0, "已取消标记"},
                                                    {5, 5, "已标记 5 星"},
                                                    {0, 0, "已取消标记"}}) {
            m_state->updateRating(stars, a);
            QCOMPARE(m_state->rating(a), rating);
            QCOMPARE(m_state->statusMessage(), QString::fromUtf8(status));
        }
        // A ratings file that cannot be used is reported after the rating's own line.
        m_state->starRatingStore().waitForSaved();
        QVERIFY(QFile::remove(m_dir.path() + "/ratings.json"));
        QVERIFY(QDir().mkdir(m_dir.path() + "/ratings.json"));
        m_state->updateRating(2, a);
        QTRY_VERIFY(m_state->statusMessage().startsWith(QStringLiteral("无法保存评分：")));
    }
    void ratingInTheViewerUnderAStarFilter()
    {
        showImages({"1.jpg", "2.jpg", "3.jpg"});
        for (int i = 0; i < 3; ++i)
            m_state->updateRating(4, item(i));
        m_state->setStarFilter(4);
        m_state->selectImage(1);
        m_state->updateRating(2, *m_state->selectedImage());
        QCOMPARE(m_state->currentIndex(), 1);
        QCOMPARE(m_state->selectedImage(), item(2));
        m_state->updateRating(1, *m_state->selectedImage()); // the last one goes away
        QCOMPARE(m_state->currentIndex(), 0);
        QCOMPARE(m_state->selectedImage(), item(0));
        QVERIFY(m_state->isViewerActive());
        m_state->updateRating(3, *m_state->selectedImage());
        QVERIFY(!m_state->isViewerActive());
    }
    void openFollowsItsSteps()
    {
        touch(root(), "IMG_10.jpg");
        touch(root(), "IMG_2.jpg");
        touch(root(), "sub/IMG_1.heic");
        touch(root(), "notes.txt");
        m_state->setStarFilter(3);
        m_state->setFormatFilter(ImageItem::FormatCategory::gif);
        m_state->setSelectedImageIDs({QUuid::createUuid()});
        m_state->setViewerActive(true);
        QSignalSpy loading(m_state.get(), &AppState::loadingChanged);
        QFuture<void> done = m_state->openFolder(QUrl::fromLocalFile(root()), true);
        QVERIFY(m_state->isLoading());
        QCOMPARE(m_state->statusMessage(), QStringLiteral("正在扫描文件夹..."));
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(loading.count(), 2);
        // The window closes the viewer, not the open.
        QCOMPARE(summary(), "stars 0 format -1 selected 0 viewer 1 loading 0: 共 3 张图片");
        QCOMPARE(m_state->currentFolder()->url, QUrl::fromLocalFile(root()));
        QCOMPARE(*m_state->selectedFolderURL(), QUrl::fromLocalFile(root()));
        QCOMPARE(filteredNames(), (QStringList{"IMG_1.heic", "IMG_2.jpg", "IMG_10.jpg"}));
        QCOMPARE(m_state->folderHistory().folders().size(), 1);
        QCOMPARE(m_state->folderHistory().folders()[0].path, root());
    }
    void imagesBelowAreCountedAfterTheOpen()
    {
        touch(root(), "trip/day 1/a.jpg");
        touch(root(), "trip/day 2/b.jpg");
        touch(root(), "other/c.jpg");
        TestFiles::makeDir(root(), "empty/inside");
        // A tree without any image opens, empty, and counts none below: no hint.
        open(root() + "/empty", false);
        QVERIFY(m_state->currentFolder());
        QObject context;
        QFuture<void> counted = BackgroundTask::run(
            &m_state->folderScanner().countExecutor(), &context, [] { return 0; }, [](int) {});
        QTRY_VERIFY(counted.isFinished()); // applied after the count's result
        QCOMPARE(m_state->statusMessage(), QStringLiteral("共 0 张图片"));
        // The count's thread is held, so the open can only finish without it.
        QSemaphore held;
        m_state->folderScanner().countExecutor().start([&held] { held.acquire(); });
        const auto releaseOnFailure = qScopeGuard([&held] { held.release(); });
        open(root() + "/trip", false);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("共 0 张图片"));
        QCOMPARE(m_state->imagesOnlyInSubfolders(), 0);
        // A newer open drops the pending count, also one of the same folder whose
        // result is on its way: the hint never shows.
        held.release();
        m_state->folderScanner().countExecutor().waitForDone(); // counted, not yet applied
        QSignalSpy status(m_state.get(), &AppState::statusMessageChanged);
        open(root() + "/trip", true);
        for (const QList<QVariant> &change : std::as_const(status))
            QVERIFY(!change[0].toString().startsWith(QStringLiteral("此文件夹没有图片")));
        QCOMPARE(m_state->statusMessage(), QStringLiteral("共 2 张图片"));
        // Opened again without them, the folder gets its own count.
        open(root() + "/trip", false);
        QTRY_COMPARE(m_state->statusMessage(),
                     QStringLiteral("此文件夹没有图片，子文件夹中有 2 张"));
        QCOMPARE(m_state->imagesOnlyInSubfolders(), 2);
    }
    void folderThatCannotBeListedKeepsTheOpenOne()
    {
        touch(root(), "a.jpg");
        touch(root(), "sub/b.jpg");
        open(root());
        const FolderNode before = *m_state->currentFolder();
        const QList<ImageItem> images = m_state->images();
        // A vanished folder or a file where a folder was: the scan has nothing to list.
        open(m_dir.path() + "/vanished");
        QCOMPARE(summary(),
                 "stars 0 format -1 selected 0 viewer 0 loading 0: 无法读取文件夹「vanished」");
        QCOMPARE(m_state->currentFolder()->id, before.id);
        QCOMPARE(m_state->images(), images);
        QCOMPARE(m_state->folderHistory().folders().size(), 1);
        QVERIFY(QDir(root() + "/sub").removeRecursively());
        QVERIFY(QFile(root() + "/sub").open(QIODevice::WriteOnly));
        QFuture<void> done = m_state->refreshFolder(before.children[0]);
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(summary(),
                 "stars 0 format -1 selected 0 viewer 0 loading 0: 无法读取文件夹「sub」");
        QCOMPARE(m_state->currentFolder()->children[0].id, before.children[0].id);
        QCOMPARE(m_state->images(), images);
    }
    void overlappingOpensEndWithTheLastToFinish()
    {
        touch(root(), "a/1.jpg");
        touch(root(), "b/2.jpg");
        touch(root(), "b/3.jpg");
        QFuture<void> first = m_state->openFolder(QUrl::fromLocalFile(root() + "/a"), false);
        QFuture<void> second = m_state->openFolder(QUrl::fromLocalFile(root() + "/b"), false);
        QTRY_VERIFY(first.isFinished() && second.isFinished());
        // One scanner runs scans in order, so the second finishes last.
        QCOMPARE(m_state->images().size(), 2);
        QCOMPARE(summary(), "stars 0 format -1 selected 0 viewer 0 loading 0: 共 2 张图片");
    }
    void refreshReplacesOnlyTheSubtree()
    {
        touch(root(), "top.jpg");
        touch(root(), "day1/a.jpg");
        touch(root(), "day2/b.jpg");
        open(root());
        const FolderNode before = *m_state->currentFolder();
        const FolderNode day1 = before.children[0];
        touch(root(), "day1/new.png");
        m_state->selectImage(0);
        m_state->setStarFilter(-1);
        m_state->toggleSelection(m_state->images()[0].id());
        QSignalSpy folder(m_state.get(), &AppState::currentFolderChanged);
        QSignalSpy tree(m_state.get(), &AppState::folderTreeChanged);
        QFuture<void> done = m_state->refreshFolder(day1);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("正在刷新..."));
        QTRY_VERIFY(done.isFinished());
        // The rebuilt tree keeps its root's id: stored without a change of folder.
        QCOMPARE(counts({&folder, &tree}), QList({0, 1}));
        const FolderNode &after = *m_state->currentFolder();
        QCOMPARE(after.id, before.id);
        QCOMPARE(after.children[1].id, before.children[1].id);
        QVERIFY(after.children[0].id != day1.id);
        QCOMPARE(after.children[0].images.size(), 2);
        QCOMPARE(filteredNames(), (QStringList{"a.jpg", "new.png"}));
        QCOMPARE(*m_state->selectedFolderURL(), day1.url);
        QVERIFY(!m_state->selectedImage());
        QCOMPARE(summary(), "stars 0 format -1 selected 0 viewer 0 loading 0: 共 2 张图片");
        QCOMPARE(m_state->folderHistory().folders().size(), 1);
    }
    void openDropsVanishedRatings()
    {
        const QString kept = touch(root(), "deep/kept.jpg");
        const QString gone = touch(root(), "deep/gone.jpg");
        open(root());
        m_state->updateRating(3, ImageItem(kept));
        m_state->updateRating(3, ImageItem(gone));
        QVERIFY(QFile::remove(gone));
        open(root());
        QTRY_COMPARE(m_state->starRatingStore().rating(gone), 0);
        // Ratings follow the path into the new scan's items.
        QCOMPARE(m_state->rating(m_state->images().value(0)), 3);
        QCOMPARE(m_state->availableStarRatings(), QList<int>{3});
        // Opened again unchanged: the counts per rating are the same, no signal.
        QSignalSpy ratings(m_state.get(), &AppState::ratingsChanged);
        open(root());
        QCOMPARE(ratings.count(), 0);
    }

private:
    // Items of files that need not exist: nothing here reads them.
    void showImages(const QStringList &names)
    {
        QList<ImageItem> images;
        for (const QString &name : names)
            images << ImageItem(m_dir.path() + "/" + name);
        m_state->setImages(images);
    }
    // What an open or refresh resets or keeps, and the status line, in one line.
    QString summary() const
    {
        return QStringLiteral("stars %1 format %2 selected %3 viewer %4 loading %5: %6")
            .arg(m_state->starFilter())
            .arg(m_state->formatFilter() ? int(*m_state->formatFilter()) : -1)
            .arg(m_state->selectedImageIDs().size())
            .arg(m_state->isViewerActive())
            .arg(m_state->isLoading())
            .arg(m_state->statusMessage());
    }
    static QList<int> counts(const QList<QSignalSpy *> &spies)
    {
        QList<int> out;
        for (const QSignalSpy *spy : spies)
            out << spy->count();
        return out;
    }
    const ImageItem &item(int index) const { return m_state->images()[index]; }

    QStringList filteredNames() const
    {
        return BrowseFixtures::filenames(m_state->filteredImages());
    }
    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }

    void open(const QString &path, bool includeSubfolders = true)
    {
        QVERIFY(BrowseFixtures::open(*m_state, path, includeSubfolders));
    }
    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
