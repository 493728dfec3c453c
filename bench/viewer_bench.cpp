// Viewer speed at 24 MP: one repaint of the zoomable view (fitted and at 2x),
// and a culling step from nextImage() to the new picture painted, cold and
// after a pause that lets the neighbour prefetch finish; the same step of the
// compare screen's candidate, and a zoom step of four panes in step. Also how
// long the export editor opened from the viewer takes to close while it
// still loads.
#include "ImagingFixtures.h"
#include "common/ZoomableImageView.h"
#include "compare/ComparePane.h"
#include "compare/CompareView.h"
#include "compare/CompareZoomView.h"
#include "editor/FrameExportView.h"
#include "export/LogoCatalogue.h"
#include "imaging/RAWProcessor.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "state/CompareSession.h"
#include "viewer/ImageViewerView.h"
#include "viewing/NeighbourPrefetchCache.h"
#include "viewing/ShownImageLoader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

namespace {

constexpr QSize viewSize(1200, 800);
// The culling steps run in a large desktop window, device pixel ratio 1.
constexpr QSize screenSize(2560, 1440);

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

// Runs the event loop until `done`, asleep between events as the
// application's own loop is: processEvents() with a time limit never waits,
// and its spinning took one of the two cores the decoders work on. A tick
// wakes the loop to check `done` when nothing else happens.
void waitUntil(const std::function<bool()> &done)
{
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(2);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void paintOnce(ZoomableImageView &view, QImage &target)
{
    QPainter painter(&target);
    view.render(&painter);
}

void BM_ViewerPaint24MP(benchmark::State &state)
{
    const bool zoomed = state.range(0) == 2;
    WorkQueues queues;
    ZoomableImageView view(queues);
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

// 24 MP JPEG files, written once per run and shared by the benchmarks.
const QStringList &photoFiles()
{
    static QTemporaryDir dir;
    static QStringList files;
    if (files.isEmpty()) {
        for (int i = 0; i < 6; ++i) {
            const QString path = dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i));
            QImageWriter writer(path);
            writer.setQuality(90);
            writer.write(photo24MP(i));
            files.append(path);
        }
    }
    return files;
}

// The smallest TurboJPEG scaling factor whose result still covers `view`
// when the picture is fitted into it.
tjscalingfactor coveringFactor(QSize picture, QSize view)
{
    const double fit =
        std::min(double(view.width()) / picture.width(), double(view.height()) / picture.height());
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    tjscalingfactor best{1, 1};
    for (int i = 0; i < count; ++i) {
        const double scale = double(factors[i].num) / factors[i].denom;
        if (scale >= fit && scale < double(best.num) / best.denom)
            best = factors[i];
    }
    return best;
}

// The floor a cold step is measured against: reading the file and decoding
// it at the scale that covers a 2560 x 1440 view, nothing else. Returns the
// seconds it took.
double decodeForScreen(tjhandle tj, const QString &path, QImage &target)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray data = file.readAll();
    const auto *jpeg = reinterpret_cast<const unsigned char *>(data.constData());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    tjDecompressHeader3(tj, jpeg, data.size(), &width, &height, &subsampling, &colourspace);
    const tjscalingfactor factor = coveringFactor(QSize(width, height), screenSize);
    target = QImage(TJSCALED(width, factor), TJSCALED(height, factor), QImage::Format_RGB32);
    tjDecompress2(tj, jpeg, data.size(), target.bits(), target.width(), int(target.bytesPerLine()),
                  target.height(), TJPF_BGRX, 0);
    benchmark::DoNotOptimize(target.constBits());
    return timer.nsecsElapsed() / 1e9;
}

void BM_LibjpegScaledDecodeScreen(benchmark::State &state)
{
    const QString path = photoFiles().first(); // written before the timing starts
    tjhandle tj = tjInitDecompress();
    QImage target;
    for (auto _ : state) {
        decodeForScreen(tj, path, target);
        state.counters["width"] = target.width();
    }
    tjDestroy(tj);
}
BENCHMARK(BM_LibjpegScaledDecodeScreen)->Unit(benchmark::kMillisecond)->Iterations(6);

// Resident memory of this process in MiB.
double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// An application state over `count` items of the shared files (one file may
// stand for several), its stores in a temporary folder.
struct StateFixture
{
    QTemporaryDir dir;
    WorkQueues queues;
    std::unique_ptr<AppState> appState;

