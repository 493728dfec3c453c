// The first screenful as a user meets it: the real main window, 1200 x 800,
// opens a folder of 100 distinct 24-megapixel JPEGs without stored
// thumbnails, with an empty shared thumbnail cache, and the time runs until
// every cell on screen has been painted with its sharp thumbnail.
//
// The floor is TurboJPEG's own scaled decode of one of these files, measured
// here, times the cells on screen, shared by the decode threads; floor_ratio
// says how far the window stays above it. /dpr:2 is the same window on a
// screen of device pixel ratio 2 (an offscreen screen configured for it).
#include "BenchCorpus.h"
#include "app/DetailArea.h"
#include "app/ImportFlow.h"
#include "app/MainWindow.h"
#include "browse/ThumbnailCell.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListModel.h"
#include "browse/ThumbnailListView.h"
#include "common/Theme.h"
#include "imaging/ImageLoader.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QSet>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

namespace {

constexpr int kPhotos = 100;
constexpr int kTimeoutMs = 120000;

// Paints through the grid's own cell and notes every row painted with its
// sharp thumbnail (cached, no sharper decode still running); says when all
// of the rows it waits for have been.
class ShownCells : public QStyledItemDelegate
{
public:
    ShownCells(ThumbnailCell &cell, ThumbnailListModel &model, ImageLoader &loader,
               std::function<void()> onAllShown, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_cell(cell)
        , m_model(model)
        , m_loader(loader)
        , m_onAllShown(std::move(onAllShown))
    {}

    void waitFor(const QSet<int> &rows)
    {
        m_waiting = rows - m_shown;
        if (m_waiting.isEmpty())
            m_onAllShown();
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        m_cell.paint(painter, option, index);
        const QString &path = m_model.item(index.row()).path();
        if (!m_loader.cachedThumbnail(path) || m_loader.isLoading(path))
            return;
        m_shown.insert(index.row());
        if (m_waiting.remove(index.row()) && m_waiting.isEmpty())
            m_onAllShown();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return m_cell.sizeHint(option, index);
    }

private:
    ThumbnailCell &m_cell;
    ThumbnailListModel &m_model;
    ImageLoader &m_loader;
    std::function<void()> m_onAllShown;
    mutable QSet<int> m_shown;
    mutable QSet<int> m_waiting;
};

// TurboJPEG's decode at 1/8 scale of `path`, as BM_LibjpegScaledDecode makes
// it: the median of a few, in milliseconds.
double scaledDecodeMs(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray jpeg = file.readAll();
    const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
    tjhandle tj = tjInitDecompress();
    const tjscalingfactor eighth{1, 8};
    std::vector<double> times;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        tjDecompressHeader3(tj, data, jpeg.size(), &width, &height, &subsampling, &colourspace);
        QImage image(TJSCALED(width, eighth), TJSCALED(height, eighth), QImage::Format_RGB32);
        tjDecompress2(tj, data, jpeg.size(), image.bits(), image.width(), int(image.bytesPerLine()),
                      image.height(), TJPF_BGRX, 0);
        benchmark::DoNotOptimize(image.constBits());
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    tjDestroy(tj);
    std::nth_element(times.begin(), times.begin() + 3, times.end());
    return times[3];
}

QSet<int> visibleRows(const ThumbnailListView &view, const ThumbnailListModel &model)
{
    QSet<int> rows;
    for (int row = 0; row < model.rowCount(); ++row)
        if (view.visualRect(model.index(row)).intersects(view.viewport()->rect()))
            rows.insert(row);
    return rows;
}

QScreen *screenOfRatio(qreal ratio)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    const auto found = std::find_if(screens.cbegin(), screens.cend(), [ratio](QScreen *screen) {
        return qFuzzyCompare(screen->devicePixelRatio(), ratio);
    });
    return found == screens.cend() ? nullptr : *found;
}

void firstScreenfulWindow(benchmark::State &bench, qreal ratio)
{
    const QString folder = BenchCorpus::distinct24MP(kPhotos);
    QScreen *screen = screenOfRatio(ratio);
    if (!screen) {
        bench.SkipWithError("no screen of that device pixel ratio");
        return;
    }
    const QString sharedCache = ThumbnailDiskCache::standardRoot();
    const double decodeMs = scaledDecodeMs(folder + QStringLiteral("/DSC_0000.jpg"));
    int cells = 0;
    int threads = 1;
    double totalMs = 0;
    for (auto _ : bench) {
        QDir(sharedCache).removeRecursively();
        QTemporaryDir stores;
        WorkQueues queues;
        threads = queues.decode().maxThreadCount();
        AppState state(queues, stores.filePath(QStringLiteral("ratings.json")),
                       stores.filePath(QStringLiteral("settings.ini")));
        MainWindow window(state);
        window.setScreen(screen);
        window.move(screen->geometry().topLeft());
        window.resize(1200, 800);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            bench.SkipWithError("the window was not shown");
            return;
        }

        ThumbnailListView &view = window.detailArea()->gridView()->listView();
        ThumbnailListModel &model = window.detailArea()->gridView()->model();
        QEventLoop loop;
        auto *shown = new ShownCells(
            view.cell(), model, state.imageLoader(),
            [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); },
            &view);
        view.setItemDelegate(shown);
        QSet<int> visible;
        QObject::connect(&state, &AppState::filteredImagesChanged, &loop, [&] {
            // After the view's own reset and layout: a queued look at what is on screen.
            QTimer::singleShot(0, &loop, [&] {
                if (model.rowCount() == 0)
                    return;
                visible = visibleRows(view, model);
                shown->waitFor(visible);
            });
        });
        QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);

        QElapsedTimer timer;
        timer.start();
        window.importFlow().openFolder(QUrl::fromLocalFile(folder));
        loop.exec();
        const double elapsedMs = double(timer.nsecsElapsed()) / 1e6;
        if (visible.isEmpty() || elapsedMs >= kTimeoutMs) {
            bench.SkipWithError("the screenful did not fill");
            return;
        }
        bench.SetIterationTime(elapsedMs / 1e3);
        totalMs += elapsedMs;
        cells = int(visible.size());
        view.setItemDelegate(&view.cell());
    }
    const double meanMs = totalMs / double(bench.iterations());
    bench.counters["cells"] = cells;
    bench.counters["ms_per_cell"] = meanMs / cells;
    bench.counters["decode_ms"] = decodeMs;
    bench.counters["threads"] = threads;
    bench.counters["floor_ratio"] = meanMs / (cells * decodeMs / threads);
}

