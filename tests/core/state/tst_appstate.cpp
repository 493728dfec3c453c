#include "BrowseFixtures.h"
#include "ImagingFixtures.h"
#include "TestFiles.h"
#include "model/BackgroundTask.h"
#include "model/CullingMarkStore.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "state/CompareSession.h"
#include "state/ImageListPipeline.h"
#include "state/RejectsArchive.h"
#include "state/ShootingDataIndex.h"

#include <QDir>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

using BrowseFixtures::filenames;
using TestFiles::touch;
using Category = ImageItem::FormatCategory;
using Changes = ImageListPipeline::Changes;
Q_DECLARE_METATYPE(std::optional<Category>)
Q_DECLARE_METATYPE(std::optional<ColourLabel>)
Q_DECLARE_METATYPE(FlagFilter)
Q_DECLARE_METATYPE(SortOrder)

namespace {

// Names and the ratings stored for them; -1: none stored.
const QStringList kNames{"a.jpg", "b.jpg", "c.heif", "d.HEIC", "e.png", "f.jpg", "g.DNG"};
const QList<int> kRatings{2, 3, 4, 0, 3, -1, 5};
const QStringList kShotNames{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"};

// Keeps every thread of a pool busy until release() or the end of the scope.
class HeldThreads
{
public:
    explicit HeldThreads(QThreadPool &pool)
        : m_count(pool.maxThreadCount())
    {
        for (int i = 0; i < m_count; ++i)
            pool.start([held = m_held] { held->acquire(); });
    }
    ~HeldThreads() { release(); }
    void release() { m_held->release(std::exchange(m_count, 0)); }

private:
    std::shared_ptr<QSemaphore> m_held = std::make_shared<QSemaphore>();
    int m_count;
};

} // namespace

// The state's rules (selection, stepping, rating, the viewer under a filter), its
// signals and opening folders; the filtering rules on ImageListPipeline alone.
class TestAppState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY((m_dir = QTemporaryDir()).isValid());
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
        m_ratings.clear();
        m_images.clear();
        for (qsizetype i = 0; i < kNames.size(); ++i) {
            m_images << ImageItem("/photos/" + kNames[i]);
            if (kRatings[i] >= 0)
                m_ratings.insert(m_images.last().path(), kRatings[i]);
        }
        m_list = std::make_unique<ImageListPipeline>(
            [this](const QString &path) { return m_ratings.value(path, 0); }, m_discards);
        m_list->setImages(m_images);
    }
    void cleanup() { m_state.reset(); }

    void listChangesSelectionAndStepping()
    {
        QSignalSpy images(m_state.get(), &AppState::imagesChanged);
        QSignalSpy filtered(m_state.get(), &AppState::filteredImagesChanged);
        QSignalSpy ratings(m_state.get(), &AppState::ratingsChanged);
        QSignalSpy stars(m_state.get(), &AppState::starFilterChanged);
        QSignalSpy formats(m_state.get(), &AppState::formatFilterChanged);
        showImages({"1.jpg", "2.jpg", "x.png", "3.jpg"});
        m_state->setImages(m_state->images());
        QCOMPARE(QList({images.count(), filtered.count(), ratings.count()}),
                 QList<qsizetype>({1, 1, 1}));
        m_state->setStarFilter(5);
        m_state->setStarFilter(5);
        m_state->setFormatFilter(ImageItem::FormatCategory::png);
        // The png filter leaves the empty list as it was.
        QCOMPARE(QList({stars.count(), formats.count(), filtered.count()}),
                 QList<qsizetype>({1, 1, 2}));
        m_state->setFormatFilter(std::nullopt);
        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            m_state->updateRating(5, item(i));
            paths << item(i).path();
        }
        QCOMPARE(m_state->availableStarRatings(), (QList<int>{0, 5}));
        // Ratings removed in one batch: one refilter, one recount.
        filtered.clear();
        ratings.clear();
        m_state->starRatingStore().removeRatings(paths);
        QVERIFY(m_state->filteredImages().isEmpty());
        QCOMPARE(m_state->availableStarRatings(), QList<int>{0});
        QCOMPARE(QList({filtered.count(), ratings.count()}), QList<qsizetype>({1, 1}));
        // Selection and stepping.
        m_state->setStarFilter(0);
        m_state->setStatusMessage(QString());
        const ImageItem png = item(2);
        m_state->toggleSelection(item(3).id());
        m_state->toggleSelection(png.id());
        QCOMPARE(m_state->selectedImages(), (QList<ImageItem>{png, item(3)})); // in images order
        m_state->setFormatFilter(ImageItem::FormatCategory::jpeg);
        QCOMPARE(m_state->selectedImages().size(), 2); // hidden ones still count
        m_state->selectAllVisible();
        QCOMPARE(m_state->selectedImageIDs(), (QSet{item(0).id(), item(1).id(), item(3).id()}));
        m_state->toggleSelection(item(3).id());
        QCOMPARE(m_state->selectedImageIDs().size(), 2);
        m_state->clearSelection();
        QVERIFY(m_state->selectedImages().isEmpty());
        // Steps go through the filtered list: the png is skipped.
        const QList<ImageItem> shown = m_state->filteredImages();
        QSignalSpy selected(m_state.get(), &AppState::selectedImageChanged);
        m_state->selectImage(-1);
        m_state->selectImage(3);
        QVERIFY(!m_state->isViewerActive() && !m_state->selectedImage());
        const auto shows = [&](int index, const QString &status) {
            return m_state->currentIndex() == index && m_state->selectedImage() == shown[index] &&
                   m_state->statusMessage() == status;
        };
        m_state->selectImage(1);
        m_state->selectImage(1);
        QCOMPARE(selected.count(), 1);
        QVERIFY(m_state->isViewerActive() && shows(1, QString()));
        m_state->nextImage();
        QVERIFY(shows(2, QString()));
        m_state->nextImage();
        QVERIFY(shows(2, QStringLiteral("已是最后一张")));
        m_state->previousImage();
        QVERIFY(shows(1, QStringLiteral("已是最后一张")));
        m_state->selectImage(0);
        m_state->previousImage();
        QVERIFY(shows(0, QStringLiteral("已是第一张")));
    }
    void ratingTogglesReportsAndKeepsTheViewerUnderAStarFilter()
    {
        showImages({"1.jpg", "2.jpg", "3.jpg"});
        // The same stars again clear the rating.
        for (const auto &[stars, rating, status] : {std::tuple{3, 3, "已标记 3 星"},
                                                    {3, 0, "已取消标记"},
                                                    {5, 5, "已标记 5 星"},
                                                    {0, 0, "已取消标记"}}) {
            m_state->updateRating(stars, item(0));
            QCOMPARE(m_state->rating(item(0)), rating);
            QCOMPARE(m_state->statusMessage(), QString::fromUtf8(status));
        }
        for (int i = 0; i < 3; ++i)
            m_state->updateRating(4, item(i));
        m_state->setStarFilter(4);
        m_state->selectImage(1);
        m_state->updateRating(2, *m_state->selectedImage());
        QVERIFY(m_state->currentIndex() == 1 && m_state->selectedImage() == item(2));
        m_state->updateRating(1, *m_state->selectedImage()); // the last one goes away
        QVERIFY(m_state->currentIndex() == 0 && m_state->selectedImage() == item(0));
        QVERIFY(m_state->isViewerActive());
        m_state->updateRating(3, *m_state->selectedImage());
        QVERIFY(!m_state->isViewerActive());
        // A ratings file that cannot be used is reported after the rating's own line.
        m_state->starRatingStore().waitForSaved();
        QVERIFY(QFile::remove(m_dir.path() + "/ratings.json"));
        QVERIFY(QDir().mkdir(m_dir.path() + "/ratings.json"));
        m_state->updateRating(2, item(0));
        QTRY_VERIFY(m_state->statusMessage().startsWith(QStringLiteral("无法保存评分：")));
    }
    void markKeys_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("expected"); // flag, label and status after the last key
        QTest::newRow("pick") << "p"
                              << "pick  已标记为留用";
        QTest::newRow("reject replaces pick") << "px"
                                              << "reject  已标记为排除";
        QTest::newRow("clear flag keeps label") << "x7u"
                                                << "none yellow 已清除旗标";
        QTest::newRow("label keeps flag") << "p8"
                                          << "pick green 已标记为绿色";
        QTest::newRow("each digit its colour") << "69"
                                               << "none blue 已标记为蓝色";
        QTest::newRow("own label again clears") << "66"
                                                << "none  已清除颜色标签";
        QTest::newRow("another label replaces") << "67"
                                                << "none yellow 已标记为黄色";
    }
    void markKeys()
    {
        QFETCH(QString, keys);
        QFETCH(QString, expected);
        showImages({"1.jpg", "2.jpg"});
        for (const QChar key : keys) // Qt's codes of letters and digits are their capitals
            QVERIFY(m_state->markByKey(key.toUpper().unicode(), key, item(0)));
        const CullingMark mark = m_state->mark(item(0));
        const QString flag = CullingMark::flagName(mark.flag);
        QCOMPARE(flag.isEmpty() ? QStringLiteral("none") : flag, expected.section(' ', 0, 0));
        QCOMPARE(CullingMark::labelName(mark.label), expected.section(' ', 1, 1));
        QCOMPARE(m_state->statusMessage(), expected.section(' ', 2));
        QVERIFY(m_state->mark(item(1)).isEmpty());
    }
    void markBatchesAreOneStoreChange()
    {
        showImages({"1.jpg", "2.jpg", "3.jpg"});
        QSignalSpy batches(&m_state->cullingMarks(), &CullingMarkStore::marksChanged);
        m_state->setLabel(ColourLabel::red, {item(0)});
        m_state->setFlag(CullingFlag::reject, {item(0), item(1)});
        m_state->setLabel(ColourLabel::purple, {item(0), item(2)});
        QCOMPARE(batches.count(), 3);
        QCOMPARE(m_state->mark(item(1)), (CullingMark{CullingFlag::reject, ColourLabel::none}));
        QCOMPARE(m_state->mark(item(0)), (CullingMark{CullingFlag::reject, ColourLabel::purple}));
        // Only a label every item has is taken off.
        m_state->setLabel(ColourLabel::purple, {item(0), item(2)});
        QVERIFY(m_state->mark(item(2)).isEmpty());
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已清除颜色标签"));
        QVERIFY(!m_state->markByKey(Qt::Key_5, "5", item(0)));
    }
    // The rejects among the images follow each mark change, and what an archive
    // of them takes leaves out those already in its folder.
    void rejectsAreTrackedPerPathAndPlannedOutsideTheirFolder()
    {
        showImages({"a.jpg", "b.jpg", "归档-排除/c.jpg", "归档-排除旧/d.jpg"});
        QSignalSpy rejects(m_state.get(), &AppState::rejectedPathsChanged);
        CullingMarkStore &marks = m_state->cullingMarks();
        marks.setFlag(item(0).path(), CullingFlag::pick);
        marks.setLabel(item(1).path(), ColourLabel::red);
        marks.setFlag(m_dir.path() + "/elsewhere.jpg", CullingFlag::reject); // not shown
        QCOMPARE(rejects.count(), 0);
        marks.setFlags({item(1).path(), item(2).path(), item(3).path()}, CullingFlag::reject);
        QCOMPARE(rejects.count(), 1);
        QCOMPARE(m_state->rejectedPaths(), (QSet{item(1).path(), item(2).path(), item(3).path()}));
        const ArchiveItem plan =
            RejectsArchive::plan(m_state->images(), m_state->rejectedPaths(), m_dir.path());
        QCOMPARE(filenames(plan.images), (QStringList{"b.jpg", "d.jpg"}));
        QCOMPARE(plan.targetPath, m_dir.path() + "/归档-排除");
        marks.removeMarks({item(1).path()});
        QVERIFY(RejectsArchive::hasPending(m_state->rejectedPaths(), m_dir.path())); // d waits
        marks.setFlag(item(3).path(), CullingFlag::none);
        QCOMPARE(rejects.count(), 3);
        QCOMPARE(m_state->rejectedPaths(), QSet{item(2).path()});
        QVERIFY(!RejectsArchive::hasPending(m_state->rejectedPaths(), m_dir.path()));
        marks.setFlag(item(0).path(), CullingFlag::reject);
        QVERIFY(RejectsArchive::hasPending(m_state->rejectedPaths(), m_dir.path()));
        // New images are counted from the store; the same rejects again say nothing.
        showImages({"a.jpg", "e.jpg"});
        QCOMPARE(m_state->rejectedPaths(), QSet{item(0).path()});
        QCOMPARE(rejects.count(), 5);
        showImages({"a.jpg"});
        QCOMPARE(rejects.count(), 5);
    }
    void openingAFolderDropsTheMarksOfItsVanishedFiles()
    {
        touchAll({"kept.jpg"});
        CullingMarkStore &marks = m_state->cullingMarks();
        marks.setFlag(root() + "/kept.jpg", CullingFlag::pick);
        marks.setLabel(root() + "/gone.jpg", ColourLabel::green);
        marks.setLabel(m_dir.path() + "/elsewhere/gone.jpg", ColourLabel::blue);
        open(root());
        QTRY_COMPARE(marks.count(), 2);
        QVERIFY(marks.mark(root() + "/gone.jpg").isEmpty());
        QCOMPARE(marks.mark(root() + "/kept.jpg").flag, CullingFlag::pick);
    }
    void openFollowsItsSteps()
    {
        touchAll({"IMG_10.jpg", "IMG_2.jpg", "sub/IMG_1.heic", "notes.txt"});
        m_state->setStarFilter(3);
        m_state->setFormatFilter(ImageItem::FormatCategory::gif);
        m_state->setFlagFilter(FlagFilter::reject);
        m_state->setLabelFilter(ColourLabel::red);
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
        QVERIFY(m_state->flagFilter() == FlagFilter::all && !m_state->labelFilter());
        QCOMPARE(m_state->folderHistory().folders().size(), 1);
        QCOMPARE(m_state->folderHistory().folders()[0].path, root());
        // One scanner runs overlapping opens in order: the last one ends last.
        QFuture<void> first = m_state->openFolder(QUrl::fromLocalFile(root()), false);
        QFuture<void> second = m_state->openFolder(QUrl::fromLocalFile(root() + "/sub"), false);
        QTRY_VERIFY(first.isFinished() && second.isFinished());
        QCOMPARE(summary(), "stars 0 format -1 selected 0 viewer 1 loading 0: 共 1 张图片");
    }
    void imagesBelowAreCountedAfterTheOpen()
    {
        touchAll({"trip/day 1/a.jpg", "trip/day 2/b.jpg", "other/c.jpg"});
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
        // A newer open drops the pending count, even of the same folder: no hint.
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
    void refreshReplacesOnlyTheSubtree()
    {
        touchAll({"top.jpg", "day1/a.jpg", "day2/b.jpg"});
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
        QCOMPARE(QList({folder.count(), tree.count()}), QList<qsizetype>({0, 1}));
        const FolderNode &after = *m_state->currentFolder();
        QCOMPARE(after.id, before.id);
        QCOMPARE(filteredNames(), (QStringList{"a.jpg", "new.png"}));
        QCOMPARE(*m_state->selectedFolderURL(), day1.url);
        QVERIFY(!m_state->selectedImage());
        QCOMPARE(summary(), "stars 0 format -1 selected 0 viewer 0 loading 0: 共 2 张图片");
        // A vanished folder or a file where a folder was: nothing to list, the open one stays.
        const QList<ImageItem> images = m_state->images();
        open(m_dir.path() + "/vanished");
        QCOMPARE(summary(),
                 "stars 0 format -1 selected 0 viewer 0 loading 0: 无法读取文件夹「vanished」");
        QCOMPARE(m_state->currentFolder()->id, before.id);
        QCOMPARE(m_state->folderHistory().folders().size(), 1);
        QVERIFY(QDir(root() + "/day2").removeRecursively());
        QVERIFY(QFile(root() + "/day2").open(QIODevice::WriteOnly));
        done = m_state->refreshFolder(before.children[1]);
        QTRY_VERIFY(done.isFinished());
        QCOMPARE(summary(),
                 "stars 0 format -1 selected 0 viewer 0 loading 0: 无法读取文件夹「day2」");
        QCOMPARE(m_state->currentFolder()->children[1].id, before.children[1].id);
        QCOMPARE(m_state->images(), images);
    }
    // Read once, kept beside the ratings (a damaged cache is rebuilt): a new
    // session opens no unchanged photo, a refresh reads the changed one again.
    void shootingDataIsReadOnceAndCached()
    {
        QVERIFY(ImagingFixtures::writeBytes(m_dir.path() + "/shooting-data.cache", "KSDI\1\2"));
        const QString a = writeShot("a.jpg", "EOS R5");
        const QString b = writeShot("b.jpg", "Z 9");
        const QString bare = touch(root(), "c.jpg");
        open(root());
        QTRY_VERIFY(m_state->shootingData().isComplete());
        const ShootingData *shot = m_state->shootingData().find(a);
        QVERIFY(shot);
        QCOMPARE(shot->cameraModel, QStringLiteral("EOS R5"));
        QCOMPARE(shot->lens, QStringLiteral("RF50mm F1.8"));
        QCOMPARE(shot->focalLength, 50.0);
        QCOMPARE(shot->captureTime, QDateTime(QDate(2024, 5, 1), QTime(13, 45, 10)));
        QCOMPARE(m_state->shootingData().find(bare)->timeSource,
                 ShootingData::TimeSource::fileModified);
        QCOMPARE(m_state->shootingData().filesRead(), 3);

        m_state.reset();
        m_queues.background().waitForDone();
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
        QSignalSpy completed(&m_state->shootingData(), &ShootingDataIndex::completed);
        open(root());
        QTRY_COMPARE(completed.count(), 1);
        QCOMPARE(m_state->shootingData().filesRead(), 0);
        const ShootingData *cached = m_state->shootingData().find(a);
        QCOMPARE(cached->cameraModel, QStringLiteral("EOS R5"));
        QCOMPARE(cached->fileModified, QFileInfo(a).lastModified());
        // Times come back with their offset fixed: sorting never asks the time zone.
        QVERIFY(cached->captureTime.timeSpec() != Qt::LocalTime);
        QVERIFY(m_state->shootingData().find(bare)->captureTime.timeSpec() != Qt::LocalTime);

        writeShot("b.jpg", "Z 8");
        QFile changed(b);
        QVERIFY(changed.open(QIODevice::ReadWrite));
        QVERIFY(changed.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                    QFileDevice::FileModificationTime));
        QFuture<void> done = m_state->refreshFolder(*m_state->currentFolder());
        QTRY_COMPARE(completed.count(), 2);
        QVERIFY(done.isFinished());
        QCOMPARE(m_state->shootingData().filesRead(), 1);
        QCOMPARE(m_state->shootingData().find(b)->cameraModel, QStringLiteral("Z 8"));
    }
    // The reading waits behind held threads: a newer folder stops it before
    // it lands; its progress takes the status line only from the count.
    void shootingDataOfANewerFolderReplacesTheOlder()
    {
        const QString first = writeShot("first/a.jpg", "EOS R5");
        const QString second = writeShot("second/b.jpg", "Z 9");
        writeShot("second/c.jpg", "Z 9");
        ShootingDataIndex &index = m_state->shootingData();
        QSignalSpy completed(&index, &ShootingDataIndex::completed);
        HeldThreads held(m_queues.shootingData());
        open(root() + "/first");
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("正在读取拍摄信息 0 / 1"));
        QVERIFY(!index.isComplete() && !index.find(first));
        open(root() + "/second");
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("正在读取拍摄信息 0 / 2"));
        held.release();
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("共 2 张图片"));
        QCOMPARE(completed.count(), 1);
        QVERIFY(!index.find(first));
        QCOMPARE(index.find(second)->cameraModel, QStringLiteral("Z 9"));

        // Data the older set's reading sent but the index has not taken yet never lands.
        HeldThreads heldOnceMore(m_queues.shootingData());
        open(root() + "/first");
        heldOnceMore.release();
        m_queues.shootingData().waitForDone();
        index.setPaths({second});
        QTRY_COMPARE(completed.count(), 2);
        QVERIFY(!index.find(first));
        QCOMPARE(index.doneCount(), 1);

        // A message the user caused meanwhile stays.
        HeldThreads heldAgain(m_queues.shootingData());
        open(root() + "/second");
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("正在读取拍摄信息 0 / 2"));
        m_state->updateRating(3, item(0));
        heldAgain.release();
        QTRY_COMPARE(completed.count(), 3);
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已标记 3 星"));
    }
    // Ratings follow the path into the new scan's items: the counts stay, no signal.
    void reopenKeepsRatingsWithoutASignal()
    {
        const QString kept = touch(root(), "deep/kept.jpg");
        open(root());
        m_state->updateRating(3, ImageItem(kept));
        QSignalSpy ratings(m_state.get(), &AppState::ratingsChanged);
        open(root());
        QCOMPARE(m_state->rating(m_state->images().value(0)), 3);
        QCOMPARE(ratings.count(), 0);
    }
    void compareOpensOnTwoToFourPhotos_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("viewerAt"); // -1: opened from the selection
        QTest::addColumn<QStringList>("panes");
        QTest::newRow("one selected") << QList<int>{2} << -1 << QStringList{};
        QTest::newRow("in list order") << QList<int>{3, 0, 4} << -1 << QStringList{"1", "4", "5"};
        QTest::newRow("five selected") << QList<int>{0, 1, 2, 3, 4} << -1 << QStringList{};
        QTest::newRow("hidden ones out") << QList<int>{0, 5} << -1 << QStringList{};
        QTest::newRow("viewer: the next") << QList<int>{} << 1 << QStringList{"2", "3"};
        QTest::newRow("viewer: last, previous") << QList<int>{} << 4 << QStringList{"5", "4"};
    }
    void compareOpensOnTwoToFourPhotos()
    {
        QFETCH(QList<int>, selected);
        QFETCH(int, viewerAt);
        QFETCH(QStringList, panes);
        showImages({"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg", "6.png"});
        m_state->setFormatFilter(Category::jpeg);
        for (const int index : selected)
            m_state->toggleSelection(item(index).id());
        CompareSession &compare = m_state->compare();
        QSignalSpy opened(&compare, &CompareSession::openChanged);
        if (viewerAt >= 0)
            m_state->selectImage(viewerAt);
        QCOMPARE(viewerAt >= 0 ? compare.openFromViewer() : compare.openSelection(),
                 !panes.isEmpty());
        QStringList names = filenames(compare.items());
        names.replaceInStrings(QStringLiteral(".jpg"), QString());
        QCOMPARE(names, panes);
        QCOMPARE(opened.count(), panes.isEmpty() ? 0 : 1);
        if (panes.isEmpty())
            return;
        // The viewer lets go while compare shows, and comes back on the select.
        QVERIFY(!m_state->isViewerActive());
        QVERIFY(CompareSession::handleKey(*m_state, Qt::Key_Escape, QString()));
        QVERIFY(!compare.isOpen());
        QCOMPARE(m_state->isViewerActive(), viewerAt >= 0);
        if (viewerAt >= 0)
            QCOMPARE(*m_state->selectedImage(), item(viewerAt));
        QCOMPARE(m_state->selectedImageIDs().size(), selected.size());
    }
    void compareStepsSwapsRatesAndClosesWhenItemsGo()
    {
        showImages({"1.jpg", "2.jpg", "3.jpg"});
        CompareSession &compare = m_state->compare();
        m_state->setImages({item(0)});
        m_state->selectImage(0);
        QVERIFY(!compare.openFromViewer());
        QCOMPARE(m_state->statusMessage(), QStringLiteral("只有一张图片，无法对比"));
        showImages({"1.jpg", "2.jpg", "3.jpg", "4.jpg"});
        m_state->selectImage(1);
        QVERIFY(compare.openFromViewer());
        m_state->setStatusMessage(QString());
        QSignalSpy items(&compare, &CompareSession::itemsChanged);
        const auto press = [&](int key, const QString &text = QString()) {
            if (!CompareSession::handleKey(*m_state, key, text))
                return QStringLiteral("not handled");
            QStringList names = filenames(compare.items());
            names.replaceInStrings(QStringLiteral(".jpg"), QString());
            return names.join(' ') + ' ' + m_state->statusMessage();
        };
        // The candidate steps around the select, to the ends of the list.
        QCOMPARE(press(Qt::Key_Left), "2 1 ");
        QCOMPARE(press(Qt::Key_Left), "2 1 已是第一张");
        QCOMPARE(press(Qt::Key_Right), "2 3 已是第一张");
        QCOMPARE(press(Qt::Key_Right), "2 4 已是第一张");
        QCOMPARE(press(Qt::Key_Right), "2 4 已是最后一张");
        QCOMPARE(items.count(), 3);
        QCOMPARE(press(Qt::Key_Up), "4 2 已是最后一张");
        QCOMPARE(press(Qt::Key_Right), "4 3 已是最后一张");
        // Digits rate the active photo; the same digit or 0 clears it.
        compare.setActivePane(1);
        QCOMPARE(press(Qt::Key_3, "3"), "4 3 已标记 3 星");
        QCOMPARE(m_state->rating(item(2)), 3);
        QCOMPARE(press(Qt::Key_3, "3"), "4 3 已取消标记");
        // Marking keys act on the active photo.
        QCOMPARE(press(Qt::Key_X, "x"), "4 3 已标记为排除");
        QCOMPARE(m_state->mark(item(2)).flag, CullingFlag::reject);
        press(Qt::Key_5, "5");
        QCOMPARE(press(Qt::Key_0, "0"), "4 3 已取消标记");
        QCOMPARE(m_state->rating(item(2)), 0);
        QVERIFY(!CompareSession::handleKey(*m_state, Qt::Key_W, "w"));
        m_state->setSheetPresented(true);
        QVERIFY(!CompareSession::handleKey(*m_state, Qt::Key_Right, QString()));
        m_state->setSheetPresented(false);
        // Four panes: the arrows move the active pane, Up swaps nothing.
        for (int i = 0; i < 4; ++i)
            m_state->toggleSelection(item(i).id());
        QVERIFY(compare.openSelection());
        QCOMPARE(compare.activePane(), 0);
        QCOMPARE(press(Qt::Key_Up), "1 2 3 4 已取消标记");
        QSignalSpy active(&compare, &CompareSession::activePaneChanged);
        for (const int expected : {1, 2, 3, 3}) {
            press(Qt::Key_Right);
            QCOMPARE(compare.activePane(), expected);
        }
        QCOMPARE(active.count(), 3);
        press(Qt::Key_Left);
        QCOMPARE(compare.activeItem(), item(2));
        // A rescan gives new items: compare closes onto the grid.
        QSignalSpy opened(&compare, &CompareSession::openChanged);
        showImages({"1.jpg", "2.jpg"});
        QVERIFY(!compare.isOpen() && !m_state->isViewerActive());
        QCOMPARE(opened.count(), 1);
    }
    void filters_data()
    {
        QTest::addColumn<int>("stars");
        QTest::addColumn<std::optional<Category>>("format");
        QTest::addColumn<QStringList>("shown");
        const std::optional<Category> all;
        QTest::newRow("all") << 0 << all << kNames;
        QTest::newRow("unrated: 0 and none") << -1 << all << QStringList{"d.HEIC", "f.jpg"};
        QTest::newRow("exactly 4, not 5") << 4 << all << QStringList{"c.heif"};
        QTest::newRow("no one has 1") << 1 << all << QStringList{};
        QTest::newRow("other values keep all") << -2 << all << kNames;
        QTest::newRow("heic in order")
            << 0 << std::optional(Category::heic) << QStringList{"c.heif", "d.HEIC"};
        QTest::newRow("3 and jpeg") << 3 << std::optional(Category::jpeg) << QStringList{"b.jpg"};
    }
    void filters()
    {
        QFETCH(int, stars);
        QFETCH(std::optional<Category>, format);
        QFETCH(QStringList, shown);
        m_list->setStarFilter(stars);
        m_list->setFormatFilter(format);
        QCOMPARE(filenames(m_list->filteredImages()), shown);
        // Whatever the filters, the choices come from every image, in their order.
        QCOMPARE(m_list->availableStarRatings(), (QList<int>{0, 2, 3, 4, 5}));
        QCOMPARE(m_list->availableFormats(),
                 (QList<Category>{Category::raw, Category::jpeg, Category::png, Category::heic}));
    }
    void markFilters_data()
    {
        QTest::addColumn<int>("stars");
        QTest::addColumn<FlagFilter>("flag");
        QTest::addColumn<std::optional<ColourLabel>>("label");
        QTest::addColumn<QStringList>("shown");
        const std::optional<ColourLabel> all;
        const QStringList names{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"};
        QTest::newRow("all") << 0 << FlagFilter::all << all << names;
        QTest::newRow("picks") << 0 << FlagFilter::pick << all << QStringList{"a.jpg", "d.jpg"};
        QTest::newRow("unflagged")
            << 0 << FlagFilter::unflagged << all << QStringList{"c.jpg", "e.jpg"};
        QTest::newRow("rejects") << 0 << FlagFilter::reject << all << QStringList{"b.jpg"};
        QTest::newRow("hide rejects") << 0 << FlagFilter::hideRejects << all
                                      << QStringList{"a.jpg", "c.jpg", "d.jpg", "e.jpg"};
        QTest::newRow("red") << 0 << FlagFilter::all << std::optional(ColourLabel::red)
                             << QStringList{"a.jpg", "b.jpg"};
        QTest::newRow("no label") << 0 << FlagFilter::all << std::optional(ColourLabel::none)
                                  << QStringList{"d.jpg", "e.jpg"};
        QTest::newRow("red, rejects hidden")
            << 0 << FlagFilter::hideRejects << std::optional(ColourLabel::red)
            << QStringList{"a.jpg"};
        QTest::newRow("3 stars, rejects hidden")
            << 3 << FlagFilter::hideRejects << all << QStringList{"a.jpg"};
    }
    void markFilters()
    {
        QFETCH(int, stars);
        QFETCH(FlagFilter, flag);
        QFETCH(std::optional<ColourLabel>, label);
        QFETCH(QStringList, shown);
        showMarkedImages();
        QSignalSpy flags(m_state.get(), &AppState::flagFilterChanged);
        m_state->setStarFilter(stars);
        m_state->setFlagFilter(flag);
        m_state->setLabelFilter(label);
        QCOMPARE(filteredNames(), shown);
        QCOMPARE(flags.count(), flag == FlagFilter::all ? 0 : 1);
    }
    void markChangeRefiltersUnderAMarkFilter()
    {
        showMarkedImages();
        QSignalSpy filtered(m_state.get(), &AppState::filteredImagesChanged);
        CullingMarkStore &marks = m_state->cullingMarks();
        marks.setFlag(item(4).path(), CullingFlag::reject); // no mark filter: nothing to do
        QCOMPARE(filtered.count(), 0);
        m_state->setFlagFilter(FlagFilter::hideRejects);
        QCOMPARE(filteredNames(), (QStringList{"a.jpg", "c.jpg", "d.jpg"}));
        marks.setFlag(item(1).path(), CullingFlag::none);
        QCOMPARE(filteredNames(), (QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
        m_state->setLabelFilter(ColourLabel::green);
        marks.setLabels({item(0).path(), item(3).path()}, ColourLabel::green);
        QCOMPARE(filteredNames(), (QStringList{"a.jpg", "c.jpg", "d.jpg"}));
        QCOMPARE(filtered.count(), 4);
    }
    void sortOrders_data()
    {
        using Key = SortOrder::Key;
        QTest::addColumn<SortOrder>("order");
        QTest::addColumn<QStringList>("shown");
        // Ratings: a 2, b 3, the others none. Capture times: b 10:00, c 09:00, a and e 11:00 (a
        // tie), d unknown; the modification times run the other way round.
        QTest::newRow("capture time, ties in name order, unknown last")
            << SortOrder{Key::captureTime, false}
            << QStringList{"c.jpg", "b.jpg", "a.jpg", "e.jpg", "d.jpg"};
        QTest::newRow("capture time descending, unknown still last")
            << SortOrder{Key::captureTime, true}
            << QStringList{"a.jpg", "e.jpg", "b.jpg", "c.jpg", "d.jpg"};
        QTest::newRow("rating descending")
            << SortOrder{Key::rating, true}
            << QStringList{"b.jpg", "a.jpg", "c.jpg", "d.jpg", "e.jpg"};
        QTest::newRow("rating ascending")
            << SortOrder{Key::rating, false}
            << QStringList{"c.jpg", "d.jpg", "e.jpg", "a.jpg", "b.jpg"};
        QTest::newRow("modified") << SortOrder{Key::modified, false}
                                  << QStringList{"e.jpg", "c.jpg", "b.jpg", "a.jpg", "d.jpg"};
        QTest::newRow("file name descending")
            << SortOrder{Key::fileName, true}
            << QStringList{"e.jpg", "d.jpg", "c.jpg", "b.jpg", "a.jpg"};
    }
    void sortOrders()
    {
        QFETCH(SortOrder, order);
        QFETCH(QStringList, shown);
        showShotImages();
        m_state->setSortOrder(order);
        QCOMPARE(filenames(m_shotList->filteredImages()), QStringList(kShotNames));
        QCOMPARE(m_shotList->setSortOrder(order), (Changes{false, false, true}));
        QCOMPARE(filenames(m_shotList->filteredImages()), shown);
        // A filter before the sort keeps the order of what it leaves.
        m_shotList->setFormatFilter(Category::jpeg);
        QCOMPARE(filenames(m_shotList->filteredImages()), shown);
        // The choice outlives the state.
        m_state.reset();
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
        QCOMPARE(m_state->sortOrder(), order);
    }
    void sortFollowsRatingsAndShootingData()
    {
        showShotImages();
        m_shotList->setSortOrder({SortOrder::Key::rating, true});
        m_ratings[m_shotImages[4].path()] = 5;
        QCOMPARE(m_shotList->ratingChanged(m_shotImages[4].path(), 0, 5),
                 (Changes{false, true, true}));
        QCOMPARE(filenames(m_shotList->filteredImages()).first(), "e.jpg");
        QCOMPARE(m_shotList->shootingDataChanged(), Changes{}); // a rating sort reads none
        m_shotList->setSortOrder({SortOrder::Key::captureTime, false});
        m_shot[m_shotImages[3].path()] = shotAt(8, "", "");
        QCOMPARE(m_shotList->shootingDataChanged(), (Changes{false, false, true}));
        QCOMPARE(filenames(m_shotList->filteredImages()).first(), "d.jpg");
    }
    void shootingFilters()
    {
        using Field = ImageListPipeline::ShootingField;
        showShotImages();
        using Values = QList<ImageListPipeline::ValueCount>;
        // The data of d is not known: it is neither counted nor shown.
        QCOMPARE(m_shotList->shootingValues(Field::camera),
                 (Values{{"Canon EOS R5", 2}, {"SONY ILCE-7M4", 1}, {"", 1}}));
        QCOMPARE(m_shotList->shootingValues(Field::lens),
                 (Values{{"RF50mm F1.2 L USM", 1}, {"", 3}}));
        QCOMPARE(m_shotList->setShootingFilter(Field::camera, "Canon EOS R5"),
                 (Changes{false, false, true}));
        QCOMPARE(filenames(m_shotList->filteredImages()), (QStringList{"a.jpg", "b.jpg"}));
        QCOMPARE(m_shotList->setShootingFilter(Field::lens, ""), (Changes{false, false, true}));
        QCOMPARE(filenames(m_shotList->filteredImages()), QStringList{"b.jpg"});
        m_shotList->setShootingFilter(Field::camera, "");
        QCOMPARE(filenames(m_shotList->filteredImages()), QStringList{"e.jpg"});
        // Data read later counts once the pipeline hears of it.
        m_shot[m_shotImages[3].path()] = shotAt(8, "", "");
        QCOMPARE(m_shotList->shootingDataChanged(), (Changes{false, false, true}));
        QCOMPARE(filenames(m_shotList->filteredImages()), (QStringList{"d.jpg", "e.jpg"}));
        m_shotList->setShootingFilter(Field::camera, std::nullopt);
        m_shotList->setShootingFilter(Field::lens, std::nullopt);
        QCOMPARE(filenames(m_shotList->filteredImages()), QStringList(kShotNames));
    }
    void cameraNames_data()
    {
        QTest::addColumn<QString>("make");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("name");
        QTest::newRow("model names the maker") << "NIKON CORPORATION"
                                               << "NIKON D70"
                                               << "NIKON D70";
        QTest::newRow("in another case") << "Canon"
                                         << "CANON EOS R5"
                                         << "CANON EOS R5";
        QTest::newRow("maker's first word in front") << "OLYMPUS IMAGING CORP."
                                                     << "E-M1"
                                                     << "OLYMPUS E-M1";
        QTest::newRow("model only") << ""
                                    << "X100V"
                                    << "X100V";
        QTest::newRow("maker only") << "Leica"
                                    << ""
                                    << "Leica";
        QTest::newRow("neither") << ""
                                 << ""
                                 << "";
    }
    void cameraNames()
    {
        QFETCH(QString, make);
        QFETCH(QString, model);
        QFETCH(QString, name);
        ShootingData data;
        data.cameraMake = make;
        data.cameraModel = model;
        QCOMPARE(data.cameraName(), name);
    }
    void viewerKeepsItsPhotoWhenTheListChanges()
    {
        showMarkedImages();      // ratings a 3, b 3
        m_state->selectImage(2); // c
        m_state->setSortOrder({SortOrder::Key::rating, true});
        QCOMPARE(m_state->currentIndex(), 2);
        // Rated up, c moves to the front and the viewer goes with it.
        m_state->updateRating(5, item(2));
        QCOMPARE(filteredNames().first(), "c.jpg");
        QCOMPARE(m_state->currentIndex(), 0);
        QCOMPARE(m_state->selectedImage(), item(2));
        // Rejected while rejects are hidden, it gives way to the photo after it.
        m_state->setFlagFilter(FlagFilter::hideRejects);
        m_state->setFlag(CullingFlag::reject, {item(2)});
        QCOMPARE(m_state->currentIndex(), 0);
        QCOMPARE(m_state->selectedImage(), item(0));
        QVERIFY(m_state->isViewerActive());
        // When nothing is left, the viewer closes.
        m_state->setFlagFilter(FlagFilter::pick);
        m_state->setFlag(CullingFlag::reject, {item(0), item(3)});
        QVERIFY(!m_state->isViewerActive());
    }
    void undoAndRedoTakeBackRatingsAndMarks()
    {
        showImages({"a.jpg", "b.jpg", "c.jpg"});
        UndoHistory &history = m_state->undoHistory();
        // Each state: the ratings and flag/label names of a, b and c.
        const auto snapshot = [&] {
            QStringList parts;
            for (int i = 0; i < 3; ++i) {
                const CullingMark mark = m_state->mark(item(i));
                parts << QStringLiteral("%1%2%3")
                             .arg(m_state->rating(item(i)))
                             .arg(CullingMark::flagName(mark.flag),
                                  CullingMark::labelName(mark.label));
            }
            return parts.join(' ');
        };
        QStringList states{snapshot()};
        const QList<std::function<void()>> actions{
            [&] { m_state->updateRating(3, item(0)); },
            [&] { m_state->updateRating(5, item(0)); },
            [&] {
                m_state->setFlag(CullingFlag::pick, {item(0), item(1)});
            },
            [&] { m_state->setLabel(ColourLabel::red, {item(1)}); },
            [&] {
                m_state->setFlag(CullingFlag::reject, {item(1), item(2)});
            },
            [&] { m_state->updateRating(5, item(0)); }, // the same digit clears
        };
        for (const auto &action : actions) {
            action();
            states << snapshot();
        }
        QCOMPARE(history.undoDescription(), QStringLiteral("清除评分"));
        for (qsizetype i = states.size() - 2; i >= 0; --i) {
            QVERIFY(history.canUndo());
            m_state->undo();
            QCOMPARE(snapshot(), states[i]);
        }
        QVERIFY(!history.canUndo() && history.canRedo());
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已撤销：评分 3 星"));
        m_state->undo(); // nothing left: nothing changes
        QCOMPARE(m_state->statusMessage(), QStringLiteral("已撤销：评分 3 星"));
        for (qsizetype i = 1; i < states.size(); ++i) {
            m_state->redo();
            QCOMPARE(snapshot(), states[i]);
            if (i == 5)
                QCOMPARE(m_state->statusMessage(), QStringLiteral("已重做：标记为排除（2 张）"));
        }
        QVERIFY(!history.canRedo());
        // A new action after an undo forgets the redo; one that changes nothing is not kept.
        m_state->undo();
        m_state->setLabel(ColourLabel::blue, {item(2)});
        QVERIFY(!history.canRedo());
        QCOMPARE(history.undoDescription(), QStringLiteral("标记为蓝色"));
        m_state->setFlag(CullingFlag::reject, {item(2)}); // already rejected
        QCOMPARE(history.undoDescription(), QStringLiteral("标记为蓝色"));
        // Another folder keeps the history of these files.
        showImages({"x.jpg"});
        m_state->undo();
        QCOMPARE(m_state->cullingMarks().mark(m_dir.path() + "/c.jpg").label, ColourLabel::none);
    }
    void undoHistoryKeepsTheNewestSteps()
    {
        showImages({"a.jpg"});
        UndoHistory &history = m_state->undoHistory();
        QSignalSpy changed(&history, &UndoHistory::changed);
        for (qsizetype i = 0; i <= UndoHistory::capacity; ++i)
            m_state->updateRating(1 + int(i % 2), item(0));
        QCOMPARE(changed.count(), UndoHistory::capacity + 1);
        qsizetype undone = 0;
        while (history.canUndo()) {
            m_state->undo();
            ++undone;
        }
        QCOMPARE(undone, UndoHistory::capacity);
        // The oldest step (none to 1 star) was forgotten: one star is left.
        QCOMPARE(m_state->rating(item(0)), 1);
    }
    void changesAreReportedOnlyWhenReal()
    {
        const QString b = m_images[1].path();
        const auto rate = [&](const QString &path, int stars) {
            const int old = m_ratings.value(path, 0);
            m_ratings[path] = stars;
            return m_list->ratingChanged(path, old, stars);
        };
        // Without a star filter a rating leaves the list (the images, not a copy) alone.
        QCOMPARE(rate(b, 1), (Changes{false, true, false}));
        QCOMPARE(m_list->filteredImages().constData(), m_list->images().constData());
        QCOMPARE(rate(b, 1), Changes{});
        QCOMPARE(m_list->ratingChanged("/elsewhere/b.jpg", 0, 4), Changes{});
        QCOMPARE(m_list->availableStarRatings(), (QList<int>{0, 1, 2, 3, 4, 5}));
        QCOMPARE(m_list->setStarFilter(-1), (Changes{false, false, true}));
        QCOMPARE(rate(b, 0), (Changes{false, true, true}));
        QCOMPARE(filenames(m_list->filteredImages()), (QStringList{"b.jpg", "d.HEIC", "f.jpg"}));
        // A new rating that keeps the list as it was refilters but reports no change.
        QCOMPARE(rate(m_images[0].path(), 4), (Changes{false, true, false}));
        QCOMPARE(m_list->setFormatFilter(Category::gif), (Changes{false, false, true}));
        // Many ratings at once: counted and filtered once.
        m_list->setFormatFilter(std::nullopt);
        m_ratings.clear();
        QCOMPARE(m_list->ratingsReplaced(), (Changes{false, true, true}));
        QCOMPARE(m_list->filteredImages().size(), m_images.size());
        QCOMPARE(m_list->availableStarRatings(), QList<int>{0});
        QCOMPARE(m_list->ratingsReplaced(), Changes{});
        // The same items again change nothing; new ones refilter and recount.
        QCOMPARE(m_list->setImages(QList<ImageItem>(m_images)), Changes{});
        m_ratings[m_images[0].path()] = 2;
        QCOMPARE(m_list->setImages(m_images.mid(0, 2)), (Changes{true, true, true}));
        QCOMPARE(filenames(m_list->filteredImages()), QStringList{"b.jpg"});
        // One rating moves the counts of every item of its file (a rescan's beside the old).
        const ImageItem twin(m_images[0].path());
        m_ratings[m_images[6].path()] = 5;
        m_list->setImages({m_images[0], twin, m_images[6]});
        m_list->setStarFilter(2);
        QCOMPARE(m_list->filteredImages(), (QList<ImageItem>{m_images[0], twin}));
        rate(twin.path(), 5);
        QCOMPARE(m_list->availableStarRatings(), QList<int>{5});
        QVERIFY(m_list->filteredImages().isEmpty());
        QCOMPARE(m_list->setImages({}), (Changes{true, true, false})); // none shown before
        QVERIFY(m_list->availableFormats().isEmpty());
        QVERIFY(m_list->availableStarRatings().isEmpty());
    }

private:
    // Five images with shooting data (see sortOrders_data) in a pipeline of
    // their own that reads m_shot and m_ratings.
    void showShotImages()
    {
        showImages(kShotNames);
        m_shotImages = m_state->images();
        m_shot.clear();
        const auto path = [this](int i) { return m_shotImages[i].path(); };
        m_shot[path(0)] = shotAt(11, "Canon", "Canon EOS R5", "RF50mm F1.2 L USM", 4);
        m_shot[path(1)] = shotAt(10, "Canon", "Canon EOS R5", "", 3);
        m_shot[path(2)] = shotAt(9, "SONY", "ILCE-7M4", "", 2);
        m_shot[path(4)] = shotAt(11, "", "", "", 1);
        m_shotList = std::make_unique<ImageListPipeline>(
            [this](const QString &path) { return m_ratings.value(path, 0); }, m_discards,
            FlagFilterStep::MarkLookup(),
            [this](const QString &path) -> const ShootingData * {
                const auto found = m_shot.constFind(path);
                return found == m_shot.cend() ? nullptr : &*found;
            });
        m_ratings.clear();
        m_ratings[path(0)] = 2;
        m_ratings[path(1)] = 3;
        m_shotList->setImages(m_shotImages);
    }
    static ShootingData shotAt(int hour, const QString &make, const QString &model,
                               const QString &lens = {}, int modifiedDay = 1)
    {
        ShootingData data;
        data.captureTime = QDateTime(QDate(2024, 5, 1), QTime(hour, 0));
        data.timeSource = ShootingData::TimeSource::capture;
        data.fileModified = QDateTime(QDate(2024, 6, modifiedDay), QTime(12, 0));
        data.cameraMake = make;
        data.cameraModel = model;
        data.lens = lens;
        return data;
    }
    // a: pick red 3 stars, b: reject red 3 stars, c: green, d: pick, e: unmarked.
    void showMarkedImages()
    {
        showImages({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
        CullingMarkStore &marks = m_state->cullingMarks();
        marks.setFlags({item(0).path(), item(3).path()}, CullingFlag::pick);
        marks.setFlag(item(1).path(), CullingFlag::reject);
        marks.setLabels({item(0).path(), item(1).path()}, ColourLabel::red);
        marks.setLabel(item(2).path(), ColourLabel::green);
        m_state->updateRating(3, item(0));
        m_state->updateRating(3, item(1));
    }
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
    const ImageItem &item(int index) const { return m_state->images()[index]; }

    QStringList filteredNames() const { return filenames(m_state->filteredImages()); }
    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    void touchAll(const QStringList &files) const
    {
        for (const QString &file : files)
            touch(root(), file);
    }

    // A small JPEG with camera EXIF, taken 2024-05-01 13:45:10 at 50 mm.
    QString writeShot(const QString &name, const char *model) const
    {
        const QString path = root() + "/" + name;
        QDir().mkpath(QFileInfo(path).path());
        if (ImagingFixtures::writeJpeg(path, ImagingFixtures::filled({32, 24}, Qt::gray)).isEmpty())
            return {};
        ImagingFixtures::addExifTags(
            path, {{"Exif.Image.Model", Exiv2::asciiString, model},
                   {"Exif.Photo.LensModel", Exiv2::asciiString, "RF50mm F1.8"},
                   {"Exif.Photo.FocalLength", Exiv2::unsignedRational, "50/1"},
                   {"Exif.Photo.DateTimeOriginal", Exiv2::asciiString, "2024:05:01 13:45:10"}});
        return path;
    }
    void open(const QString &path, bool sub = true)
    {
        QVERIFY(BrowseFixtures::open(*m_state, path, sub));
    }
    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
    QThreadPool m_discards;
    QHash<QString, int> m_ratings;
    QList<ImageItem> m_images;
    std::unique_ptr<ImageListPipeline> m_list;
    QList<ImageItem> m_shotImages;
    QHash<QString, ShootingData> m_shot;
    std::unique_ptr<ImageListPipeline> m_shotList;
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
