// The compare screen: a portrait beside a landscape (both 24 MP), and four
// 24 MP photos zoomed in step.
#include "ScreenshotScene.h"
#include "compare/ComparePane.h"
#include "compare/CompareView.h"
#include "compare/CompareZoomView.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "state/CompareSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QWheelEvent>
#include <exiv2/exiv2.hpp>

namespace {

// A sample photo enlarged to 24 MP (6000 x 4000, or 4000 x 6000 when portrait),
// written once into the scratch folder.
QString photo24MP(const ScreenshotContext &context, int sample)
{
    const QString path = context.scratchDir + QStringLiteral("/DSC_24MP_%1.jpg").arg(sample);
    if (QFileInfo::exists(path))
        return path;
    const QImage source(context.sampleFolder + QStringLiteral("/IMG_%1.jpg").arg(sample));
    const QSize size = source.width() < source.height() ? QSize(4000, 6000) : QSize(6000, 4000);
    QImageWriter writer(path);
    writer.setQuality(90);
    writer.write(source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return path;
}

// The camera's focus area over the sun of a landscape photo, as the EXIF
// SubjectArea rectangle (centre, width, height in pixels).
void markSunAsFocused(const QString &path)
{
    auto file = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    file->readMetadata();
    Exiv2::ExifData &exif = file->exifData();
    exif["Exif.Photo.PixelXDimension"] = uint32_t(6000);
    exif["Exif.Photo.PixelYDimension"] = uint32_t(4000);
    Exiv2::UShortValue area;
    area.read("4200 1200 360 360");
    exif["Exif.Photo.SubjectArea"] = area;
    file->writeMetadata();
}

struct CompareScene
{
    CompareScene(ScreenshotContext &context, const QList<int> &samples)
        : appState(queues, context.scratchDir + QStringLiteral("/compare-ratings.json"),
                   context.scratchDir + QStringLiteral("/compare-settings.ini"))
    {
        QList<ImageItem> items;
        for (const int sample : samples)
            items.append(ImageItem(photo24MP(context, sample)));
        appState.setImages(items);
        view = std::make_unique<CompareView>(appState, queues);
        view->resize(1200, 800);
        view->show();
        for (const ImageItem &item : items)
            appState.toggleSelection(item.id());
        appState.compare().openSelection();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 30000 && !std::ranges::all_of(view->panes(), [](ComparePane *p) {
                   return p->showsPicture() && !p->picture().isLoading();
               }))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        context.settle(300);
    }

    WorkQueues queues;
    AppState appState;
    std::unique_ptr<CompareView> view;
};

} // namespace

KELVANE_SCREENSHOT_SCENE("compare-two")
{
    CompareScene scene(context, {5, 3}); // IMG_5 is portrait
    scene.appState.updateRating(4, scene.appState.images()[1]);
    scene.appState.compare().setActivePane(1);
    context.settle(100);
    context.save(scene.view.get(), QStringLiteral("compare-two"));
}

KELVANE_SCREENSHOT_SCENE("compare-four-zoomed")
{
    CompareScene scene(context, {1, 2, 3, 4});
    CompareZoomView *leader = scene.view->panes()[0]->zoomView();
    const QPointF at(leader->width() * 0.7, leader->height() * 0.3); // the sun
    QWheelEvent wheel(at, leader->mapToGlobal(at), QPoint(), QPoint(0, 120 * 16), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(leader, &wheel);
    context.settle(400);
    context.save(scene.view.get(), QStringLiteral("compare-four-zoomed"));
}

KELVANE_SCREENSHOT_SCENE("compare-focus-areas")
{
    for (const int sample : {1, 2})
        markSunAsFocused(photo24MP(context, sample));
    CompareScene scene(context, {1, 2});
    scene.view->setFocusAreasShown(true);
    scene.view->toggleActualPixels(); // 100 % at the focus areas
    context.settle(400);
    context.save(scene.view.get(), QStringLiteral("compare-focus-areas"));
}