// Two offscreen screens side by side, of device pixel ratio 1 and 2.
QString writeScreensConfig(const QTemporaryDir &dir)
{
    QJsonArray screens;
    for (int ratio : {1, 2}) {
        screens.append(QJsonObject{{"name", QStringLiteral("dpr%1").arg(ratio)},
                                   {"x", (ratio - 1) * 1920},
                                   {"y", 0},
                                   {"width", 1920},
                                   {"height", 1200},
                                   {"logicalDpi", 96},
                                   {"logicalBaseDpi", 96},
                                   {"dpr", ratio}});
    }
    const QString path = dir.filePath(QStringLiteral("screens.json"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(QJsonObject{{"screens", screens}}).toJson());
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    // The shared thumbnail cache of these runs is a temporary one, never the user's.
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == QLatin1String("offscreen"))
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" + writeScreensConfig(cacheHome).toLocal8Bit());
    QApplication app(argc, argv);
    Theme::applyToApplication(app);
    // The window's placement and the folder history stay out of the user's settings.
    QStandardPaths::setTestModeEnabled(true);
    benchmark::RegisterBenchmark("BM_FirstScreenfulWindow", firstScreenfulWindow, 1.0)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("BM_FirstScreenfulWindow/dpr:2", firstScreenfulWindow, 2.0)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