    explicit StateFixture(int count)
        : appState(std::make_unique<AppState>(queues, dir.filePath(QStringLiteral("r.json")),
                                              dir.filePath(QStringLiteral("s.ini"))))
    {
        QList<ImageItem> items;
        for (int i = 0; i < count; ++i)
            items.append(ImageItem(photoFiles()[i % photoFiles().size()]));
        appState->setImages(items);
    }
};

struct StepFixture : StateFixture
{
    std::unique_ptr<ImageViewerView> viewer;

    explicit StepFixture(int count = 4)
        : StateFixture(count)
    {
        viewer = std::make_unique<ImageViewerView>(*appState, queues);
        viewer->resize(screenSize);
        viewer->show();
    }

    // From nextImage() to the new picture's first paint (a stand-in or the
    // full picture); wraps to the start. `prefetched`: the user looked at the
    // picture long enough for the next one to be decoded ahead; otherwise the
    // step is cold (a click in the grid): nothing prepared, nothing in flight.
    struct Step
    {
        double firstPaint;
        double sharp;
    };
    Step step(bool prefetched)
    {
        if (appState->currentIndex() >= appState->filteredImages().size() - 1) {
            appState->selectImage(0);
            waitUntil([&] { return !viewer->isLoading(); });
        }
        // Prefetched and fitted to the view, as after a moment's look.
        waitUntil([&] {
            const ImageItem &next = appState->filteredImages()[appState->currentIndex() + 1];
            return !viewer->prefetchCache().fittedRendition(next).isNull();
        });
        if (!prefetched)
            viewer->prefetchCache().clear();
        // Painted into as into a window's backing store, which exists
        // already: its memory is not part of the step.
        QImage target(screenSize, QImage::Format_ARGB32_Premultiplied);
        target.fill(Qt::black);
        QElapsedTimer timer;
        timer.start();
        appState->nextImage();
        waitUntil([&] { return viewer->showsPicture(); });
        QPainter painter(&target);
        viewer->render(&painter);
        const double firstPaint = timer.nsecsElapsed() / 1e9;
        waitUntil([&] { return !viewer->isLoading(); });
        return {firstPaint, timer.nsecsElapsed() / 1e9};
    }
};

// Counter x_baseline: the steps' time over that of the floor's decode of
// each photo stepped to, timed right after its step, so that both are
// measured in the same state of the machine.
void BM_ViewerStep24MP(benchmark::State &state)
{
    const bool paused = state.range(0) == 1;
    StepFixture fixture;
    fixture.appState->selectImage(0);
    waitUntil([&] { return !fixture.viewer->isLoading(); });
    tjhandle tj = tjInitDecompress();
    QImage floorTarget;
    double sharp = 0, steps = 0, floor = 0;
    for (auto _ : state) {
        const StepFixture::Step step = fixture.step(paused);
        state.SetIterationTime(step.firstPaint);
        sharp += step.sharp;
        steps += step.firstPaint;
        if (!paused) {
            const AppState &app = *fixture.appState;
            floor +=
                decodeForScreen(tj, app.filteredImages()[app.currentIndex()].path(), floorTarget);
        }
    }
    tjDestroy(tj);
    state.counters["sharp_ms"] = sharp * 1e3 / double(state.iterations());
    if (!paused)
        state.counters["x_baseline"] = steps / floor;
}
BENCHMARK(BM_ViewerStep24MP)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("paused")
    ->UseManualTime()
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);

// Compare: two panes over the same 2560 x 1440 screen, the candidate stepping
// through the list beside a fixed select; or four panes zoomed in step.
struct CompareFixture : StateFixture
{
    std::unique_ptr<CompareView> view;

    // Compares the first `panes` of `count` items over the shared files.
    CompareFixture(int count, int panes)
        : StateFixture(count)
    {
        view = std::make_unique<CompareView>(*appState, queues);
        view->resize(screenSize);
        view->show();
        for (int i = 0; i < panes; ++i)
            appState->toggleSelection(appState->images()[i].id());
        open();
    }
    void open()
    {
        appState->compare().openSelection();
        waitUntil([&] {
            return std::ranges::all_of(view->panes(), [](ComparePane *pane) {
                return pane->showsPicture() && !pane->picture().isLoading();
            });
        });
    }
    ComparePane &candidate() const { return *view->panes()[1]; }

