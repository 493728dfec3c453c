// The frame and watermark export editor in each mode, in batch mode, while
// the first preview loads and during a batch export.
#include "ScreenshotScene.h"
#include "editor/FrameExportView.h"
#include "editor/SharedColorPanel.h"
#include "export/FrameExportModel.h"
#include "export/LogoCatalogue.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QColorDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <exiv2/exiv2.hpp>
#include <memory>

namespace {

// A copy of a sample photo carrying the EXIF a camera would write.
QString photoWithExif(const ScreenshotContext &context, const QString &name, QSize size = {})
{
    const QString path = QDir(context.scratchDir).filePath(QStringLiteral("editor/") + name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage photo(context.sampleFolder + QStringLiteral("/IMG_2.jpg"));
    if (size.isValid())
        photo = photo.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    photo.save(path, "JPEG", 92);
    auto file = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    file->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "FUJIFILM";
    exif["Exif.Image.Model"] = "X-T5";
    exif["Exif.Photo.LensModel"] = "XF33mmF1.4 R LM WR";
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 1);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 500);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:01 17:42:10";
    file->setExifData(exif);
    file->writeMetadata();
    return path;
}

AppState &screenshotState(const ScreenshotContext &context)
{
    static WorkQueues queues;
    static AppState state(queues, QDir(context.scratchDir).filePath(QStringLiteral("ratings.json")),
                          QDir(context.scratchDir).filePath(QStringLiteral("settings.ini")));
    return state;
}

// Waits until the editor has answered its first preview (or gives up).
void waitForPreview(const ScreenshotContext &context, FrameExportView &editor)
{
    QElapsedTimer timer;
    timer.start();
    while (editor.model().isInitialLoading() && timer.elapsed() < 5000)
        context.settle(20);
    context.settle(300); // the preview's fade and any pending debounce
}

std::unique_ptr<FrameExportView> singleEditor(ScreenshotContext &context)
{
    const QString path = photoWithExif(context, QStringLiteral("DSCF1042.jpg"));
    auto editor = std::make_unique<FrameExportView>(screenshotState(context));
    editor->init(ImageItem(path), QImage(path));
    editor->show();
    waitForPreview(context, *editor);
    return editor;
}

void shootWatermark(ScreenshotContext &context, WatermarkConfig::Kind kind, const QString &name)
{
    auto editor = singleEditor(context);
    editor->model().setEditMode(EditMode::watermark);
    WatermarkConfig config = editor->model().watermark();
    config.kind = kind;
    if (kind == WatermarkConfig::Kind::image)
        config.imageURL = LogoCatalogue().folder() + QStringLiteral("/Fujifilm.png");
    if (kind == WatermarkConfig::Kind::tiled)
        config.opacity = 0.35;
    editor->model().setWatermark(config);
    if (kind == WatermarkConfig::Kind::image)
        editor->model().setWatermarkColor(Qt::white);
    context.settle(400);
    context.save(editor.get(), name);
}

QList<ImageItem> sampleItems(const ScreenshotContext &context, int count)
{
    QList<ImageItem> items;
    items << ImageItem(photoWithExif(context, QStringLiteral("DSCF1042.jpg")));
    const QStringList names = QDir(context.sampleFolder).entryList({QStringLiteral("*.jpg")});
    for (const QString &name : names) {
        if (items.size() >= count)
            break;
        items << ImageItem(QDir(context.sampleFolder).filePath(name));
    }
    return items;
}

// Seven 24-megapixel copies: slow enough to photograph loading and exporting.
QList<ImageItem> bigItems(const ScreenshotContext &context)
{
    QList<ImageItem> items;
    for (int i = 0; i < 7; ++i) {
        const QString name = QStringLiteral("big/DSCF%1.jpg").arg(2000 + i);
        const QString path = QDir(context.scratchDir).filePath(QStringLiteral("editor/") + name);
        items << ImageItem(
            QFileInfo::exists(path) ? path : photoWithExif(context, name, QSize(6000, 4000)));
    }
    return items;
}

} // namespace

KELVANE_SCREENSHOT_SCENE("editor-frame")
{
    auto editor = singleEditor(context);
    context.save(editor.get(), QStringLiteral("editor-frame"));
    editor->model().setShowBorder(true);
    editor->model().setLogoScale(1.5);
    context.settle(400);
    context.save(editor.get(), QStringLiteral("editor-frame-border"));
}

KELVANE_SCREENSHOT_SCENE("editor-watermark-text")
{
    shootWatermark(context, WatermarkConfig::Kind::text, QStringLiteral("editor-watermark-text"));
}

KELVANE_SCREENSHOT_SCENE("editor-watermark-image")
{
    shootWatermark(context, WatermarkConfig::Kind::image, QStringLiteral("editor-watermark-image"));
}

KELVANE_SCREENSHOT_SCENE("editor-watermark-tiled")
{
    shootWatermark(context, WatermarkConfig::Kind::tiled, QStringLiteral("editor-watermark-tiled"));
}

KELVANE_SCREENSHOT_SCENE("editor-both")
{
    auto editor = singleEditor(context);
    editor->model().setEditMode(EditMode::both);
    context.settle(400);
    context.save(editor.get(), QStringLiteral("editor-both"));
}

KELVANE_SCREENSHOT_SCENE("editor-failure")
{
    auto editor = singleEditor(context);
    editor->model().setExportMessage(QStringLiteral("导出失败"));
    context.settle(50);
    context.save(editor.get(), QStringLiteral("editor-failure"));
}

KELVANE_SCREENSHOT_SCENE("editor-color-panel")
{
    auto editor = singleEditor(context);
    for (auto *button : editor->findChildren<QAbstractButton *>()) {
        if (button->accessibleName() == QStringLiteral("主文字颜色"))
            button->click();
    }
    context.settle(200);
    if (SharedColorPanel::existing())
        context.save(SharedColorPanel::existing()->panel(), QStringLiteral("editor-color-panel"));
    SharedColorPanel::existing()->panel()->hide();
}

KELVANE_SCREENSHOT_SCENE("editor-batch")
{
    FrameExportView editor(screenshotState(context));
    editor.init(sampleItems(context, 7));
    editor.show();
    waitForPreview(context, editor);
    context.save(&editor, QStringLiteral("editor-batch"));
}

KELVANE_SCREENSHOT_SCENE("editor-loading")
{
    const QList<ImageItem> items = bigItems(context);
    FrameExportView editor(screenshotState(context));
    editor.init(items);
    editor.show();
    context.settle(60);
    context.save(&editor, QStringLiteral("editor-loading"));
    waitForPreview(context, editor);
}

KELVANE_SCREENSHOT_SCENE("editor-exporting")
{
    const QList<ImageItem> items = bigItems(context);
    FrameExportView editor(screenshotState(context));
    editor.init(items);
    editor.show();
    waitForPreview(context, editor);
    editor.exportButton()->click();
    QElapsedTimer timer;
    timer.start();
    while (editor.model().exportMessage() != QStringLiteral("正在处理 2 / 7") &&
           timer.elapsed() < 20000)
        context.settle(10);
    context.save(&editor, QStringLiteral("editor-exporting"));
    while (editor.model().isExporting() && timer.elapsed() < 60000)
        context.settle(50);
}
