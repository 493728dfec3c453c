#include "BrowseFixtures.h"
#include "ImagingFixtures.h"
#include "PixelProbe.h"
#include "browse/ArchiveBusyVeil.h"
#include "browse/ArchiveConfirmView.h"
#include "browse/FilterCapsuleButton.h"
#include "browse/FilterMenuBar.h"
#include "browse/SelectionActionBar.h"
#include "browse/StarFilterBar.h"
#include "browse/ThumbnailCell.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListModel.h"
#include "browse/ThumbnailListView.h"
#include "common/BrowseStyle.h"
#include "common/FileRevealer.h"
#include "imaging/ImageLoader.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using BrowseFixtures::filenames;
using BrowseFixtures::writeImage;
using State = ThumbnailListModel::ThumbnailState;

namespace {
struct RecordingRevealer : FileRevealer
{
    QStringList revealed;
    void reveal(const QString &path) override { revealed << path; }
};

State stateOf(const QModelIndex &index)
{
    return index.data(ThumbnailListModel::ThumbnailStateRole).value<State>();
}
// Paints through the grid's own cell and counts the paints of each row.
struct CountingCell : QStyledItemDelegate
{
    ThumbnailCell &cell;
    mutable QHash<int, int> paints;
    mutable QSet<int> shown; // rows painted with their thumbnail
    explicit CountingCell(ThumbnailCell &own)
        : cell(own)
    {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        cell.paint(painter, option, index);
        ++paints[index.row()];
        if (stateOf(index) == State::Ready)
            shown.insert(index.row());
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return cell.sizeHint(option, index);
    }
};
} // namespace

class TestThumbnailGrid : public QObject
{
    Q_OBJECT

    WorkQueues m_queues;
    QTemporaryDir m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<ThumbnailGridView> m_grid;