    // As StepFixture::step(), for the candidate: from the step to its first
    // paint; wraps to the start.
    double step(bool prefetched)
    {
        const QList<ImageItem> &images = appState->filteredImages();
        if (appState->compare().items()[1] == images.last())
            open();
        const ImageItem next = images[images.indexOf(appState->compare().items()[1]) + 1];
        // A moment's look: the next candidate decoded ahead and the panes on
        // screen drawn from their exact renditions.
        waitUntil([&] {
            return !candidate().picture().prefetchCache().fittedRendition(next).isNull() &&
                   std::ranges::all_of(view->panes(), [](ComparePane *pane) {
                       return pane->zoomView()->hasExactRendition();
                   });
        });
        if (!prefetched)
            candidate().picture().prefetchCache().clear();
        // Painted into as into a window's backing store, which exists
        // already: its memory is not part of the step.
        QImage target(screenSize, QImage::Format_ARGB32_Premultiplied);
        target.fill(Qt::black);
        QElapsedTimer timer;
        timer.start();
        appState->compare().step(+1);
        waitUntil([&] { return candidate().showsPicture(); });
        QPainter painter(&target);
        view->render(&painter);
        const double firstPaint = timer.nsecsElapsed() / 1e9;
        waitUntil([&] { return !candidate().picture().isLoading(); });
        return firstPaint;
    }
};

void BM_CompareStep24MP(benchmark::State &state)
{
    CompareFixture fixture(6, 2);
    for (auto _ : state)
        state.SetIterationTime(fixture.step(state.range(0) == 1));
}
BENCHMARK(BM_CompareStep24MP)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("paused")
    ->UseManualTime()
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);

// One wheel notch in the first of four 24 MP panes (alternately in and out,
// around 2x), every pane following, then the screen painted.
void BM_ComparePaintSynced4(benchmark::State &state)
{
    CompareFixture fixture(4, 4);
    CompareZoomView *leader = fixture.view->panes()[0]->zoomView();
    const QPointF at(leader->width() * 0.4, leader->height() * 0.45);
    const auto notch = [&](int notches) {
        QWheelEvent wheel(at, leader->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(leader, &wheel);
    };
    notch(10);
    QImage target(screenSize, QImage::Format_ARGB32_Premultiplied);
    int direction = 1;
    for (auto _ : state) {
        notch(direction);
        direction = -direction;
        QPainter painter(&target);
        fixture.view->render(&painter);
    }
}
BENCHMARK(BM_ComparePaintSynced4)->Unit(benchmark::kMillisecond);

// Holding the arrow key: 90 steps at 30 per second, then release. Memory may
// grow by the pictures in flight and kept, not by one per step; settle_ms is
// the time from release to the full picture of the last image. Three holds,
// each reported, then their median: one hold alone says little about the
// next.
void BM_ViewerHoldArrow(benchmark::State &state)
{
    for (auto _ : state) {
        StepFixture fixture(91);
        fixture.appState->selectImage(0);
        waitUntil([&] { return !fixture.viewer->isLoading(); });
        const double before = residentMiB();
        double peak = before;
        QElapsedTimer pace;
        pace.start();
        for (int step = 1; step <= 90; ++step) {
            waitUntil([&] {
                peak = std::max(peak, residentMiB());
                return pace.elapsed() >= step * 1000 / 30;
            });
            fixture.appState->nextImage();
        }
        QElapsedTimer settle;
        settle.start();
        waitUntil([&] {
            peak = std::max(peak, residentMiB());
            return !fixture.viewer->isLoading();
        });
        state.SetIterationTime(settle.nsecsElapsed() / 1e9);
        state.counters["settle_ms"] = settle.nsecsElapsed() / 1e6;
        state.counters["peak_rss_growth_mb"] = peak - before;
        state.counters["loader_jobs"] = fixture.viewer->shownImageLoader().startedJobs();
    }
}
BENCHMARK(BM_ViewerHoldArrow)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
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
    WorkQueues queues;
    AppState appState(queues, dir.filePath(QStringLiteral("r.json")),
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
        queues.processorRetirement().waitForDone(); // not piled up across iterations
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
