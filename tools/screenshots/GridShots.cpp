// The browsing grid: mixed formats and ratings, each filter bar state, the
// selection bar under a rubber band, loading and unsupported cells, flags and
// colour labels with the archive of the rejects, and the archive confirmation.
#include "ScreenshotScene.h"
#include "browse/ArchiveConfirmView.h"
#include "browse/FilterCapsuleButton.h"
#include "browse/FilterMenuBar.h"
#include "browse/StarFilterBar.h"
#include "browse/ThumbnailCell.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListModel.h"
#include "browse/ThumbnailListView.h"
#include "common/StarRatingView.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

namespace {

struct GridScene
{
    WorkQueues queues;
    AppState state;
    ThumbnailGridView grid;

    GridScene(const ScreenshotContext &context, const QString &folder, const QString &name)
        // Stores of its own (ratings, flags and labels): no scene sees another's marks.
        : state(queues, context.scratchDir + QStringLiteral("/%1/ratings.json").arg(name),
                context.scratchDir + QStringLiteral("/%1-settings.ini").arg(name))
        , grid(state)
    {
        QFuture<void> opened = state.openFolder(QUrl::fromLocalFile(folder), true);
        while (!opened.isFinished())
            context.settle(20);
        grid.resize(1040, 720);
    }

    void rate(const QString &filename, int stars)
    {
        for (const ImageItem &item : state.images()) {
            if (item.filename() == filename)
                state.updateRating(stars, item);
        }
    }

    void rateSome()
    {
        const int pattern[] = {5, 0, 3, 0, 4, 3, 0, 1, 0, 5, 2, 0, 3, 0, 0, 4};
        int i = 0;
        for (const ImageItem &item : state.images()) {
            const int stars = pattern[i++ % 16];
            if (stars > 0)
                state.updateRating(stars, item);
        }
    }

    void showAndLoad(const ScreenshotContext &context)
    {
        grid.show();
        context.settle(150);
        while (grid.model().hasPendingThumbnails())
            context.settle(50);
        context.settle(100);
    }

    QPoint viewportPoint(int row, QPoint offset = {}) const
    {
        const QRect slot = grid.listView().visualRect(grid.model().index(row));
        return ThumbnailCell::pictureRect(slot).center() + offset;
    }

