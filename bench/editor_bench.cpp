// The export editor's two speeds: from a settings change on a 24 MP photo to
// the new preview image (the 80 ms debounce left out), and batch export
// throughput over twenty 24 MP JPEG files.
#include "export/FrameExportModel.h"
#include "export/FrameExporter.h"
#include "export/LogoCatalogue.h"
#include "export/PreviewScheduler.h"
#include "imaging/RAWProcessor.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

QImage photo24MP()
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 4000);
    sky.setColorAt(0, QColor(250, 220, 140));
    sky.setColorAt(1, QColor(40, 90, 110));
    painter.fillRect(image.rect(), sky);
    painter.setBrush(QColor(30, 70, 80));
    painter.drawEllipse(QPoint(2000, 4200), 3000, 1800);
    return image;
}

EXIFData cameraExif()
{
    EXIFData exif;
    exif.cameraMake = QStringLiteral("FUJIFILM");
    exif.cameraModel = QStringLiteral("X-T5");
    exif.lensModel = QStringLiteral("XF33mmF1.4 R LM WR");
    exif.focalLength = QStringLiteral("35mm");
    exif.aperture = QStringLiteral("f/2.8");
    exif.shutterSpeed = QStringLiteral("1/500s");
    exif.iso = QStringLiteral("ISO 200");
    return exif;
}

// Calls `start`, then runs the event loop until `signal` of `sender` fires
// (which may already happen inside `start`).
template <typename Sender, typename Signal, typename Start>
void runUntil(Sender *sender, Signal signal, Start start)
{
    QEventLoop loop;
    bool fired = false;
    QObject::connect(sender, signal, &loop, [&] {
        fired = true;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    start();
    if (!fired)
        loop.exec();
}

// Arg 0: mode frame; 1: both with a tiled text watermark.
void BM_PreviewUpdate24MP(benchmark::State &state)
{
    FrameExportModel model;
    WorkQueues queues;
    PreviewScheduler scheduler(model, queues.background());
    // A 1100 x 720 editor on a 2x screen: the preview area in device pixels.
    scheduler.setPreviewBound({1536, 1536});
    model.setSourceImage(photo24MP());
    model.setExifData(cameraExif());
    model.setSelectedBrand(QStringLiteral("Fujifilm"));
    model.setRightMainText(cameraExif().parameterLine());
    if (state.range(0) == 1) {
        model.setEditMode(EditMode::both);
        WatermarkConfig config = model.watermark();
        config.kind = WatermarkConfig::Kind::tiled;
        model.setWatermark(config);
    }
    // The first render also makes the scaled copy.
    runUntil(&scheduler, &PreviewScheduler::previewUpdated, [&] { scheduler.updatePreview(); });

    int edit = 0;
    for (auto _ : state) {
        runUntil(&scheduler, &PreviewScheduler::previewUpdated, [&] {
            model.setRightMainText(QStringLiteral("35mm  f/2.8  1/%1s").arg(500 + (++edit % 2)));
            scheduler.updatePreview(); // what the debounce's timeout does
        });
    }
    state.counters["preview_px"] = double(model.previewImage().width());
}
BENCHMARK(BM_PreviewUpdate24MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FirstPreview24MP(benchmark::State &state)
{
    const QImage source = photo24MP();
    for (auto _ : state) {
        FrameExportModel model;
        WorkQueues queues;
        PreviewScheduler scheduler(model, queues.background());
        scheduler.setPreviewBound({1536, 1536});
        model.setExifData(cameraExif());
        model.setSourceImage(source.copy(0, 0, 6000, 4000)); // a new image: no cached copy
        runUntil(&scheduler, &PreviewScheduler::previewUpdated, [&] { scheduler.updatePreview(); });
    }
}
BENCHMARK(BM_FirstPreview24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_BatchExport20(benchmark::State &state)
{
    constexpr int count = 20;
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("DSCF0000.jpg"));
    photo24MP().save(first, "JPEG", 92);
    QList<ImageItem> items;
    for (int i = 0; i < count; ++i) {
        const QString path =
            dir.filePath(QStringLiteral("DSCF%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
        if (i > 0)
            QFile::copy(first, path);
        items << ImageItem(path);
    }
    WorkQueues queues;
    AppState appState(queues, dir.filePath(QStringLiteral("ratings.json")),
                      dir.filePath(QStringLiteral("settings.ini")));
    RAWProcessor raw(queues);
    for (auto _ : state) {
        state.PauseTiming();
        QDir(dir.filePath(QStringLiteral("图片边框"))).removeRecursively();
        FrameExportModel model;
        FrameExporter exporter(model, appState, raw);
        model.setExifData(cameraExif());
        model.setSelectedBrand(QStringLiteral("Fujifilm"));
        model.setEditMode(EditMode::both);
        model.setSourceImage(QImage(first));
        model.startBatch(items);
        state.ResumeTiming();
        runUntil(&exporter, &FrameExporter::finished, [&] { exporter.batchExport(); });
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["toast"] =
        appState.toastMessage() == FrameExporter::batchResultMessage(count, count);
}
BENCHMARK(BM_BatchExport20)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
