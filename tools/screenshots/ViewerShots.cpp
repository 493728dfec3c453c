// The image viewer: landscape and portrait photos, zoomed in, loading and
// error states, flags and colour labels in the status bar, a RAW file before,
// during and after its full decode, and the question asked before exporting a
// decoded RAW.
#include "ImagingFixtures.h"
#include "ScreenshotScene.h"
#include "common/ZoomableImageView.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "viewer/ImageViewerView.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPainter>

namespace {

struct ViewerScene
{
    // `stores`: the folder of its ratings, flags and labels, inside the scratch space.
    explicit ViewerScene(ScreenshotContext &context, const QStringList &files,
                         const QString &stores = QStringLiteral("viewer"))
        : appState(queues, context.scratchDir + QLatin1Char('/') + stores + "/ratings.json",
                   context.scratchDir + QStringLiteral("/viewer-settings.ini"))
    {
        QList<ImageItem> items;
        for (const QString &file : files)
            items.append(ImageItem(file));
        appState.setImages(items);
        viewer = std::make_unique<ImageViewerView>(appState, queues);
        viewer->resize(1200, 800);
        viewer->show();
    }

    void showAndWait(int index, const ScreenshotContext &context)
    {
        appState.selectImage(index);
        waitUntil([this] { return !viewer->isLoading(); });
        context.settle(300); // the exact rendition follows shortly
    }

    static void waitUntil(const std::function<bool()> &done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    WorkQueues queues;
    AppState appState;
    std::unique_ptr<ImageViewerView> viewer;
};

QStringList samplePhotos(const ScreenshotContext &context)
{
    QStringList files;
    for (int i = 1; i <= 14; ++i)
        files.append(context.sampleFolder + QStringLiteral("/IMG_%1.jpg").arg(i));
    return files;
}

// A DNG whose stored preview is a sample photo and whose sensor data develops
// into a grey checker pattern, so preview and decode are told apart at a look.
QString writeSampleDng(const ScreenshotContext &context)
{
    const QString path = context.scratchDir + QStringLiteral("/DSC_0420.dng");
    const QImage preview(context.sampleFolder + QStringLiteral("/IMG_3.jpg"));
    ImagingFixtures::writeDng(path, 1500, 1000, preview.scaled(600, 400));
    return path;
}

} // namespace

KELVANE_SCREENSHOT_SCENE("viewer-landscape")
{
    ViewerScene scene(context, samplePhotos(context));
    scene.appState.updateRating(3, scene.appState.filteredImages()[2]);
    scene.showAndWait(2, context);
    context.save(scene.viewer.get(), QStringLiteral("viewer-landscape"));
}

KELVANE_SCREENSHOT_SCENE("viewer-marks")
{
    ViewerScene scene(context, samplePhotos(context), QStringLiteral("viewer-marks"));
    const QList<ImageItem> &items = scene.appState.filteredImages();
    scene.appState.updateRating(4, items[6]);
    scene.appState.setFlag(CullingFlag::pick, {items[6]});
    scene.appState.setLabel(ColourLabel::red, {items[6]});
    scene.showAndWait(6, context);
    context.save(scene.viewer.get(), QStringLiteral("viewer-marks-pick"));
    scene.appState.updateRating(2, items[7]);
    scene.appState.setFlag(CullingFlag::reject, {items[7]});
    scene.appState.setLabel(ColourLabel::purple, {items[7]});
    scene.showAndWait(7, context);
    context.save(scene.viewer.get(), QStringLiteral("viewer-marks-reject"));
}

KELVANE_SCREENSHOT_SCENE("viewer-portrait")
{
    ViewerScene scene(context, samplePhotos(context));
    scene.showAndWait(4, context); // IMG_5 is portrait
    context.save(scene.viewer.get(), QStringLiteral("viewer-portrait"));
}

KELVANE_SCREENSHOT_SCENE("viewer-zoomed")
{
    ViewerScene scene(context, samplePhotos(context));
    scene.showAndWait(0, context);
    scene.viewer->zoomableView()->setMagnification(3.0, QPointF(840, 240));
    context.settle(400);
    context.save(scene.viewer.get(), QStringLiteral("viewer-zoomed"));
}

KELVANE_SCREENSHOT_SCENE("viewer-first-and-last")
{
    ViewerScene scene(context, samplePhotos(context));
    scene.showAndWait(13, context);
    context.save(scene.viewer.get(), QStringLiteral("viewer-last"));
}

KELVANE_SCREENSHOT_SCENE("viewer-loading")
{
    ViewerScene scene(context, samplePhotos(context));
    scene.appState.selectImage(1);
    context.save(scene.viewer.get(), QStringLiteral("viewer-loading"));
    ViewerScene::waitUntil([&] { return !scene.viewer->isLoading(); });
}

KELVANE_SCREENSHOT_SCENE("viewer-error")
{
    const QString broken = context.scratchDir + QStringLiteral("/broken.jpg");
    QFile file(broken);
    if (file.open(QIODevice::WriteOnly))
        file.write("\xFF\xD8\xFF\xE0 this is not a picture");
    file.close();
    QStringList files = samplePhotos(context);
    files.insert(1, broken);
    ViewerScene scene(context, files);
    scene.showAndWait(1, context);
    context.save(scene.viewer.get(), QStringLiteral("viewer-error"));
}

KELVANE_SCREENSHOT_SCENE("viewer-raw")
{
    QStringList files = samplePhotos(context);
    files.insert(3, writeSampleDng(context));
    ViewerScene scene(context, files);
    scene.showAndWait(3, context);
    context.save(scene.viewer.get(), QStringLiteral("viewer-raw-preview"));

    scene.viewer->decodeRAW();
    context.settle(50);
    context.save(scene.viewer.get(), QStringLiteral("viewer-raw-decoding"));

    ViewerScene::waitUntil([&] { return scene.viewer->isRawDecoded(); });
    context.settle(300);
    context.save(scene.viewer.get(), QStringLiteral("viewer-raw-decoded"));

    // The question before exporting the decoded picture, over the viewer.
    QMessageBox *alert = ImageViewerView::createRawExportAlert(scene.viewer.get());
    alert->show();
    context.settle(100);
    QImage composite = scene.viewer->grab().toImage();
    const QImage box = alert->grab().toImage();
    QPainter painter(&composite);
    painter.fillRect(composite.rect(), QColor(0, 0, 0, 90));
    painter.drawImage(QPointF((composite.width() - box.width()) / 2.0, 140), box);
    painter.end();
    context.save(composite, QStringLiteral("viewer-raw-export-alert"));
    alert->close();
}