    void sendMouse(QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
                   Qt::MouseButtons buttons)
    {
        QWidget *viewport = grid.listView().viewport();
        QMouseEvent event(type, pos, viewport->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
};

// A few files the decoders cannot read, beside real photos.
QString folderWithBrokenFiles(const ScreenshotContext &context)
{
    const QString folder = context.scratchDir + QStringLiteral("/Broken Files");
    QDir().mkpath(folder);
    for (const QString &name : {QStringLiteral("scan_01.jpg"), QStringLiteral("IMG_0420.CR3"),
                                QStringLiteral("export_final_v2_really_final_edit.png")}) {
        QFile file(folder + QLatin1Char('/') + name);
        file.open(QIODevice::WriteOnly);
        file.write("not an image at all");
    }
    for (int i = 1; i <= 3; ++i)
        QFile::copy(context.sampleFolder + QStringLiteral("/IMG_%1.jpg").arg(i),
                    folder + QStringLiteral("/IMG_%1.jpg").arg(i));
    return folder;
}

} // namespace

KELVANE_SCREENSHOT_SCENE("grid-mixed")
{
    GridScene scene(context, context.sampleFolder, QStringLiteral("grid-mixed"));
    scene.rateSome();
    scene.showAndLoad(context);
    context.save(&scene.grid, QStringLiteral("grid-mixed"));
}

KELVANE_SCREENSHOT_SCENE("grid-filter-states")
{
    GridScene scene(context, context.sampleFolder, QStringLiteral("grid-filter"));
    scene.rateSome();
    scene.showAndLoad(context);
    StarFilterBar &bar = scene.grid.filterBar();
    bar.starButton(QStringLiteral("3星"))->click();
    context.settle(200);
    context.save(&scene.grid, QStringLiteral("grid-filter-3-stars"));
    bar.starButton(QStringLiteral("无星"))->click();
    context.settle(200);
    context.save(&scene.grid, QStringLiteral("grid-filter-unrated"));
    bar.starButton(QStringLiteral("全部"))->click();
    if (FilterCapsuleButton *png = bar.formatButton(QStringLiteral("PNG")))
        png->click();
    context.settle(200);
    context.save(&scene.grid, QStringLiteral("grid-filter-png"));
}

KELVANE_SCREENSHOT_SCENE("grid-rubber-band")
{
    GridScene scene(context, context.sampleFolder, QStringLiteral("grid-band"));
    scene.rateSome();
    scene.showAndLoad(context);
    const int columns = scene.grid.listView().columnCount();
    scene.state.toggleSelection(scene.state.filteredImages().at(0).id());
    scene.state.toggleSelection(scene.state.filteredImages().at(1).id());
    context.settle(50);
    const QPoint start = scene.viewportPoint(columns + 1, QPoint(-40, -50));
    const QPoint end = scene.viewportPoint(2 * columns + 3, QPoint(10, 10));
    scene.sendMouse(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    scene.sendMouse(QEvent::MouseMove, (start + end) / 2, Qt::NoButton, Qt::LeftButton);
    scene.sendMouse(QEvent::MouseMove, end, Qt::NoButton, Qt::LeftButton);
    context.settle(100);
    context.save(&scene.grid, QStringLiteral("grid-rubber-band"));
    scene.sendMouse(QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
}

KELVANE_SCREENSHOT_SCENE("grid-loading-and-unsupported")
{
    const QString folder = folderWithBrokenFiles(context);
    {
        // Grabbed before any decode can report back: every cell still spins.
        GridScene scene(context, folder, QStringLiteral("grid-loading"));
        scene.grid.resize(760, 420);
        scene.grid.show();
        context.save(&scene.grid, QStringLiteral("grid-loading"));
    }
    GridScene scene(context, folder, QStringLiteral("grid-unsupported"));
    scene.grid.resize(760, 420);
    scene.rate(QStringLiteral("IMG_2.jpg"), 4);
    scene.showAndLoad(context);
    context.save(&scene.grid, QStringLiteral("grid-unsupported"));
}

KELVANE_SCREENSHOT_SCENE("archive-confirm")
{
    ArchiveConfirmView sheet(context.sampleFolder + QStringLiteral("/归档-3星"),
                             QStringLiteral("3星图片"), 12);
    sheet.show();
    context.settle(100);
    context.save(&sheet, QStringLiteral("archive-confirm"));
    ArchiveConfirmView longPath(
        context.scratchDir +
            QStringLiteral("/Photographs/2024/Iceland Ring Road Trip/Day 07 - Jökulsárlón and "
                           "Diamond Beach/Selected for Print/批量归档"),
        QStringLiteral("选中的图片"), 5);
    longPath.show();
    context.settle(100);
    context.save(&longPath, QStringLiteral("archive-confirm-long-path"));
}

KELVANE_SCREENSHOT_SCENE("star-rating-view")
{
    QWidget strip;
    strip.setAutoFillBackground(true);
    strip.resize(120, 60);
    StarRatingView three(3, 5, 12, &strip);
    three.move(8, 8);
    StarRatingView none(0, 5, 12, &strip);
    none.move(8, 34);
    strip.show();
    context.settle(50);
    context.save(
        strip.grab().toImage().scaled(360, 180, Qt::KeepAspectRatio, Qt::SmoothTransformation),
        QStringLiteral("star-rating-view"));
}

// The grid under its busy veil while files move, saying `message`.
void saveBusyGrid(const ScreenshotContext &context, const QString &name, const QString &message)
{
    GridScene scene(context, context.sampleFolder, name);
    scene.showAndLoad(context);
    scene.state.beginFileWork(message);
    context.settle(200);
    context.save(&scene.grid, name);
}

KELVANE_SCREENSHOT_SCENE("grid-archiving")
{
    saveBusyGrid(context, QStringLiteral("grid-archiving"), QStringLiteral("正在归档..."));
}

KELVANE_SCREENSHOT_SCENE("grid-trashing")
{
    saveBusyGrid(context, QStringLiteral("grid-trashing"), QStringLiteral("正在移到废纸篓..."));
}

// Opens the filter row's `choice` menu and saves the grid with the menu
// drawn where it popped up (a menu is a window of its own).
void saveWithMenu(const ScreenshotContext &context, ThumbnailGridView &grid,
                  FilterMenuBar::Choice choice, const QString &name)
{
    FilterMenuBar &row = grid.filterMenuBar();
    row.button(choice)->click();
    context.settle(150);
    QMenu &menu = *row.menu(choice);
    QImage shot = grid.grab().toImage();
    {
        QPainter painter(&shot);
        painter.drawPixmap(menu.mapToGlobal(QPoint()) - grid.mapToGlobal(QPoint()), menu.grab());
    }
    context.save(shot, name);
    menu.close();
}

// The filter row's menus over real camera files (the sample folder when there
// are none): flags, labels, the cameras and lenses with their counts, the
// sort; then the grid in capture order, newest first.
KELVANE_SCREENSHOT_SCENE("grid-filter-menus")
{
    QString folder = context.scratchDir + QStringLiteral("/Camera Menus");
    QDir().mkpath(folder);
    const QDir samples(QStringLiteral(KELVANE_SAMPLES_DIR) + QStringLiteral("/jpeg"));
    for (const QString &name : samples.entryList(QDir::Files))
        QFile::copy(samples.filePath(name), folder + QLatin1Char('/') + name);
    if (QDir(folder).isEmpty())
        folder = context.sampleFolder;
    GridScene scene(context, folder, QStringLiteral("grid-menus"));
    while (!scene.state.isShootingDataComplete())
        context.settle(50);
    const QList<ImageItem> images = scene.state.images();
    scene.state.setFlag(CullingFlag::pick, images.mid(0, 2));
    scene.state.setFlag(CullingFlag::reject, images.mid(2, 1));
    scene.state.setLabel(ColourLabel::green, images.mid(1, 2));
    scene.showAndLoad(context);
    using Choice = FilterMenuBar::Choice;
    scene.state.setFlagFilter(FlagFilter::hideRejects);
    saveWithMenu(context, scene.grid, Choice::flag, QStringLiteral("grid-menu-flag"));
    scene.state.setFlagFilter(FlagFilter::all);
    saveWithMenu(context, scene.grid, Choice::label, QStringLiteral("grid-menu-label"));
    saveWithMenu(context, scene.grid, Choice::camera, QStringLiteral("grid-menu-camera"));
    saveWithMenu(context, scene.grid, Choice::lens, QStringLiteral("grid-menu-lens"));
    scene.state.setSortOrder({SortOrder::Key::captureTime, true});
    context.settle(100);
    while (scene.grid.model().hasPendingThumbnails())
        context.settle(50);
    saveWithMenu(context, scene.grid, Choice::sort, QStringLiteral("grid-menu-sort"));
    context.save(&scene.grid, QStringLiteral("grid-sorted-capture-time"));
}

// Real camera files: JPEGs with their small EXIF thumbnails and RAW files of
// several makers, to judge how sharp the tiles are (also with --scale 2).
KELVANE_SCREENSHOT_SCENE("grid-camera-samples")
{
    const QString folder = context.scratchDir + QStringLiteral("/Camera Samples");
    QDir().mkpath(folder);
    for (const QString &kind : {QStringLiteral("jpeg"), QStringLiteral("raw")}) {
        const QDir samples(QStringLiteral(KELVANE_SAMPLES_DIR) + QLatin1Char('/') + kind);
        for (const QString &name : samples.entryList(QDir::Files))
            QFile::copy(samples.filePath(name), folder + QLatin1Char('/') + name);
    }
    if (QDir(folder).isEmpty())
        return; // no samples on this machine
    GridScene scene(context, folder, QStringLiteral("grid-camera"));
    scene.showAndLoad(context);
    context.save(&scene.grid, QStringLiteral("grid-camera-samples"));
}

// Picks, rejects (dimmed, their stars still readable) and every colour label
// on the cells; "归档排除的照片" on the filter bar, beside "归档" under a star
// filter; its confirmation.
KELVANE_SCREENSHOT_SCENE("grid-marks")
{
    GridScene scene(context, context.sampleFolder, QStringLiteral("grid-marks"));
    scene.rateSome();
    using F = CullingFlag;
    using L = ColourLabel;
    const CullingMark marks[] = {{F::reject, L::red},  {F::pick, L::none},   {F::reject, L::none},
                                 {F::none, L::yellow}, {F::pick, L::green},  {F::none, L::blue},
                                 {F::none, L::purple}, {F::reject, L::blue}, {F::pick, L::red},
                                 {F::none, L::green},  {F::none, L::none},   {F::pick, L::purple}};
    CullingMarkStore &store = scene.state.cullingMarks();
    for (int i = 0; i < int(std::size(marks)); ++i) {
        const QString path = scene.state.images().at(i).path();
        store.setFlag(path, marks[i].flag);
        store.setLabel(path, marks[i].label);
    }
    scene.state.toggleSelection(scene.state.images().at(4).id());
    scene.showAndLoad(context);
    context.save(&scene.grid, QStringLiteral("grid-marks"));

    scene.state.clearSelection();
    scene.grid.filterBar().starButton(QStringLiteral("3星"))->click();
    context.settle(200);
    context.save(&scene.grid, QStringLiteral("grid-marks-archive-buttons"));

    scene.grid.filterBar().archiveRejectsButton()->click();
    context.settle(100);
    if (ArchiveConfirmView *sheet = scene.grid.archiveSheet()) {
        context.save(sheet, QStringLiteral("archive-confirm-rejects"));
        sheet->close();
    }
}
