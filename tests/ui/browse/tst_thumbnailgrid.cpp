#include "BrowseFixtures.h"
#include "ImagingFixtures.h"
#include "browse/ArchiveBusyVeil.h"
#include "browse/ArchiveConfirmView.h"
#include "browse/FilterCapsuleButton.h"
#include "browse/SelectionActionBar.h"
#include "browse/StarFilterBar.h"
#include "browse/ThumbnailCell.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListModel.h"
#include "browse/ThumbnailListView.h"
#include "common/BrowseStyle.h"
#include "common/FileRevealer.h"
#include "imaging/ImageLoader.h"
#include "model/WorkQueues.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDirIterator>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

using BrowseFixtures::filenames;
using BrowseFixtures::writeImage;

namespace {

// Hands the paths over to the test instead of a file manager.
class RecordingRevealer : public FileRevealer
{
public:
    explicit RecordingRevealer(QStringList *revealed)
        : m_revealed(revealed)
    {}
    void reveal(const QString &path) override { *m_revealed << path; }

private:
    QStringList *m_revealed;
};

} // namespace

// The browsing screen on real folders, offscreen: clicks, the rubber band,
// the bars, the cells' thumbnails and the archive flow through its sheet.
class TestThumbnailGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void modelFollowsFilteredImages();
    void ratingChangeRedrawsWithoutReloading();
    void clickOpensTheViewerOrToggles();
    void selectionBadgeTogglesWithNothingSelected();
    void dragsShorterThanEightPointsAreClicks();
    void rubberBandAddsToTheStartingSelection();
    void rubberBandCornerOverlapAndGap();
    void filterBarOffersWhatTheImagesHave();
    void filterButtonsSetStatusAndArchiveButton();
    void countsForAnEmptyFolder();
    void selectionBarFollowsTheSelection();
    void thumbnailsOnlyForCellsOnScreen();
    void undecodableFileShowsThePlaceholder();
    void storedThumbnailGivesWayToTheSharpOne();
    void hiDpiCellsAskForSharperThumbnails();
    void loadingTileHasNoFillAndBadgeHasTwoPointsAboveAndBelow();
    void reopenedFolderPaintsTheEditedPicture();
    void contextMenuRevealsAndCopies();
    void returnsToTheLastViewedImage();

    void archiveSelectedImagesThroughTheSheet();
    void gridIsBusyWhileAnArchiveRuns();
    void archiveByRatingWhileBrowsingASubFolder();
    void archivePlanWithNoImages();
    void changeChoosesAnotherFolder();
    void escapeCancelsTheSheet();

private:
    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    void openGrid(int width = 800, int height = 600);
    QWidget *viewport() const;
    QRect slot(int row) const;
    QPoint pictureCentre(int row) const;
    void press(const QPoint &pos);
    void move(const QPoint &pos);
    void release(const QPoint &pos);
    void click(const QPoint &pos);
    QSet<QUuid> ids(std::initializer_list<int> rows) const;
    QStringList filesBelow(const QString &folder) const;
    ArchiveConfirmView *waitForSheet() const;

    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<ThumbnailGridView> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestThumbnailGrid::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
    QDir().mkpath(root());
    m_state = std::make_unique<AppState>(m_queues, m_dir.path() + "/ratings.json",
                                         m_dir.path() + "/settings.ini");
}

void TestThumbnailGrid::cleanup()
{
    m_tester.reset();
    m_grid.reset();
    m_state.reset();
}

