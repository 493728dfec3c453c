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
#include "common/FileRevealer.h"
#include "imaging/ImageLoader.h"

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
using State = ThumbnailListModel::ThumbnailState;

namespace {

// Hands the paths over to the test instead of a file manager.
struct RecordingRevealer : FileRevealer
{
    QStringList *revealed;
    explicit RecordingRevealer(QStringList *list)
        : revealed(list)
    {}
    void reveal(const QString &path) override { *revealed << path; }
};

State stateOf(const QModelIndex &index)
{
    return index.data(ThumbnailListModel::ThumbnailStateRole).value<State>();
}

} // namespace

// The browsing screen on real folders, offscreen: clicks, the rubber band,
// the bars, the cells' thumbnails and the archive flow through its sheet.
// The rules behind them (filters, selection, archiving) are the state's.
class TestThumbnailGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_tester.reset(), m_grid.reset(), m_state.reset(); }

    void modelFollowsFilteredImagesAndRatingsRedrawWithoutReloading();
    void clickOpensTheViewerOrToggles();
    void rubberBandAddsToTheStartingSelection();
    void filterBarOffersWhatTheImagesHaveAndSetsTheFilters();
    void selectionBarFollowsTheSelection();
    void thumbnailsOnlyForCellsOnScreenAndTheLastViewedImageComesBack();
    void rescanRepaintsEditedPicturesAndRetriesFailedOnes();
    void storedThumbnailGivesWayToTheSharpOne();
    void hiDpiCellsAskForSharperThumbnails();
    void loadingTileHasNoFill();
    void contextMenuRevealsAndCopies();

    void archiveThroughTheSheet_data();
    void archiveThroughTheSheet();

private:
    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    void openGrid(int width = 800, int height = 600);
    void openGridWith(int images, int width = 800, int height = 600);
    QWidget *viewport() const { return m_grid->listView().viewport(); }
    QRect slot(int row) const { return m_grid->listView().visualRect(m_grid->model().index(row)); }
    QPoint pictureCentre(int row) const { return ThumbnailCell::pictureRect(slot(row)).center(); }
    void mouse(QEvent::Type type, const QPoint &pos);
    void press(const QPoint &pos) { mouse(QEvent::MouseButtonPress, pos); }
    void move(const QPoint &pos) { mouse(QEvent::MouseMove, pos); }
    void release(const QPoint &pos) { mouse(QEvent::MouseButtonRelease, pos); }
    void click(const QPoint &pos) { press(pos), release(pos); }
    QSet<QUuid> ids(std::initializer_list<int> rows) const;
    QStringList filesBelow(const QString &folder) const;
    QImage paintCell(const QModelIndex &index, qreal devicePixelRatio = 1) const;

    WorkQueues m_queues;
    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<ThumbnailGridView> m_grid;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestThumbnailGrid::init()
{
    m_dir = QTemporaryDir();
    QVERIFY(m_dir.isValid());
    QDir().mkpath(root());
    m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
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

void TestThumbnailGrid::openGridWith(int images, int width, int height)
{
    for (int i = 1; i <= images; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i), QColor::fromHsv(i % 360, 200, 200));
    openGrid(width, height);
}

void TestThumbnailGrid::mouse(QEvent::Type type, const QPoint &pos)
{
    QMouseEvent event(type, pos, viewport()->mapToGlobal(pos),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
    QApplication::sendEvent(viewport(), &event);
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

// One cell painted alone on white, as the view would at `devicePixelRatio`.
QImage TestThumbnailGrid::paintCell(const QModelIndex &index, qreal devicePixelRatio) const
{
    QStyleOptionViewItem option;
    option.initFrom(&m_grid->listView());
    option.rect = QRect(QPoint(0, 0), ThumbnailCell::slotSize(ThumbnailCell::pictureSide));
    QImage canvas(option.rect.size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(devicePixelRatio);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    m_grid->listView().cell().paint(&painter, option, index);
    return canvas;
}

void TestThumbnailGrid::modelFollowsFilteredImagesAndRatingsRedrawWithoutReloading()
{
    writeImage(root(), "shot.png");
    openGridWith(3);
    ThumbnailListModel &model = m_grid->model();
    QCOMPARE(model.rowCount(), 4);
    QTRY_VERIFY(std::ranges::all_of(
        QList{0, 1, 2, 3}, [&](int row) { return stateOf(model.index(row)) == State::Ready; }));
    const int decodes = m_state->imageLoader().decodeJobCount();
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    const ImageItem rated = m_state->filteredImages().at(1);
    m_state->updateRating(2, rated);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.first().at(2).value<QList<int>>(), QList<int>{ThumbnailListModel::RatingRole});
    QCOMPARE(model.index(1).data(ThumbnailListModel::RatingRole).toInt(), 2);
    viewport()->repaint();
    QCOMPARE(m_state->imageLoader().decodeJobCount(), decodes);
    QCOMPARE(stateOf(model.index(1)), State::Ready);

    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    m_state->setStarFilter(2);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0).data().toString(), rated.filename());
    m_state->setStarFilter(0);
    m_state->setFormatFilter(ImageItem::FormatCategory::png);
    QCOMPARE(model.index(0).data(ThumbnailListModel::ItemRole).value<ImageItem>().filename(),
             QStringLiteral("shot.png"));
    m_state->setFormatFilter(ImageItem::FormatCategory::png); // unchanged: no reset
    QCOMPARE(resets.count(), 3);
}