    QString root() const { return m_dir.path() + QStringLiteral("/photos"); }
    void openGrid(int images = 0, int width = 800, int height = 600)
    {
        for (int i = 1; i <= images; ++i)
            writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i), QColor::fromHsv(i, 200, 200));
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        m_grid = std::make_unique<ThumbnailGridView>(*m_state);
        new QAbstractItemModelTester(
            &m_grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, m_grid.get());
        m_grid->resize(width, height);
        m_grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
    }
    QWidget *viewport() const { return m_grid->listView().viewport(); }
    QRect slot(int row) const { return m_grid->listView().visualRect(m_grid->model().index(row)); }
    QPoint pictureCentre(int row) const { return ThumbnailCell::pictureRect(slot(row)).center(); }
    void mouse(QEvent::Type type, const QPoint &pos)
    {
        QMouseEvent event(type, pos, viewport()->mapToGlobal(pos),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
        QApplication::sendEvent(viewport(), &event);
    }
    void press(const QPoint &pos) { mouse(QEvent::MouseButtonPress, pos); }
    void move(const QPoint &pos) { mouse(QEvent::MouseMove, pos); }
    void release(const QPoint &pos) { mouse(QEvent::MouseButtonRelease, pos); }
    void click(const QPoint &pos) { press(pos), release(pos); }
    QSet<QUuid> ids(std::initializer_list<int> rows) const
    {
        QSet<QUuid> result;
        for (const int row : rows)
            result.insert(m_state->filteredImages().at(row).id());
        return result;
    }
    QImage paintCell(const QModelIndex &index, qreal devicePixelRatio = 1) const
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
    bool paintedNear(const QPoint &at, QColor colour) const
    {
        return ImagingFixtures::colourNear(viewport()->grab().toImage().pixelColor(at), colour, 40);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = QTemporaryDir();
        QVERIFY(m_dir.isValid());
        QDir().mkpath(root());
        m_state = BrowseFixtures::makeState(m_queues, m_dir.path());
    }
    void cleanup() { m_grid.reset(), m_state.reset(); }

    // Redrawn without reloading, a failed file too; a rescan paints and retries anew.
    void modelFollowsTheStateAndRedrawsWithoutReloading()
    {
        QVERIFY(ImagingFixtures::writeBytes(root() + "/IMG_4.jpg", "this is not a JPEG"));
        openGrid(3);
        ThumbnailListModel &model = m_grid->model();
        QTRY_VERIFY(std::ranges::all_of(
            QList{0, 1, 2}, [&](int row) { return stateOf(model.index(row)) == State::Ready; }));
        QTRY_COMPARE(stateOf(model.index(3)), State::Failed);
        const int decodes = m_state->imageLoader().decodeJobCount();
        QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
        const ImageItem rated = m_state->filteredImages().at(1);
        m_state->updateRating(2, rated);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(model.index(1).data(ThumbnailListModel::RatingRole).toInt(), 2);
        viewport()->repaint();
        QCOMPARE(m_state->imageLoader().decodeJobCount(), decodes);
        m_state->setStarFilter(2);
        QCOMPARE(model.index(0).data(ThumbnailListModel::ItemRole).value<ImageItem>(), rated);

        // The context menu acts on its cell: reveal the file, copy the thumbnail.
        auto revealer = std::make_unique<RecordingRevealer>();
        const QStringList &revealed = revealer->revealed;
        m_grid->setFileRevealer(std::move(revealer));
        std::unique_ptr<QMenu> menu(m_grid->listView().createContextMenu(model.index(0), nullptr));
        menu->actions()[0]->trigger();
        QCOMPARE(revealed, QStringList{rated.path()});
        const QImage thumbnail =
            model.index(0).data(ThumbnailListModel::ThumbnailRole).value<QImage>();
        QApplication::clipboard()->clear();
        menu->actions()[1]->trigger();
        const QImage copied = QApplication::clipboard()->image();
        QCOMPARE(copied.convertToFormat(QImage::Format_RGB32),
                 thumbnail.convertToFormat(QImage::Format_RGB32));

        m_state->setStarFilter(0);
        writeImage(root(), "IMG_1.jpg", Qt::blue);
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        QTRY_VERIFY(paintedNear(pictureCentre(0) + QPoint(0, 30), Qt::blue));
        QTRY_VERIFY(m_state->imageLoader().decodeJobCount() > decodes + 1);
    }

    void bandSelectsAndAClickOpensTheViewerOrToggles()
    {
        openGrid(12);
        // The rubber band adds to the selection it started from.
        const int columns = m_grid->listView().columnCount();
        QVERIFY(columns >= 4);
        const QRect frame1 = ThumbnailCell::cellFrame(slot(1));
        // A band of eight points wholly inside the gap between columns selects nothing.
        const QPoint gapTop(frame1.right() + 2, frame1.top() + 5);
        press(gapTop);
        move(gapTop + QPoint(0, 8));
        move(gapTop + QPoint(1, 60));
        QVERIFY(m_state->selectedImageIDs().isEmpty());
        release(gapTop + QPoint(1, 60));
        QVERIFY(m_grid->listView().rubberBand().isNull() && !m_state->isViewerActive());
        // One that only clips the bottom-right corner of a tile selects it.
        const QPoint corner = frame1.bottomRight();
        press(corner + QPoint(6, 3));
        move(corner - QPoint(1, 1));
        QCOMPARE(m_state->selectedImageIDs(), ids({1}));
        release(corner - QPoint(1, 1));

        const int c = columns + 1, d = columns + 2; // second line, columns 1 and 2
        m_state->setSelectedImageIDs(ids({0, 1}));
        // From the gap left of C, across C into D, then back into the gap between them.
        press(QPoint(slot(c).left() + 2, pictureCentre(c).y() - 30));
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

        // The badge toggles even with nothing selected.
        m_state->setSelectedImageIDs({});
        const QPoint badge = ThumbnailCell::selectionBadgeRect(slot(1)).center();
        click(badge);
        QCOMPARE(m_state->selectedImageIDs(), ids({1}));
        click(badge);
        QVERIFY(m_state->selectedImageIDs().isEmpty() && !m_state->isViewerActive());
        // A drag shorter than eight points is a click.
        press(pictureCentre(2));
        move(pictureCentre(2) + QPoint(7, 0));
        release(pictureCentre(2) + QPoint(7, 0));
        QVERIFY(m_state->isViewerActive());
        QCOMPARE(m_state->currentIndex(), 2);
        // With a selection a click on the picture toggles it, one between tiles does nothing.
        m_state->setViewerActive(false);
        m_state->setSelectedImageIDs(ids({0}));
        click(pictureCentre(4));
        QVERIFY(!m_state->isViewerActive());
        QCOMPARE(m_state->selectedImageIDs(), ids({0, 4}));
        click(pictureCentre(4));
        click(QPoint(slot(1).left() + 1, pictureCentre(1).y()));
        QCOMPARE(m_state->selectedImageIDs(), ids({0}));
    }

    void filterBarOffersWhatTheImagesHaveAndSetsTheFilters()
    {
        openGrid(4);
        StarFilterBar &bar = m_grid->filterBar();
        QVERIFY(bar.formatButtonLabels().isEmpty()); // one format: no format section
        for (const char *name : {"IMG_2.jpg", "IMG_4.jpg"})
            m_state->updateRating(3, BrowseFixtures::item(*m_state, name));
        QCOMPARE(bar.starButtonLabels(), (QStringList{"全部", "无星", "3星"}));
        const auto clickStar = [&](const QString &label, const QString &status) {
            QTest::mouseClick(bar.starButton(label), Qt::LeftButton);
            QCOMPARE(m_state->statusMessage(), status);
        };
        clickStar("3星", "3星: 2 张");
        QVERIFY(bar.archiveButton()->isVisible() && bar.starButton("3星")->isActive());
        clickStar("无星", "无星: 2 张");
        QVERIFY(!bar.archiveButton()->isVisible());
        clickStar("全部", "共 4 张图片");

        writeImage(root(), "IMG_5.png");
        writeImage(root(), "IMG_6.tif");
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        QCOMPARE(bar.formatButtonLabels(), (QStringList{"全部", "JPG", "PNG", "TIFF"}));
        QTest::mouseClick(bar.formatButton("PNG"), Qt::LeftButton);
        QVERIFY(bar.formatButton("PNG")->isActive() && !bar.formatButton("全部")->isActive());
        QCOMPARE(bar.countsText(), QStringLiteral("1 / 6 张"));

        SelectionActionBar &actions = m_grid->selectionBar();
        m_state->setFormatFilter(ImageItem::FormatCategory::jpeg);
        click(ThumbnailCell::selectionBadgeRect(slot(0)).center());
        QVERIFY(actions.isVisible());
        QTest::mouseClick(actions.selectAllButton(), Qt::LeftButton);
        QCOMPARE(actions.countText(), QStringLiteral("已选 4 张"));
        QCOMPARE(filenames(m_state->selectedImages()),
                 (QStringList{"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg", "IMG_4.jpg"}));
        // The flag commands mark every selected image in one batch.
        QSignalSpy batches(&m_state->cullingMarks(), &CullingMarkStore::marksChanged);
        for (QPushButton *button :
             {actions.pickButton(), actions.rejectButton(), actions.clearFlagButton()}) {
            QTest::mouseClick(button, Qt::LeftButton);
            const CullingFlag flag = m_state->mark(m_state->selectedImages().last()).flag;
            QCOMPARE(m_state->mark(m_state->selectedImages().first()).flag, flag);
            QCOMPARE(CullingMark::flagName(flag) + m_state->statusMessage(),
                     button == actions.pickButton()     ? QStringLiteral("pick已标记为留用")
                     : button == actions.rejectButton() ? QStringLiteral("reject已标记为排除")
                                                        : QStringLiteral("已清除旗标"));
        }
        QCOMPARE(batches.count(), 3);
        QVERIFY(m_state->mark(m_state->images().at(4)).isEmpty()); // the png was not selected
        QTest::mouseClick(actions.clearButton(), Qt::LeftButton);
        QVERIFY(m_state->selectedImageIDs().isEmpty() && !actions.isVisible());
    }

    void filterRowMenusSetTheFiltersAndTheSort()
    {
        using Choice = FilterMenuBar::Choice;
        openGrid(4);
        FilterMenuBar &row = m_grid->filterMenuBar();
        const auto choose = [&](Choice choice, const QString &text) {
            for (QAction *action : row.menu(choice)->actions()) {
                if (action->text() == text && action->isEnabled())
                    return action->trigger();
            }
            QFAIL(qPrintable("no enabled entry " + text));
        };
        const auto item = [&](const char *name) { return BrowseFixtures::item(*m_state, name); };
        m_state->updateRating(2, item("IMG_1.jpg"));
        m_state->updateRating(5, item("IMG_3.jpg"));

        QTest::mouseClick(row.button(Choice::sort), Qt::LeftButton);
        QTRY_VERIFY(row.menu(Choice::sort)->isVisible());
        choose(Choice::sort, "评分");
        row.menu(Choice::sort)->close();
        choose(Choice::sort, "降序");
        QCOMPARE(filenames(m_state->filteredImages()),
                 (QStringList{"IMG_3.jpg", "IMG_1.jpg", "IMG_2.jpg", "IMG_4.jpg"}));
        QCOMPARE(
            filenames(
                {m_grid->model().index(0).data(ThumbnailListModel::ItemRole).value<ImageItem>()}),
            QStringList{"IMG_3.jpg"});
        QCOMPARE(row.button(Choice::sort)->text(), QStringLiteral("评分 ↓ ▾"));
        QVERIFY(row.button(Choice::sort)->isActive());

        m_state->setFlag(CullingFlag::reject, {item("IMG_1.jpg")});
        choose(Choice::flag, "隐藏排除");
        QCOMPARE(filenames(m_state->filteredImages()),
                 (QStringList{"IMG_3.jpg", "IMG_2.jpg", "IMG_4.jpg"}));
        QCOMPARE(row.button(Choice::flag)->text(), QStringLiteral("隐藏排除 ▾"));
        m_state->setLabel(ColourLabel::green, {item("IMG_4.jpg"), item("IMG_2.jpg")});
        choose(Choice::label, "绿色");
        QCOMPARE(filenames(m_state->filteredImages()), (QStringList{"IMG_2.jpg", "IMG_4.jpg"}));
        QVERIFY(row.button(Choice::label)->isActive() && row.button(Choice::flag)->isActive());
        // The menus follow filters set elsewhere, and the sort is not a filter.
        m_state->clearFilters();
        QVERIFY(!row.button(Choice::label)->isActive() && !row.button(Choice::flag)->isActive());
        QCOMPARE(row.menu(Choice::flag)->actions().first()->isChecked(), true);
        QVERIFY(row.button(Choice::sort)->isActive());
    }
    // Real JPEGs with camera EXIF, read by the index: the camera and lens
    // menus and the time orders wait for it, then list what the folder holds.
    void cameraAndLensMenusAndTheCaptureOrderFollowTheIndex()
    {
        using Choice = FilterMenuBar::Choice;
        struct Shot
        {
            const char *name, *model, *lens, *time;
        };
        for (const Shot &shot :
             {Shot{"a.jpg", "EOS R5", "RF50mm F1.2 L USM", "2024:05:01 12:00:00"},
              Shot{"b.jpg", "Z 9", "", "2024:05:01 09:30:00"},
              Shot{"c.jpg", "EOS R5", "", "2024:05:01 10:15:00"}}) {
            const QString path = writeImage(root(), shot.name);
            QList<ImagingFixtures::ExifTag> tags{
                {"Exif.Image.Model", Exiv2::asciiString, shot.model},
                {"Exif.Photo.DateTimeOriginal", Exiv2::asciiString, shot.time}};
            if (*shot.lens)
                tags.append({"Exif.Photo.LensModel", Exiv2::asciiString, shot.lens});
            ImagingFixtures::addExifTags(path, tags);
        }
        writeImage(root(), "d.png"); // no EXIF: its file time, no camera
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*")); // Exiv2 on the PNG, if any
        openGrid();
        FilterMenuBar &row = m_grid->filterMenuBar();
        const auto entries = [&](Choice choice) {
            QStringList texts;
            for (const QAction *action : row.menu(choice)->actions()) {
                if (!action->isSeparator())
                    texts << action->text();
            }
            return texts;
        };
        QTRY_VERIFY(m_state->isShootingDataComplete());
        QVERIFY(row.button(Choice::camera)->isEnabled());
        QCOMPARE(entries(Choice::camera),
                 (QStringList{"全部", "EOS R5 (2)", "Z 9 (1)", "未知相机 (1)"}));
        QCOMPARE(entries(Choice::lens),
                 (QStringList{"全部", "RF50mm F1.2 L USM (1)", "未知镜头 (3)"}));
        row.menu(Choice::camera)->actions()[2]->trigger(); // EOS R5
        QCOMPARE(filenames(m_state->filteredImages()), (QStringList{"a.jpg", "c.jpg"}));
        QCOMPARE(row.button(Choice::camera)->text(), QStringLiteral("EOS R5 ▾"));
        row.menu(Choice::camera)->actions().first()->trigger();
        for (QAction *action : row.menu(Choice::sort)->actions()) {
            if (action->text() == QStringLiteral("拍摄时间")) {
                QVERIFY(action->isEnabled());
                action->trigger();
            }
        }
        // d.png was written last: its file time follows the capture times of 2024.
        QCOMPARE(filenames(m_state->filteredImages()),
                 (QStringList{"b.jpg", "c.jpg", "a.jpg", "d.png"}));
    }
    void thumbnailsOnlyForCellsOnScreenAndTheLastViewedImageComesBack()
    {
        openGrid(240, 800, 500);
        ThumbnailListModel &model = m_grid->model();
        ThumbnailListView &view = m_grid->listView();
        ImageLoader &loader = m_state->imageLoader();
        int onScreen = 0;
        for (int row = 0; row < model.rowCount(); ++row)
            onScreen += view.visualRect(model.index(row)).intersects(viewport()->rect()) ? 1 : 0;
        QVERIFY(onScreen > 0 && onScreen < 40);
        QTRY_VERIFY(!model.hasPendingThumbnails());
        QCOMPARE(loader.decodeJobCount(), onScreen);
        const QString last = m_state->filteredImages().last().path();
        // Jumping to the end asks for the cells shown there, not for those passed over.
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        QTRY_VERIFY(loader.cachedThumbnail(last));
        QVERIFY(loader.decodeJobCount() <= 2 * onScreen + view.columnCount());

        m_state->selectImage(150);
        m_grid->hide();
        m_state->setViewerActive(false);
        m_grid->show();
        QTRY_VERIFY(std::abs(slot(150).center().y() - viewport()->rect().center().y()) <=
                    slot(150).height() / 2);
        // A window restored from the dock shows the grid again where the user left it.
        view.verticalScrollBar()->setValue(0);
        m_grid->hide();
        m_grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
        QCoreApplication::processEvents();
        QCOMPARE(view.verticalScrollBar()->value(), 0);
    }

    // Spinner turns and arrivals repaint the cells still loading, never those already shown.
    void onlyLoadingCellsRepaint()
    {
        for (int i = 1; i <= 12; ++i)
            writeImage(root(), QStringLiteral("IMG_%1.jpg").arg(i, 2, 10, QLatin1Char('0')),
                       QColor::fromHsv(i * 20, 200, 200));
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        ImageLoader &loader = m_state->imageLoader();
        for (int row = 0; row < 6; ++row)
            loader.loadThumbnail(m_state->filteredImages().at(row), 320);
        QTRY_VERIFY(loader.cachedThumbnail(m_state->filteredImages().at(5).path()) &&
                    !loader.isLoading(m_state->filteredImages().at(5).path()));
        // Every decoder busy: the other six cells keep loading until released.
        QSemaphore release;
        const int threads = m_queues.decode().maxThreadCount();
        for (int i = 0; i < threads; ++i)
            m_queues.decode().start([&] { release.acquire(); });
        m_grid = std::make_unique<ThumbnailGridView>(*m_state);
        CountingCell counting(m_grid->listView().cell());
        m_grid->listView().setItemDelegate(&counting);
        m_grid->resize(800, 600);
        m_grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_grid.get()));
        QTRY_VERIFY(counting.paints.size() == 12);
        counting.paints.clear();
        QTRY_VERIFY(counting.paints.value(11) >= 2); // two turns of the spinners
        // The first arrival after a quiet spell and the last one awaited are
        // announced at once, the others gathered for a moment.
        QSignalSpy changes(&m_grid->model(), &QAbstractItemModel::dataChanged);
        QList<bool> announcedAtOnce;
        connect(&loader, &ImageLoader::thumbnailReady, this, [&](const QString &path) {
            announcedAtOnce << std::ranges::any_of(changes, [&](const QList<QVariant> &change) {
                return m_grid->model().item(change.at(0).toModelIndex().row()).path() == path;
            });
        });
        release.release(threads);
        QTRY_VERIFY(counting.shown.contains(QSet<int>{6, 7, 8, 9, 10, 11}));
        QCOMPARE(announcedAtOnce.size(), 6);
        QVERIFY(announcedAtOnce.first() && announcedAtOnce.last());
        for (int row = 0; row < 6; ++row)
            QCOMPARE(counting.paints.value(row), 0);
        m_grid->listView().setItemDelegate(&m_grid->listView().cell());
    }

    void thumbnailsSharpenInPlace()
    {
        QImage main(2000, 1500, QImage::Format_RGB32), small(160, 120, QImage::Format_RGB32);
        main.fill(Qt::red);
        small.fill(Qt::green);
        ImagingFixtures::writeJpeg(root() + "/IMG_1.jpg", main);
        const QByteArray stored = ImagingFixtures::jpegBytes(small);
        ImagingFixtures::editExif(root() + "/IMG_1.jpg", [&](Exiv2::ExifData &exif) {
            Exiv2::ExifThumb(exif).setJpegThumbnail(
                reinterpret_cast<const Exiv2::byte *>(stored.constData()), long(stored.size()));
        });
        const QString path = ImagingFixtures::writeJpeg(
            root() + "/IMG_2.jpg", ImagingFixtures::quadrantPicture(1800, 1200));
        QVERIFY(BrowseFixtures::open(*m_state, root()));
        m_grid = std::make_unique<ThumbnailGridView>(*m_state); // not shown: nothing asked yet
        QCOMPARE(stateOf(m_grid->model().index(1)), State::Loading);
        const QImage canvas = paintCell(m_grid->model().index(1));
        const QRect picture = ThumbnailCell::pictureRect(canvas.rect());
        // Beside the spinner, below the selection badge: the background itself.
        for (const QPoint &probe :
             {picture.topLeft() + QPoint(30, 70), picture.center() + QPoint(0, 30),
              picture.bottomLeft() + QPoint(10, -10)})
            QCOMPARE(canvas.pixelColor(probe), QColor(Qt::white));
        QList<State> states;
        connect(&m_state->imageLoader(), &ImageLoader::thumbnailReady, this,
                [&](const QString &at) {
                    if (at == m_state->filteredImages().at(0).path())
                        states << m_grid->model().thumbnailState(m_state->filteredImages().at(0));
                });
        openGrid();
        QTRY_VERIFY(paintedNear(pictureCentre(0), Qt::red));
        QCOMPARE(states, (QList<State>{State::Ready, State::Ready}));
        ImageLoader &loader = m_state->imageLoader();
        QTRY_COMPARE(loader.cachedThumbnail(path).value_or(QImage()).size(), QSize(320, 213));
        // The 280-pixel square, aspect-filled by a 3:2 picture, needs a longer side of 420.
        paintCell(m_grid->model().index(1), 2);
        QTRY_COMPARE(loader.cachedThumbnail(path).value_or(QImage()).width(), 420);
        QTRY_VERIFY(!m_grid->model().hasPendingThumbnails());
    }

    // A mark repaints its cell: a badge for a flag, a dot for a label, a
    // rejected picture faded into the background.
    void marksPaintOnTheCell_data()
    {
        QTest::addColumn<CullingMark>("mark");
        QTest::addColumn<bool>("badge");
        QTest::newRow("none") << CullingMark{} << false;
        QTest::newRow("pick") << CullingMark{CullingFlag::pick, ColourLabel::none} << true;
        QTest::newRow("reject, red") << CullingMark{CullingFlag::reject, ColourLabel::red} << true;
        QTest::newRow("purple only")
            << CullingMark{CullingFlag::none, ColourLabel::purple} << false;
    }
    void marksPaintOnTheCell()
    {
        QFETCH(CullingMark, mark);
        QFETCH(bool, badge);
        const QColor fill(40, 120, 200);
        writeImage(root(), "IMG_1.jpg", fill);
        openGrid();
        const QModelIndex index = m_grid->model().index(0);
        QTRY_COMPARE(stateOf(index), State::Ready);
        const QImage plain = paintCell(index);
        QSignalSpy changes(&m_grid->model(), &QAbstractItemModel::dataChanged);
        m_state->cullingMarks().setFlag(m_state->images().at(0).path(), mark.flag);
        m_state->cullingMarks().setLabel(m_state->images().at(0).path(), mark.label);
        QCOMPARE(changes.count(),
                 int(mark.flag != CullingFlag::none) + int(mark.label != ColourLabel::none));
        QCOMPARE(index.data(ThumbnailListModel::CullingMarkRole).value<CullingMark>(), mark);
        const QImage marked = paintCell(index);
        const QRect picture = ThumbnailCell::pictureRect(marked.rect());
        const QRect badgeBox = ThumbnailCell::markBadgeRect(picture).toAlignedRect();
        const auto differs = [&](const QRect &region) {
            return PixelProbe::differingPixels(plain.copy(region), marked.copy(region), 24) > 0;
        };
        QCOMPARE(differs(badgeBox), badge);
        const QPoint dot(badgeBox.right() + 1 + 4 + 5, badgeBox.center().y()); // the dot's centre
        if (mark.label == ColourLabel::none)
            QVERIFY(!differs(QRect(dot, QSize(1, 1))));
        else
            QVERIFY(ImagingFixtures::colourNear(marked.pixelColor(dot),
                                                BrowseStyle::labelColor(mark.label), 24));
        const qreal seen = mark.flag == CullingFlag::reject ? ThumbnailCell::rejectedOpacity : 1;
        const QColor faded =
            QColor::fromRgbF(fill.redF() * seen + (1 - seen), fill.greenF() * seen + (1 - seen),
                             fill.blueF() * seen + (1 - seen));
        QVERIFY(ImagingFixtures::colourNear(marked.pixelColor(picture.center()), faded, 24));
    }

    // "归档排除的照片" shows while rejects wait, takes all of them whatever is
    // shown, with their sidecars, into 归档-排除, and then hides.
    void rejectsAreArchivedWhateverIsShown()
    {
        for (const char *name : {"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg", "trip/IMG_4.jpg"})
            writeImage(root(), name);
        QVERIFY(ImagingFixtures::writeBytes(root() + "/IMG_1.jpg.xmp", "<x:xmpmeta/>"));
        openGrid();
        QPushButton *button = m_grid->filterBar().archiveRejectsButton();
        const auto flag = [&](const char *name, CullingFlag flag) {
            m_state->setFlag(flag, {BrowseFixtures::item(*m_state, name)});
        };
        flag("IMG_2.jpg", CullingFlag::pick);
        QVERIFY(!button->isVisible());
        flag("IMG_1.jpg", CullingFlag::reject);
        QVERIFY(button->isVisible());
        flag("IMG_1.jpg", CullingFlag::none);
        QVERIFY(!button->isVisible());
        flag("IMG_1.jpg", CullingFlag::reject);
        flag("IMG_4.jpg", CullingFlag::reject);
        m_state->setFlagFilter(FlagFilter::pick);
        QTest::mouseClick(button, Qt::LeftButton);
        ArchiveConfirmView *sheet = nullptr;
        QTRY_VERIFY((sheet = m_grid->archiveSheet()) && sheet->isVisible());
        QCOMPARE(sheet->sentence(), QStringLiteral("将 2 张排除的照片移动到："));
        QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
        QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QVERIFY(m_state->isMovingFiles() && !button->isVisible());
        QVERIFY(finished.wait(10000));
        const QDir archive(root() + "/归档-排除");
        QCOMPARE(archive.entryList(QDir::Files, QDir::Name),
                 (QStringList{"IMG_1.jpg", "IMG_1.jpg.xmp", "IMG_4.jpg"}));
        QVERIFY(QFileInfo::exists(root() + "/IMG_2.jpg") &&
                QFileInfo::exists(root() + "/IMG_3.jpg"));
        QCOMPARE(m_state->images().size(), 4);
        QVERIFY(!button->isVisible());
    }

    void archiveThroughTheSheet_data()
    {
        // chosen: a folder chosen with 更改; rating: browsing a sub-folder;
        // escape: Escape after a cancelled chooser.
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("target");
        QTest::newRow("chosen") << "将 2 张选中的图片移动到："
                                << "elsewhere";
        QTest::newRow("rating") << "将 1 张2星图片移动到："
                                << "归档-2星";
        QTest::newRow("escape") << "将 1 张选中的图片移动到："
                                << "批量归档";
    }
    void archiveThroughTheSheet()
    {
        const QString plan = QTest::currentDataTag();
        QFETCH(QString, sentence);
        QFETCH(QString, target);
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
            m_state->updateRating(2, BrowseFixtures::item(*m_state, "IMG_8.jpg"));
            QTest::mouseClick(m_grid->filterBar().starButton("2星"), Qt::LeftButton);
            archiveButton = m_grid->filterBar().archiveButton();
        } else {
            m_state->setSelectedImageIDs(plan == "chosen" ? ids({0, 1}) : ids({1}));
        }
        QTest::mouseClick(archiveButton, Qt::LeftButton);
        ArchiveConfirmView *sheet = nullptr;
        QTRY_VERIFY((sheet = m_grid->archiveSheet()) && sheet->isVisible());
        QCOMPARE(sheet->sentence(), sentence);
        if (plan != "rating") {
            QCOMPARE(sheet->targetPath(), root() + "/批量归档");
            QTest::mouseClick(sheet->changeButton(), Qt::LeftButton);
            QCOMPARE(askedFrom, root());
        }
        QCOMPARE(sheet->shownPath(), root() + '/' + target);
        QVERIFY(m_grid->archiveItem());
        const QList<ImageItem> moving = m_grid->archiveItem()->images;
        const auto movedAll = [&](bool moved) {
            return std::ranges::all_of(moving, [&](const ImageItem &image) {
                return QFileInfo::exists(root() + '/' + target + '/' + image.filename()) == moved;
            });
        };
        if (plan == "escape") {
            QTest::keyClick(sheet, Qt::Key_Escape);
            QTRY_VERIFY(!m_grid->archiveSheet());
            QVERIFY(!m_grid->archiveItem() && movedAll(false));
            QCOMPARE(m_state->selectedImageIDs().size(), 1);
            return;
        }
        QSignalSpy finished(m_grid.get(), &ThumbnailGridView::archiveFinished);
        if (plan == "rating")
            QTest::keyClick(sheet, Qt::Key_Return);
        else
            QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
        QVERIFY(!m_grid->archiveItem());
        // On the move the grid takes no orders: a click on a tile lands on the veil
        // (checked before the event loop runs, which could let the archive finish).
        QVERIFY(m_state->isMovingFiles() && m_grid->busyVeil().isVisible());
        QVERIFY(!m_grid->selectionBar().archiveButton()->isEnabled() &&
                !m_grid->selectionBar().exportButton()->isEnabled());
        QWidget *hit = m_grid->childAt(viewport()->mapTo(m_grid.get(), pictureCentre(0)));
        QVERIFY(hit == &m_grid->busyVeil() || m_grid->busyVeil().isAncestorOf(hit));
        m_grid->presentArchive(ArchiveItem());
        QVERIFY(!m_grid->archiveItem());

        QVERIFY(finished.wait(10000));
        QVERIFY(!m_grid->busyVeil().isVisible() && m_grid->filterBar().isEnabled());
        QVERIFY(movedAll(true));
        QCOMPARE(m_state->images().size(), 4); // the whole open tree again
        QCOMPARE(m_state->selectedFolderURL(), std::optional(QUrl::fromLocalFile(root())));
    }
};

QTEST_MAIN(TestThumbnailGrid)
#include "tst_thumbnailgrid.moc"