void TestThumbnailGrid::openGrid(int width, int height)
{
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    m_grid = std::make_unique<ThumbnailGridView>(*m_state);
    m_tester = std::make_unique<QAbstractItemModelTester>(
        &m_grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_grid->resize(width, height);
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
}

QWidget *TestThumbnailGrid::viewport() const
{
    return m_grid->listView().viewport();
}

QRect TestThumbnailGrid::slot(int row) const
{
    return m_grid->listView().visualRect(m_grid->model().index(row));
}

QPoint TestThumbnailGrid::pictureCentre(int row) const
{
    return ThumbnailCell::pictureRect(slot(row)).center();
}

void TestThumbnailGrid::press(const QPoint &pos)
{
    QMouseEvent event(QEvent::MouseButtonPress, pos, viewport()->mapToGlobal(pos), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &event);
}

void TestThumbnailGrid::move(const QPoint &pos)
{
    QMouseEvent event(QEvent::MouseMove, pos, viewport()->mapToGlobal(pos), Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &event);
}

void TestThumbnailGrid::release(const QPoint &pos)
{
    QMouseEvent event(QEvent::MouseButtonRelease, pos, viewport()->mapToGlobal(pos), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport(), &event);
}

void TestThumbnailGrid::click(const QPoint &pos)
{
    press(pos);
    release(pos);
}

QSet<QUuid> TestThumbnailGrid::ids(std::initializer_list<int> rows) const
{
    QSet<QUuid> result;
    for (const int row : rows)
        result.insert(m_state->filteredImages().at(row).id());
    return result;
}

QStringList TestThumbnailGrid::filesBelow(const QString &folder) const
{
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QDir(folder).relativeFilePath(it.next());
    names.sort();
    return names;
}

ArchiveConfirmView *TestThumbnailGrid::waitForSheet() const
{
    if (!QTest::qWaitFor(
            [this] { return m_grid->archiveSheet() && m_grid->archiveSheet()->isVisible(); }))
        return nullptr;
    return m_grid->archiveSheet();
}

void TestThumbnailGrid::modelFollowsFilteredImages()
{
    for (int i = 1; i <= 6; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    writeImage(root(), "shot.png");
    openGrid();
    ThumbnailListModel &model = m_grid->model();
    QCOMPARE(model.rowCount(), 7);
    m_state->updateRating(2, BrowseFixtures::item(*m_state, "IMG_3.jpg"));

    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    m_state->setStarFilter(2);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0).data().toString(), QStringLiteral("IMG_3.jpg"));
    QCOMPARE(model.index(0).data(ThumbnailListModel::RatingRole).toInt(), 2);
    m_state->setStarFilter(0);
    m_state->setFormatFilter(ImageItem::FormatCategory::png);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0).data(ThumbnailListModel::ItemRole).value<ImageItem>().filename(),
             QStringLiteral("shot.png"));
    // A write that changes nothing resets nothing.
    m_state->setFormatFilter(ImageItem::FormatCategory::png);
    QCOMPARE(resets.count(), 3);
}

void TestThumbnailGrid::ratingChangeRedrawsWithoutReloading()
{
    for (int i = 1; i <= 4; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    ThumbnailListModel &model = m_grid->model();
    // Newest requests are served first, so every row is waited for.
    const auto allReady = [&model] {
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.index(row)
                    .data(ThumbnailListModel::ThumbnailStateRole)
                    .value<ThumbnailListModel::ThumbnailState>() !=
                ThumbnailListModel::ThumbnailState::Ready)
                return false;
        }
        return true;
    };
    QTRY_VERIFY(allReady());
    const int decodes = m_state->imageLoader().decodeJobCount();
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    m_state->updateRating(5, m_state->filteredImages().at(1));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.first().at(2).value<QList<int>>(), QList<int>{ThumbnailListModel::RatingRole});
    QCOMPARE(model.index(1).data(ThumbnailListModel::RatingRole).toInt(), 5);
    viewport()->repaint();
    QCOMPARE(m_state->imageLoader().decodeJobCount(), decodes);
    QCOMPARE(model.index(1)
                 .data(ThumbnailListModel::ThumbnailStateRole)
                 .value<ThumbnailListModel::ThumbnailState>(),
             ThumbnailListModel::ThumbnailState::Ready);
}