void TestThumbnailGrid::clickOpensTheViewerOrToggles()
{
    openGridWith(6);
    // The badge toggles even with nothing selected; a tooltip says which way.
    const QPoint badge = ThumbnailCell::selectionBadgeRect(slot(1)).center();
    QVERIFY(ThumbnailCell::pictureRect(slot(1)).contains(badge));
    const auto tooltipAt = [this](const QPoint &pos) {
        QHelpEvent help(QEvent::ToolTip, pos, viewport()->mapToGlobal(pos));
        QApplication::sendEvent(viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(tooltipAt(badge), QStringLiteral("选择"));
    click(badge);
    QCOMPARE(m_state->selectedImageIDs(), ids({1}));
    QCOMPARE(tooltipAt(badge), QStringLiteral("取消选择"));
    click(badge);
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    QVERIFY(!m_state->isViewerActive());
    // A drag shorter than eight points is a click.
    press(pictureCentre(2));
    move(pictureCentre(2) + QPoint(7, 0));
    QVERIFY(m_grid->listView().rubberBand().isNull());
    release(pictureCentre(2) + QPoint(7, 0));
    QVERIFY(m_state->isViewerActive());
    QCOMPARE(m_state->currentIndex(), 2);
    QCOMPARE(m_state->selectedImage()->id(), m_state->filteredImages().at(2).id());

    // With a selection, a click on the picture toggles it.
    m_state->setViewerActive(false);
    m_state->toggleSelection(m_state->filteredImages().at(0).id());
    click(pictureCentre(4));
    QVERIFY(!m_state->isViewerActive());
    QCOMPARE(m_state->selectedImageIDs(), ids({0, 4}));
    click(pictureCentre(4));
    QCOMPARE(m_state->selectedImageIDs(), ids({0}));
    click(QPoint(slot(1).left() + 1, pictureCentre(1).y())); // the gap between tiles
    QCOMPARE(m_state->selectedImageIDs(), ids({0}));
}

void TestThumbnailGrid::rubberBandAddsToTheStartingSelection()
{
    openGridWith(12);
    const int columns = m_grid->listView().columnCount();
    QVERIFY(columns >= 4);
    const QRect frame1 = ThumbnailCell::cellFrame(slot(1));
    QVERIFY(ThumbnailCell::cellFrame(slot(2)).left() - frame1.right() > 4);
    // A band of eight points wholly inside the gap between columns selects nothing.
    const QPoint gapTop(frame1.right() + 2, frame1.top() + 5);
    press(gapTop);
    move(gapTop + QPoint(0, 8));
    QCOMPARE(m_grid->listView().rubberBand().height(), 8);
    move(gapTop + QPoint(1, 60));
    QVERIFY(m_state->selectedImageIDs().isEmpty());
    release(gapTop + QPoint(1, 60));
    QVERIFY(m_grid->listView().rubberBand().isNull());
    QVERIFY(!m_state->isViewerActive());
    // One that only clips the bottom-right corner of a tile selects it.
    const QPoint corner = frame1.bottomRight();
    press(corner + QPoint(6, 3));
    move(corner - QPoint(1, 1));
    QCOMPARE(m_state->selectedImageIDs(), ids({1}));
    release(corner - QPoint(1, 1));

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

void TestThumbnailGrid::filterBarOffersWhatTheImagesHaveAndSetsTheFilters()
{
    openGrid();
    StarFilterBar &bar = m_grid->filterBar();
    QCOMPARE(bar.countsText(), QStringLiteral("0 / 0 张"));
    QCOMPARE(bar.starButtonLabels(), QStringList{"全部"});
    for (int i = 1; i <= 4; ++i)
        writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i));
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    QVERIFY(bar.formatButtonLabels().isEmpty()); // one format: no format section
    for (const char *name : {"IMG_2.jpg", "IMG_4.jpg"})
        m_state->updateRating(3, BrowseFixtures::item(*m_state, name));
    QCOMPARE(bar.starButtonLabels(), (QStringList{"全部", "无星", "3星"}));
    QVERIFY(!bar.archiveButton()->isVisible());
    const auto clickStar = [&](const QString &label, const QString &status) {
        QTest::mouseClick(bar.starButton(label), Qt::LeftButton);
        QCOMPARE(m_state->statusMessage(), status);
    };
    clickStar("3星", "3星: 2 张");
    QCOMPARE(m_state->starFilter(), 3);
    QCOMPARE(bar.countsText(), QStringLiteral("2 / 4 张"));
    QVERIFY(bar.archiveButton()->isVisible());
    QVERIFY(bar.starButton("3星")->isActive());
    clickStar("无星", "无星: 2 张");
    QVERIFY(!bar.archiveButton()->isVisible());
    clickStar("全部", "共 4 张图片");
    QCOMPARE(m_state->starFilter(), 0);

    writeImage(root(), "IMG_5.png");
    writeImage(root(), "IMG_6.tif");
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    QCOMPARE(bar.formatButtonLabels(), (QStringList{"全部", "JPG", "PNG", "TIFF"}));
    QVERIFY(bar.formatButton("全部")->isActive());
    QTest::mouseClick(bar.formatButton("PNG"), Qt::LeftButton);
    QCOMPARE(m_state->formatFilter(), std::optional(ImageItem::FormatCategory::png));
    QVERIFY(bar.formatButton("PNG")->isActive() && !bar.formatButton("全部")->isActive());
    QCOMPARE(bar.countsText(), QStringLiteral("1 / 6 张"));
}

void TestThumbnailGrid::selectionBarFollowsTheSelection()
{
    writeImage(root(), "IMG_3.png");
    openGridWith(2);
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

void TestThumbnailGrid::thumbnailsOnlyForCellsOnScreenAndTheLastViewedImageComesBack()
{
    openGridWith(240, 800, 500);
    ThumbnailListModel &model = m_grid->model();
    ThumbnailListView &view = m_grid->listView();
    ImageLoader &loader = m_state->imageLoader();
    int onScreen = 0;
    for (int row = 0; row < model.rowCount(); ++row)
        onScreen += view.visualRect(model.index(row)).intersects(viewport()->rect()) ? 1 : 0;
    QVERIFY(onScreen > 0 && onScreen < 40);
    QTRY_VERIFY(!model.hasPendingThumbnails());
    QCOMPARE(loader.decodeJobCount(), onScreen);
    for (int row = 0; row < onScreen; ++row)
        QVERIFY(!model.index(row).data(ThumbnailListModel::ThumbnailRole).value<QImage>().isNull());
    const QString last = m_state->filteredImages().last().path();
    QVERIFY(!loader.cachedThumbnail(last));
    // Jumping to the end asks for the cells shown there, not for those passed over.
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    QTRY_VERIFY(loader.cachedThumbnail(last));
    QVERIFY(loader.decodeJobCount() <= 2 * onScreen + view.columnCount());

    m_state->selectImage(150);
    m_grid->hide();
    m_state->setViewerActive(false);
    m_grid->show();
    QTRY_VERIFY(viewport()->rect().contains(slot(150).center()));
    QVERIFY(std::abs(slot(150).center().y() - viewport()->rect().center().y()) <=
            slot(150).height() / 2);
    // A window restored from the dock shows the grid again where the user left it.
    view.verticalScrollBar()->setValue(0);
    m_grid->hide();
    m_grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    QCoreApplication::processEvents();
    QCOMPARE(view.verticalScrollBar()->value(), 0);
}

// A rescan makes new cells: an edited picture is painted anew and a file
// that failed is tried again, while a shown one is never retried.
void TestThumbnailGrid::rescanRepaintsEditedPicturesAndRetriesFailedOnes()
{
    writeImage(root(), "IMG_1.jpg", Qt::red);
    QFile broken(root() + "/IMG_2.jpg");
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("this is not a JPEG") > 0);
    broken.close();
    openGrid();
    const auto paintedNear = [&](QColor colour) {
        const QColor painted =
            viewport()->grab().toImage().pixelColor(pictureCentre(0) + QPoint(0, 30));
        return ImagingFixtures::colourNear(painted, colour, 40);
    };
    QTRY_VERIFY(paintedNear(Qt::red));
    QTRY_COMPARE(stateOf(m_grid->model().index(1)), State::Failed);
    const int decodes = m_state->imageLoader().decodeJobCount();
    viewport()->repaint();
    QCOMPARE(m_state->imageLoader().decodeJobCount(), decodes);
    writeImage(root(), "IMG_1.jpg", Qt::blue);
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    QTRY_VERIFY(paintedNear(Qt::blue));
    QTRY_VERIFY(m_state->imageLoader().decodeJobCount() > decodes + 1);
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
    QList<State> states;
    connect(&m_state->imageLoader(), &ImageLoader::thumbnailReady, this,
            [&] { states << m_grid->model().thumbnailState(m_state->filteredImages().at(0)); });
    openGrid();
    QTRY_VERIFY(ImagingFixtures::colourNear(
        viewport()->grab().toImage().pixelColor(pictureCentre(0)), Qt::red, 40));
    QCOMPARE(m_grid->model().thumbnail(m_state->filteredImages().at(0)).size(), QSize(320, 240));
    // The stored one, then the sharp one, and never the spinner in between.
    QCOMPARE(states, (QList<State>{State::Ready, State::Ready}));
    QVERIFY(!m_grid->model().hasPendingThumbnails());
}

void TestThumbnailGrid::hiDpiCellsAskForSharperThumbnails()
{
    const QString path = ImagingFixtures::writeJpeg(root() + "/IMG_1.jpg",
                                                    ImagingFixtures::quadrantPicture(1800, 1200));
    openGrid();
    ImageLoader &loader = m_state->imageLoader();
    QTRY_COMPARE(loader.cachedThumbnail(path).value_or(QImage()).size(), QSize(320, 213));
    // At device pixel ratio 2 the 280-pixel square, aspect-filled by a 3:2
    // picture, needs a longer side of 420.
    paintCell(m_grid->model().index(0), 2);
    QTRY_COMPARE(loader.cachedThumbnail(path).value_or(QImage()).width(), 420);
    QVERIFY(qAbs(loader.cachedThumbnail(path)->height() - 280) <= 1);
    QVERIFY(ImagingFixtures::hasUprightQuadrants(*loader.cachedThumbnail(path)));
    QTRY_VERIFY(!m_grid->model().hasPendingThumbnails());
}

void TestThumbnailGrid::loadingTileHasNoFill()
{
    writeImage(root(), "IMG_1.jpg");
    QVERIFY(BrowseFixtures::open(*m_state, root()));
    m_grid = std::make_unique<ThumbnailGridView>(*m_state); // not shown: nothing asked yet
    const QModelIndex index = m_grid->model().index(0);
    QCOMPARE(stateOf(index), State::Loading);
    const QImage canvas = paintCell(index);
    const QRect picture = ThumbnailCell::pictureRect(canvas.rect());
    // Beside the spinner, below the selection badge: the background itself.
    for (const QPoint &probe :
         {picture.topLeft() + QPoint(30, 70), picture.center() + QPoint(0, 30),
          picture.bottomLeft() + QPoint(10, -10)})
        QCOMPARE(canvas.pixelColor(probe), QColor(Qt::white));
    QCoreApplication::processEvents(); // let the request painting made settle
}

void TestThumbnailGrid::contextMenuRevealsAndCopies()
{
    openGridWith(1);
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

// The moving itself (names, ratings, toasts, rescans) is ArchiveMover's; here
// the plans the grid makes, its sheet, its busy state and the whole tree shown again.
void TestThumbnailGrid::archiveThroughTheSheet_data()
{
    QTest::addColumn<QString>("plan");
    QTest::addColumn<QString>("sentence");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("after");
    const QString one = "将 1 张选中的图片移动到：";
    QTest::newRow("selection") << "selection"
                               << "将 2 张选中的图片移动到："
                               << "批量归档"
                               << QStringList{"trip/IMG_7.jpg", "trip/IMG_8.jpg",
                                              "批量归档/IMG_1.jpg", "批量归档/IMG_2.jpg"};
    QTest::newRow("by rating, browsing a sub-folder")
        << "rating"
        << "将 1 张2星图片移动到："
        << "归档-2星"
        << QStringList{"IMG_1.jpg", "IMG_2.jpg", "trip/IMG_7.jpg", "归档-2星/IMG_8.jpg"};
    QTest::newRow("a folder chosen with 更改")
        << "chosen" << one << "elsewhere"
        << QStringList{"IMG_1.jpg", "elsewhere/IMG_2.jpg", "trip/IMG_7.jpg", "trip/IMG_8.jpg"};
    QTest::newRow("cancelled with Escape after a cancelled chooser")
        << "escape" << one << "批量归档"
        << QStringList{"IMG_1.jpg", "IMG_2.jpg", "trip/IMG_7.jpg", "trip/IMG_8.jpg"};
}

void TestThumbnailGrid::archiveThroughTheSheet()
{
    QFETCH(QString, plan);
    QFETCH(QString, sentence);
    QFETCH(QString, target);
    QFETCH(QStringList, after);
    for (const char *name : {"IMG_1.jpg", "IMG_2.jpg", "trip/IMG_7.jpg", "trip/IMG_8.jpg"})
        writeImage(root(), name);
    openGrid();
    const QString elsewhere = root() + "/elsewhere";
    QString askedFrom;
    m_grid->setArchiveFolderChooser([&](QWidget *, const QString &start) {
        askedFrom = start;
        return plan == "chosen" && QDir().mkpath(elsewhere) ? elsewhere : QString();
    });
    QPushButton *archiveButton = m_grid->selectionBar().archiveButton();
    if (plan == "rating") {
        QFuture<void> refreshed =
            m_state->refreshFolder(m_state->currentFolder()->children.first());
        QTRY_VERIFY(refreshed.isFinished());
        QCOMPARE(m_state->images().size(), 2);
        m_state->updateRating(2, BrowseFixtures::item(*m_state, "IMG_8.jpg"));
        QTest::mouseClick(m_grid->filterBar().starButton("2星"), Qt::LeftButton);
        archiveButton = m_grid->filterBar().archiveButton();
    } else {
        m_state->setSelectedImageIDs(plan == "selection" ? ids({0, 1}) : ids({1}));
    }
    QTest::mouseClick(archiveButton, Qt::LeftButton);
    ArchiveConfirmView *sheet = nullptr;
    QTRY_VERIFY((sheet = m_grid->archiveSheet()) && sheet->isVisible());
    QCOMPARE(sheet->sentence(), sentence);
    if (plan == "chosen" || plan == "escape") {
        QCOMPARE(sheet->targetPath(), root() + "/批量归档");
        QTest::mouseClick(sheet->changeButton(), Qt::LeftButton);
        QCOMPARE(askedFrom, root());
    }
    QCOMPARE(sheet->targetPath(), root() + '/' + target);
    QCOMPARE(sheet->shownPath(), root() + '/' + target);
    if (plan == "escape") {
        QVERIFY(m_grid->archiveItem());
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!m_grid->archiveSheet());
        QVERIFY(!m_grid->archiveItem());
        QCOMPARE(filesBelow(root()), after);
        QVERIFY(!QFileInfo::exists(root() + "/批量归档"));
        QCOMPARE(m_state->selectedImageIDs().size(), 1);
        return;
    }
    QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
    if (plan == "rating")
        QTest::keyClick(sheet, Qt::Key_Return);
    else
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
    QVERIFY(!m_grid->archiveItem());
    // On the move the grid says so and takes no orders: a click on a tile lands
    // on the veil (checked without running the event loop, which could let the
    // archive finish first).
    QVERIFY(m_state->isArchiving() && m_grid->busyVeil().isVisible());
    QVERIFY(!m_grid->selectionBar().archiveButton()->isEnabled() &&
            !m_grid->selectionBar().exportButton()->isEnabled());
    QWidget *hit = m_grid->childAt(viewport()->mapTo(m_grid.get(), pictureCentre(0)));
    QVERIFY(hit == &m_grid->busyVeil() || m_grid->busyVeil().isAncestorOf(hit));
    ArchiveItem again;
    again.targetPath = root() + "/又一个";
    m_grid->presentArchive(again);
    QVERIFY(!m_grid->archiveItem());

    QVERIFY(finished.wait(10000));
    QVERIFY(!m_grid->busyVeil().isVisible() && m_grid->filterBar().isEnabled());
    QCOMPARE(m_state->toastMessage().value_or(QString()),
             QStringLiteral("已归档 %1 张图片到「%2」").arg(sentence.mid(2, 1), target));
    QCOMPARE(filesBelow(root()), after);
    QCOMPARE(m_state->images().size(), 4); // the whole open tree again
    QCOMPARE(m_state->selectedFolderURL(), std::optional(QUrl::fromLocalFile(root())));
    QVERIFY(!m_grid->selectionBar().isVisible());
}

QTEST_MAIN(TestThumbnailGrid)
#include "tst_thumbnailgrid.moc"
