// Viewer speed at 24 MP: one repaint of the zoomable view (fitted and at 2x),
// and a culling step from nextImage() to the new picture painted, cold and
// after a pause that lets the neighbour prefetch finish. Also how long the
// export editor opened from the viewer takes to close while it still loads.
#include "ImagingFixtures.h"
#include "editor/FrameExportView.h"
#include "export/LogoCatalogue.h"
#include "imaging/RAWProcessor.h"
#include "state/AppState.h"
#include "viewer/ImageViewerView.h"
#include "viewer/NeighbourPrefetchCache.h"
#include "viewer/ZoomableImageView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr QSize viewSize(1200, 800);

QImage photo24MP(int seed)
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QRandomGenerator noise(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(noise.bounded(16)) - 8;
            line[x] = qRgb(std::clamp(x * 255 / 6000 + n + seed * 20, 0, 255),
                           std::clamp(y * 255 / 4000 + n, 0, 255),
                           std::clamp(128 + ((x / 40 + y / 40) % 2) * 40 + n, 0, 255));
        }
    }
    return image;
}

void waitUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

void paintOnce(ZoomableImageView &view, QImage &target)
{
    QPainter painter(&target);
    view.render(&painter);
}

void BM_ViewerPaint24MP(benchmark::State &state)
{
    const bool zoomed = state.range(0) == 2;
    ZoomableImageView view;
    view.resize(viewSize);
    view.show();
    view.setImage(photo24MP(1));
    if (zoomed)
        view.setMagnification(2.0, QPointF(viewSize.width() / 2.0, viewSize.height() / 2.0));
    QImage target(viewSize, QImage::Format_ARGB32_Premultiplied);
    // First frame: before the rendition exists (direct sampling).
    QElapsedTimer first;
    first.start();
    paintOnce(view, target);
    state.counters["first_frame_ms"] = first.nsecsElapsed() / 1e6;
    waitUntil([&] { return view.hasExactRendition(); });
    for (auto _ : state)
        paintOnce(view, target);
}
BENCHMARK(BM_ViewerPaint24MP)->Arg(1)->Arg(2)->ArgName("zoom")->Unit(benchmark::kMillisecond);

struct StepFixture
{
    QTemporaryDir dir;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<ImageViewerView> viewer;

    StepFixture()
    {
        QList<ImageItem> items;
        for (int i = 0; i < 4; ++i) {
            const QString path = dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i));
            QImageWriter writer(path);
            writer.setQuality(90);
            writer.write(photo24MP(i));
            items.append(ImageItem(path));
        }
        appState = std::make_unique<AppState>(dir.filePath(QStringLiteral("r.json")),
                                              dir.filePath(QStringLiteral("s.ini")));
        appState->setImages(items);
        viewer = std::make_unique<ImageViewerView>(*appState);
        viewer->resize(viewSize);
        viewer->show();
    }

    // From nextImage() to the new picture painted; wraps to the start.
    double step(bool pauseFirst)
    {
        if (appState->currentIndex() >= appState->filteredImages().size() - 1) {
            appState->selectImage(0);
            waitUntil([&] { return !viewer->isLoading(); });
        }
        if (pauseFirst) // the user looks at the picture for a moment
            waitUntil([&] {
                const int next = appState->currentIndex() + 1;
                return viewer->prefetchCache().image(appState->filteredImages()[next]).has_value();
            });
        QImage target(viewSize, QImage::Format_ARGB32_Premultiplied);
        QElapsedTimer timer;
        timer.start();
        appState->nextImage();
        waitUntil([&] { return !viewer->isLoading(); });
        QPainter painter(&target);
        viewer->render(&painter);
        return timer.nsecsElapsed() / 1e9;
    }
};

void BM_ViewerStep24MP(benchmark::State &state)
{
    const bool paused = state.range(0) == 1;
    StepFixture fixture;
    fixture.appState->selectImage(0);
    waitUntil([&] { return !fixture.viewer->isLoading(); });
    for (auto _ : state)
        state.SetIterationTime(fixture.step(paused));
}
BENCHMARK(BM_ViewerStep24MP)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("paused")
    ->UseManualTime()
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);

// Closing the editor while a 24 MP DNG develops on its decoder and its first
// image waits behind that: the window must not wait for either.
void BM_EditorCloseDuringLoad(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString dng = dir.filePath(QStringLiteral("IMG_24MP.dng"));
    if (!ImagingFixtures::writeDng(dng, 6000, 4000, ImagingFixtures::quadrantPicture(600, 400))) {
        state.SkipWithError("cannot write the DNG");
        return;
    }
    AppState appState(dir.filePath(QStringLiteral("r.json")),
                      dir.filePath(QStringLiteral("s.ini")));
    for (auto _ : state) {
        state.PauseTiming();
        auto editor = std::make_unique<FrameExportView>(appState, LogoCatalogue());
        const QFuture<QImage> developing = editor->rawProcessor().decodeRAW(dng);
        editor->init(QList<ImageItem>{ImageItem(dng)});
        editor->show();
        QElapsedTimer settle; // let the development get under way
        settle.start();
        while (settle.elapsed() < 100)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        state.ResumeTiming();
        editor->reject();
        editor.reset();
        state.PauseTiming();
        RAWProcessor::waitForRetiredProcessors(); // not piled up across iterations
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EditorCloseDuringLoad)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