void TestThumbnailGrid::clickOpensTheViewerOrToggles()
{
    for (int i = 1; i <= 6; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    click(pictureCentre(2));
    QVERIFY(m_state->isViewerActive());
    QCOMPARE(m_state->currentIndex(), 2);
    QCOMPARE(m_state->selectedImage()->id(), m_state->filteredImages().at(2).id());

    m_state->setViewerActive(false);
    m_state->toggleSelection(m_state->filteredImages().at(0).id());
    click(pictureCentre(4));
    QVERIFY(!m_state->isViewerActive());
    QCOMPARE(m_state->selectedImageIDs(), ids({0, 4}));
    click(pictureCentre(4));
    QCOMPARE(m_state->selectedImageIDs(), ids({0}));
    // The gap between tiles is no tile.
    click(QPoint(slot(1).left() + 1, pictureCentre(1).y()));
    QCOMPARE(m_state->selectedImageIDs(), ids({0}));
}

void TestThumbnailGrid::selectionBadgeTogglesWithNothingSelected()
{
    for (int i = 1; i <= 3; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    const QRect badge = ThumbnailCell::selectionBadgeRect(slot(1));
    QCOMPARE(badge.size(), QSize(20, 20));
    QCOMPARE(badge.topLeft() - ThumbnailCell::pictureRect(slot(1)).topLeft(), QPoint(6, 6));

    const auto tooltipAt = [this](const QPoint &pos) {
        QHelpEvent help(QEvent::ToolTip, pos, viewport()->mapToGlobal(pos));
        QApplication::sendEvent(viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(tooltipAt(badge.center()), QStringLiteral("选择"));
    click(badge.center());
    QVERIFY(!m_state->isViewerActive());
    QCOMPARE(m_state->selectedImageIDs(), ids({1}));
    QCOMPARE(tooltipAt(badge.center()), QStringLiteral("取消选择"));
    click(badge.center());
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    QVERIFY(!m_state->isViewerActive());
}

void TestThumbnailGrid::dragsShorterThanEightPointsAreClicks()
{
    for (int i = 1; i <= 6; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    const QPoint start = pictureCentre(0);
    press(start);
    move(start + QPoint(7, 0));
    QVERIFY(m_grid->listView().rubberBand().isNull());
    release(start + QPoint(7, 0));
    QVERIFY(m_state->isViewerActive());
    QCOMPARE(m_state->currentIndex(), 0);

    m_state->setViewerActive(false);
    m_state->setSelectedImage(std::nullopt);
    press(start);
    move(start + QPoint(8, 0));
    QCOMPARE(m_grid->listView().rubberBand().width(), 8);
    QCOMPARE(m_state->selectedImageIDs(), ids({0}));
    release(start + QPoint(8, 0));
    QVERIFY(!m_state->isViewerActive());
    QVERIFY(m_grid->listView().rubberBand().isNull());
    QCOMPARE(m_state->selectedImageIDs(), ids({0}));
}

void TestThumbnailGrid::rubberBandAddsToTheStartingSelection()
{
    for (int i = 1; i <= 12; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    const int columns = m_grid->listView().columnCount();
    QVERIFY(columns >= 4);
    const int c = columns + 1, d = columns + 2; // second line, columns 1 and 2
    m_state->setSelectedImageIDs(ids({0, 1}));

    // From the gap left of C, across C into D, then back into the gap between them.
    const QPoint start(slot(c).left() + 2, pictureCentre(c).y() - 30);
    press(start);
    move(pictureCentre(c));
    QCOMPARE(m_state->selectedImageIDs(), ids({0, 1, c}));
    move(pictureCentre(d));
    QCOMPARE(m_state->selectedImageIDs(), ids({0, 1, c, d}));
    const QPoint between(slot(d).left() + 2, pictureCentre(d).y());
    move(between);
    QCOMPARE(m_state->selectedImageIDs(), ids({0, 1, c}));
    // A band over an image selected before the drag never deselects it.
    move(QPoint(slot(d).left() + 2, pictureCentre(1).y()));
    QVERIFY(m_state->selectedImageIDs().contains(m_state->filteredImages().at(1).id()));
    move(between);
    release(between);
    QCOMPARE(m_state->selectedImageIDs(), ids({0, 1, c}));
    QVERIFY(!m_state->isViewerActive());
}

void TestThumbnailGrid::rubberBandCornerOverlapAndGap()
{
    for (int i = 1; i <= 8; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    ThumbnailListView &view = m_grid->listView();
    const QRect frame1 = ThumbnailCell::cellFrame(slot(1));
    const QRect frame2 = ThumbnailCell::cellFrame(slot(2));
    QVERIFY(frame2.left() - frame1.right() > 4);

    // A band wholly inside the gap between two columns selects nothing.
    const QPoint gapTop(frame1.right() + 2, frame1.top() + 5);
    press(gapTop);
    move(gapTop + QPoint(1, 60));
    QVERIFY(!view.rubberBand().isNull());
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    release(gapTop + QPoint(1, 60));

    // A band that only clips the bottom-right corner of tile 1 selects it.
    const QPoint corner = frame1.bottomRight();
    press(corner + QPoint(6, 3)); // in the gaps, 8 points away
    move(corner - QPoint(1, 1));
    QCOMPARE(m_state->selectedImageIDs(), ids({1}));
    release(corner - QPoint(1, 1));
}

void TestThumbnailGrid::filterBarOffersWhatTheImagesHave()
{
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    openGrid();
    StarFilterBar &bar = m_grid->filterBar();
    QCOMPARE(bar.starButtonLabels(), (QStringList{"全部", "无星"}));
    QVERIFY(bar.formatButtonLabels().isEmpty()); // one format: no format section

    m_state->updateRating(3, BrowseFixtures::item(*m_state, "IMG_1.jpg"));
    QCOMPARE(bar.starButtonLabels(), (QStringList{"全部", "无星", "3星"}));
    m_state->updateRating(5, BrowseFixtures::item(*m_state, "IMG_2.jpg"));
    QCOMPARE(bar.starButtonLabels(), (QStringList{"全部", "3星", "5星"}));

    writeImage(root(), "IMG_3.png");
    writeImage(root(), "IMG_4.tif");
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    QCOMPARE(bar.formatButtonLabels(), (QStringList{"全部", "JPG", "PNG", "TIFF"}));
    QVERIFY(bar.formatButton("全部")->isActive());
    QTest::mouseClick(bar.formatButton("PNG"), Qt::LeftButton);
    QCOMPARE(m_state->formatFilter(), std::optional(ImageItem::FormatCategory::png));
    QVERIFY(bar.formatButton("PNG")->isActive());
    QVERIFY(!bar.formatButton("全部")->isActive());
    QCOMPARE(bar.countsText(), QStringLiteral("1 / 4 张"));
}

void TestThumbnailGrid::filterButtonsSetStatusAndArchiveButton()
{
    for (int i = 1; i <= 5; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    m_state->updateRating(3, BrowseFixtures::item(*m_state, "IMG_2.jpg"));
    m_state->updateRating(3, BrowseFixtures::item(*m_state, "IMG_4.jpg"));
    m_state->updateRating(4, BrowseFixtures::item(*m_state, "IMG_5.jpg"));
    StarFilterBar &bar = m_grid->filterBar();
    QVERIFY(!bar.archiveButton()->isVisible());

    QTest::mouseClick(bar.starButton("3星"), Qt::LeftButton);
    QCOMPARE(m_state->starFilter(), 3);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("3星: 2 张"));
    QCOMPARE(bar.countsText(), QStringLiteral("2 / 5 张"));
    QVERIFY(bar.archiveButton()->isVisible());
    QVERIFY(bar.starButton("3星")->isActive());

    QTest::mouseClick(bar.starButton("无星"), Qt::LeftButton);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("无星: 2 张"));
    QVERIFY(!bar.archiveButton()->isVisible());

    QTest::mouseClick(bar.starButton("全部"), Qt::LeftButton);
    QCOMPARE(m_state->starFilter(), 0);
    QCOMPARE(m_state->statusMessage(), QStringLiteral("共 5 张图片"));
    QVERIFY(!bar.archiveButton()->isVisible());
}

void TestThumbnailGrid::countsForAnEmptyFolder()
{
    openGrid();
    QCOMPARE(m_grid->filterBar().countsText(), QStringLiteral("0 / 0 张"));
    QCOMPARE(m_grid->filterBar().starButtonLabels(), QStringList{"全部"});
    QCOMPARE(m_grid->model().rowCount(), 0);
}

void TestThumbnailGrid::selectionBarFollowsTheSelection()
{
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    writeImage(root(), "IMG_3.png");
    openGrid();
    SelectionActionBar &bar = m_grid->selectionBar();
    QVERIFY(!bar.isVisible());
    click(ThumbnailCell::selectionBadgeRect(slot(0)).center());
    QVERIFY(bar.isVisible());
    QCOMPARE(bar.countText(), QStringLiteral("已选 1 张"));

    m_state->setFormatFilter(ImageItem::FormatCategory::jpeg);
    QTest::mouseClick(bar.selectAllButton(), Qt::LeftButton);
    QCOMPARE(bar.countText(), QStringLiteral("已选 2 张"));
    QCOMPARE(filenames(m_state->selectedImages()), (QStringList{"IMG_1.jpg", "IMG_2.jpg"}));

    QSignalSpy exports(m_grid.get(), &ThumbnailGridView::batchExportRequested);
    QTest::mouseClick(bar.exportButton(), Qt::LeftButton);
    QCOMPARE(exports.count(), 1);
    QCOMPARE(filenames(exports.first().first().value<QList<ImageItem>>()),
             (QStringList{"IMG_1.jpg", "IMG_2.jpg"}));

    QTest::mouseClick(bar.clearButton(), Qt::LeftButton);
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    QVERIFY(!bar.isVisible());
}

void TestThumbnailGrid::thumbnailsOnlyForCellsOnScreen()
{
    for (int i = 1; i <= 240; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i), QColor::fromHsv(i % 360, 200, 200));
    openGrid(800, 500);
    ThumbnailListModel &model = m_grid->model();
    ThumbnailListView &view = m_grid->listView();
    const int onScreen = [&] {
        int count = 0;
        for (int row = 0; row < model.rowCount(); ++row)
            count += view.visualRect(model.index(row)).intersects(viewport()->rect()) ? 1 : 0;
        return count;
    }();
    QVERIFY(onScreen > 0 && onScreen < 40);
    QTRY_VERIFY(!model.hasPendingThumbnails());
    QCOMPARE(m_state->imageLoader().decodeJobCount(), onScreen);
    for (int row = 0; row < onScreen; ++row)
        QVERIFY(!model.index(row).data(ThumbnailListModel::ThumbnailRole).value<QImage>().isNull());
    QVERIFY(!m_state->imageLoader().cachedThumbnail(m_state->filteredImages().last().path()));

    // Jumping to the end asks for the cells shown there, not for those passed over.
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    QTRY_VERIFY(m_state->imageLoader().cachedThumbnail(m_state->filteredImages().last().path()));
    QVERIFY(m_state->imageLoader().decodeJobCount() <= 2 * onScreen + view.columnCount());
}

void TestThumbnailGrid::undecodableFileShowsThePlaceholder()
{
    writeImage(root(), "IMG_1.jpg");
    QFile broken(root() + "/IMG_2.jpg");
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("this is not a JPEG");
    broken.close();
    openGrid();
    const QModelIndex index = m_grid->model().index(1);
    QTRY_COMPARE(index.data(ThumbnailListModel::ThumbnailStateRole)
                     .value<ThumbnailListModel::ThumbnailState>(),
                 ThumbnailListModel::ThumbnailState::Failed);
    const int decodes = m_state->imageLoader().decodeJobCount();
    viewport()->repaint();
    QCOMPARE(m_state->imageLoader().decodeJobCount(), decodes); // no retry while shown
    // A rescan makes new cells, which try again.
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    viewport()->repaint();
    QTRY_VERIFY(m_state->imageLoader().decodeJobCount() > decodes);
}

void TestThumbnailGrid::storedThumbnailGivesWayToTheSharpOne()
{
    // A red photo whose stored 160-pixel EXIF thumbnail is green.
    QImage main(2000, 1500, QImage::Format_RGB32);
    main.fill(Qt::red);
    const QString path = ImagingFixtures::writeJpeg(root() + "/IMG_1.jpg", main);
    QImage small(160, 120, QImage::Format_RGB32);
    small.fill(Qt::green);
    const QByteArray stored = ImagingFixtures::jpegBytes(small);
    ImagingFixtures::editExif(path, [&](Exiv2::ExifData &exif) {
        Exiv2::ExifThumb(exif).setJpegThumbnail(
            reinterpret_cast<const Exiv2::byte *>(stored.constData()), long(stored.size()));
    });
    QList<ThumbnailListModel::ThumbnailState> states;
    connect(&m_state->imageLoader(), &ImageLoader::thumbnailReady, this,
            [&] { states << m_grid->model().thumbnailState(m_state->filteredImages().at(0)); });
    openGrid();
    const auto centreColour = [&] {
        return viewport()->grab().toImage().pixelColor(pictureCentre(0));
    };
    QTRY_VERIFY(ImagingFixtures::colourNear(centreColour(), Qt::red, 40));
    QCOMPARE(m_grid->model().thumbnail(m_state->filteredImages().at(0)).size(), QSize(320, 240));
    // The stored one, then the sharp one, and never the spinner in between.
    QCOMPARE(states, (QList<ThumbnailListModel::ThumbnailState>{
                         ThumbnailListModel::ThumbnailState::Ready,
                         ThumbnailListModel::ThumbnailState::Ready}));
    QVERIFY(!m_grid->model().hasPendingThumbnails());
}

void TestThumbnailGrid::hiDpiCellsAskForSharperThumbnails()
{
    const QString path = ImagingFixtures::writeJpeg(root() + "/IMG_1.jpg",
                                                    ImagingFixtures::quadrantPicture(1800, 1200));
    openGrid();
    ImageLoader &loader = m_state->imageLoader();
    QTRY_COMPARE(loader.cachedThumbnail(path).value_or(QImage()).size(), QSize(320, 213));
    // The same cell painted at device pixel ratio 2: its 280-pixel square,
    // aspect-filled by a 3:2 picture, needs a longer side of 420.
    QStyleOptionViewItem option;
    option.initFrom(&m_grid->listView());
    option.rect = QRect(QPoint(0, 0), ThumbnailCell::slotSize(ThumbnailCell::pictureSide));
    QImage canvas(option.rect.size() * 2, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2);
    {
        QPainter painter(&canvas);
        m_grid->listView().cell().paint(&painter, option, m_grid->model().index(0));
    }
    QTRY_COMPARE(loader.cachedThumbnail(path).value_or(QImage()).width(), 420);
    QVERIFY(qAbs(loader.cachedThumbnail(path)->height() - 280) <= 1);
    QVERIFY(ImagingFixtures::hasUprightQuadrants(*loader.cachedThumbnail(path)));
    QTRY_VERIFY(!m_grid->model().hasPendingThumbnails());
}

void TestThumbnailGrid::loadingTileHasNoFillAndBadgeHasTwoPointsAboveAndBelow()
{
    writeImage(root(), "IMG_1.jpg");
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    // Not shown, so nothing has asked for the thumbnail yet: the tile is loading.
    ThumbnailGridView grid(*m_state);
    const QModelIndex index = grid.model().index(0);
    QCOMPARE(index.data(ThumbnailListModel::ThumbnailStateRole)
                 .value<ThumbnailListModel::ThumbnailState>(),
             ThumbnailListModel::ThumbnailState::Loading);
    QStyleOptionViewItem option;
    option.initFrom(&grid.listView());
    option.rect = QRect(QPoint(0, 0), ThumbnailCell::slotSize(ThumbnailCell::pictureSide));
    const QColor background(Qt::white);
    QImage canvas(option.rect.size(), QImage::Format_RGB32);
    canvas.fill(background);
    {
        QPainter painter(&canvas);
        grid.listView().cell().paint(&painter, option, index);
    }
    const QRect picture = ThumbnailCell::pictureRect(option.rect);
    // Beside the spinner, below the selection badge: the background itself.
    for (const QPoint &probe :
         {picture.topLeft() + QPoint(30, 70), picture.center() + QPoint(0, 30),
          picture.bottomLeft() + QPoint(10, -10)})
        QCOMPARE(canvas.pixelColor(probe), background);

    const QColor badge = BrowseStyle::formatBadgeColor(ImageItem::FormatCategory::jpeg);
    QRect box;
    for (int y = picture.top(); y <= picture.bottom(); ++y) {
        for (int x = picture.center().x(); x <= picture.right(); ++x) {
            const QColor pixel = canvas.pixelColor(x, y);
            if (std::abs(pixel.red() - badge.red()) + std::abs(pixel.green() - badge.green()) +
                    std::abs(pixel.blue() - badge.blue()) <
                12)
                box |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY(!box.isEmpty());
    const QFontMetrics badgeFont(BrowseStyle::sized(QFont(), 9, QFont::Bold));
    QCOMPARE(box.height(), badgeFont.height() + 4);
    QCOMPARE(picture.bottom() - box.bottom(), 4);
    QCoreApplication::processEvents(); // let the request painting made settle
}

void TestThumbnailGrid::reopenedFolderPaintsTheEditedPicture()
{
    writeImage(root(), "IMG_1.jpg", Qt::red);
    openGrid();
    const QPoint probe = pictureCentre(0) + QPoint(0, 30);
    const auto paintedNear = [&](QColor colour) {
        const QColor pixel = viewport()->grab().toImage().pixelColor(probe);
        return std::abs(pixel.red() - colour.red()) < 40 &&
               std::abs(pixel.blue() - colour.blue()) < 40 &&
               std::abs(pixel.green() - colour.green()) < 40;
    };
    QTRY_VERIFY(paintedNear(Qt::red));
    // Edited outside the app, then the folder is opened again.
    writeImage(root(), "IMG_1.jpg", Qt::blue);
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    QTRY_VERIFY(paintedNear(Qt::blue));
}

void TestThumbnailGrid::contextMenuRevealsAndCopies()
{
    writeImage(root(), "IMG_1.jpg");
    openGrid();
    QStringList revealed;
    m_grid->setFileRevealer(std::make_unique<RecordingRevealer>(&revealed));
    const QModelIndex index = m_grid->model().index(0);
    std::unique_ptr<QMenu> menu(m_grid->listView().createContextMenu(index, nullptr));
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0]->text(), QStringLiteral("在访达中显示"));
    QCOMPARE(actions[1]->text(), QStringLiteral("复制图片"));

    actions[0]->trigger();
    QCOMPARE(revealed, QStringList{root() + "/IMG_1.jpg"});

    QTRY_VERIFY(!index.data(ThumbnailListModel::ThumbnailRole).value<QImage>().isNull());
    const QImage thumbnail = index.data(ThumbnailListModel::ThumbnailRole).value<QImage>();
    QApplication::clipboard()->clear();
    actions[1]->trigger();
    const QImage copied = QApplication::clipboard()->image();
    QCOMPARE(copied.size(), thumbnail.size());
    QCOMPARE(copied.pixelColor(10, 10).name(), thumbnail.pixelColor(10, 10).name());
}

void TestThumbnailGrid::returnsToTheLastViewedImage()
{
    for (int i = 1; i <= 200; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid(800, 500);
    m_state->selectImage(150);
    m_grid->hide();
    m_state->setViewerActive(false);
    m_grid->show();
    QTRY_VERIFY(viewport()->rect().contains(slot(150).center()));
    QVERIFY(std::abs(slot(150).center().y() - viewport()->rect().center().y()) <=
            slot(150).height() / 2);

    // A window restored from the dock shows the grid again where the user left it.
    QScrollBar *bar = m_grid->listView().verticalScrollBar();
    bar->setValue(0);
    m_grid->hide();
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 0);
}

void TestThumbnailGrid::archiveSelectedImagesThroughTheSheet()
{
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    writeImage(root(), "a/IMG_3.jpg");
    writeImage(root(), "b/IMG_3.jpg");
    writeImage(root(), "IMG_5.jpg");
    openGrid();
    for (int row : {0, 1, 2, 3})
        m_state->updateRating(4, m_state->filteredImages().at(row));
    m_state->setSelectedImageIDs(ids({0, 1, 2, 3}));
    m_state->setStarFilter(4);

    QTest::mouseClick(m_grid->selectionBar().archiveButton(), Qt::LeftButton);
    ArchiveConfirmView *sheet = waitForSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->sentence(), QStringLiteral("将 4 张选中的图片移动到："));
    QCOMPARE(sheet->targetPath(), root() + "/批量归档");
    QCOMPARE(sheet->shownPath(), root() + "/批量归档");
    QCOMPARE(sheet->width(), 420);

    QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
    QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
    QVERIFY(!m_grid->archiveItem());
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_state->toastMessage().value_or(QString()),
             QStringLiteral("已归档 4 张图片到「批量归档」"));
    QCOMPARE(filesBelow(root()),
             (QStringList{"IMG_5.jpg", "批量归档/IMG_1.jpg", "批量归档/IMG_2.jpg",
                          "批量归档/IMG_3.jpg", "批量归档/IMG_3_1.jpg"}));
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    QCOMPARE(m_state->starFilter(), 0);
    QCOMPARE(m_grid->model().rowCount(), 5);
    // The archived images keep their ratings.
    QCOMPARE(m_state->availableStarRatings(), (QList<int>{0, 4}));
    QVERIFY(!m_grid->selectionBar().isVisible());
}

void TestThumbnailGrid::gridIsBusyWhileAnArchiveRuns()
{
    for (int i = 1; i <= 3; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    openGrid();
    m_state->setSelectedImageIDs(ids({0, 1}));
    QTest::mouseClick(m_grid->selectionBar().archiveButton(), Qt::LeftButton);
    ArchiveConfirmView *sheet = waitForSheet();
    QVERIFY(sheet);
    QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
    QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);

    // The files are on the move: the grid says so and takes no orders.
    QVERIFY(m_state->isArchiving());
    QVERIFY(m_grid->busyVeil().isVisible());
    QVERIFY(m_grid->busyVeil().geometry().contains(m_grid->listView().geometry().center()));
    QVERIFY(!m_grid->selectionBar().archiveButton()->isEnabled());
    QVERIFY(!m_grid->selectionBar().exportButton()->isEnabled());
    // A click on a tile lands on the veil, not on the grid (checked without
    // running the event loop, which could let the archive finish first).
    const QPoint onTile = viewport()->mapTo(m_grid.get(), pictureCentre(0));
    QWidget *hit = m_grid->childAt(onTile);
    QVERIFY(hit == &m_grid->busyVeil() || m_grid->busyVeil().isAncestorOf(hit));
    ArchiveItem again;
    again.targetPath = root() + "/又一个";
    again.images = m_state->selectedImages();
    m_grid->presentArchive(again);
    QVERIFY(!m_grid->archiveItem());

    QVERIFY(finished.wait(10000));
    QVERIFY(!m_grid->busyVeil().isVisible());
    QVERIFY(m_grid->filterBar().isEnabled());
    QCOMPARE(filesBelow(root()),
             (QStringList{"IMG_3.jpg", "批量归档/IMG_1.jpg", "批量归档/IMG_2.jpg"}));
}

void TestThumbnailGrid::archiveByRatingWhileBrowsingASubFolder()
{
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "trip/IMG_7.jpg");
    writeImage(root(), "trip/IMG_8.jpg");
    openGrid();
    const FolderNode trip = m_state->currentFolder()->children.first();
    QFuture<void> refreshed = m_state->refreshFolder(trip);
    QTRY_VERIFY(refreshed.isFinished());
    QCOMPARE(m_state->images().size(), 2);
    m_state->updateRating(2, BrowseFixtures::item(*m_state, "IMG_8.jpg"));
    QTest::mouseClick(m_grid->filterBar().starButton("2星"), Qt::LeftButton);
    QTest::mouseClick(m_grid->filterBar().archiveButton(), Qt::LeftButton);
    ArchiveConfirmView *sheet = waitForSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->targetPath(), root() + "/归档-2星");
    QCOMPARE(sheet->sentence(), QStringLiteral("将 1 张2星图片移动到："));

    QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
    QTest::keyClick(sheet, Qt::Key_Return);
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_state->toastMessage().value_or(QString()),
             QStringLiteral("已归档 1 张图片到「归档-2星」"));
    QCOMPARE(filesBelow(root()),
             (QStringList{"IMG_1.jpg", "trip/IMG_7.jpg", "归档-2星/IMG_8.jpg"}));
    // The whole open tree again.
    QCOMPARE(m_state->images().size(), 3);
    QCOMPARE(m_state->selectedFolderURL(), std::optional(QUrl::fromLocalFile(root())));
}

void TestThumbnailGrid::archivePlanWithNoImages()
{
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.png");
    openGrid();
    m_state->updateRating(3, BrowseFixtures::item(*m_state, "IMG_1.jpg"));
    m_state->setFormatFilter(ImageItem::FormatCategory::png);
    QTest::mouseClick(m_grid->filterBar().starButton("3星"), Qt::LeftButton);
    QCOMPARE(m_state->filteredImages().size(), 0);
    QTest::mouseClick(m_grid->filterBar().archiveButton(), Qt::LeftButton);
    ArchiveConfirmView *sheet = waitForSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->sentence(), QStringLiteral("将 0 张3星图片移动到："));
    QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
    QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_state->toastMessage().value_or(QString()),
             QStringLiteral("已归档 0 张图片到「归档-3星」"));
    QVERIFY(QFileInfo(root() + "/归档-3星").isDir());
    QCOMPARE(filesBelow(root()), (QStringList{"IMG_1.jpg", "IMG_2.png"}));
}

void TestThumbnailGrid::changeChoosesAnotherFolder()
{
    writeImage(root(), "IMG_1.jpg");
    writeImage(root(), "IMG_2.jpg");
    openGrid();
    const QString elsewhere = m_dir.path() + "/elsewhere";
    QDir().mkpath(elsewhere);
    QString askedFrom;
    m_grid->setArchiveFolderChooser([&](QWidget *, const QString &start) {
        askedFrom = start;
        return elsewhere;
    });
    m_state->setSelectedImageIDs(ids({1}));
    QTest::mouseClick(m_grid->selectionBar().archiveButton(), Qt::LeftButton);
    ArchiveConfirmView *sheet = waitForSheet();
    QVERIFY(sheet);
    QTest::mouseClick(sheet->changeButton(), Qt::LeftButton);
    QCOMPARE(askedFrom, root());
    QCOMPARE(sheet->targetPath(), elsewhere);
    QCOMPARE(sheet->shownPath(), elsewhere);

    QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
    QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    QCOMPARE(m_state->toastMessage().value_or(QString()),
             QStringLiteral("已归档 1 张图片到「elsewhere」"));
    QCOMPARE(filesBelow(elsewhere), QStringList{"IMG_2.jpg"});
    QCOMPARE(filesBelow(root()), QStringList{"IMG_1.jpg"});
}

void TestThumbnailGrid::escapeCancelsTheSheet()
{
    writeImage(root(), "IMG_1.jpg");
    openGrid();
    m_state->setSelectedImageIDs(ids({0}));
    QTest::mouseClick(m_grid->selectionBar().archiveButton(), Qt::LeftButton);
    ArchiveConfirmView *sheet = waitForSheet();
    QVERIFY(sheet);
    // A chooser that is cancelled changes nothing.
    m_grid->archiveSheet()->setFolderChooser([](QWidget *, const QString &) { return QString(); });
    QTest::mouseClick(sheet->changeButton(), Qt::LeftButton);
    QCOMPARE(sheet->targetPath(), root() + "/批量归档");
    QVERIFY(m_grid->archiveItem());
    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(!m_grid->archiveSheet());
    QVERIFY(!m_grid->archiveItem());
    QCOMPARE(filesBelow(root()), QStringList{"IMG_1.jpg"});
    QVERIFY(!QFileInfo::exists(root() + "/批量归档"));
    QCOMPARE(m_state->selectedImageIDs().size(), 1);
}

QTEST_MAIN(TestThumbnailGrid)
#include "tst_thumbnailgrid.moc"
