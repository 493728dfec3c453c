// The thumbnail grid at scale: a star filter change, a sort by capture time and
// a filter by camera over 100,000 images, the
// painting of a screenful of cells, and a fling from the top to the end of
// 10,000 24-megapixel JPEGs until every cell on screen has its thumbnail.
#include "BenchCorpus.h"
#include "browse/ThumbnailCell.h"
#include "browse/ThumbnailGridView.h"
#include "browse/ThumbnailListModel.h"
#include "browse/ThumbnailListView.h"
#include "imaging/ImageLoader.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "state/ImageListPipeline.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimeZone>
#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

constexpr int kFilterImages = 100000;
constexpr int kFlingImages = 10000;
constexpr int kFlingDistinctPictures = 8;

// 100,000 items (no files needed) with a fifth of them rated, so each star
// filter keeps a few thousand.
struct LargeLibrary
{
    QTemporaryDir dir;
    WorkQueues queues;
    std::unique_ptr<AppState> state;

    LargeLibrary()
    {
        QJsonObject ratings;
        QList<ImageItem> items;
        items.reserve(kFilterImages);
        for (int i = 0; i < kFilterImages; ++i) {
            const QString path = QStringLiteral("/photos/day%1/IMG_%2.jpg").arg(i / 200).arg(i);
            items << ImageItem(path);
            if (i % 5 == 0)
                ratings.insert(path, 1 + (i / 5) % 5);
        }
        QFile file(dir.path() + QStringLiteral("/ratings.json"));
        file.open(QIODevice::WriteOnly);
        file.write(QJsonDocument(ratings).toJson(QJsonDocument::Compact));
        file.close();
        state = std::make_unique<AppState>(queues, file.fileName(), dir.path() + "/settings.ini");
        state->setImages(items);
    }
};

void waitUntil(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A photo-like 24 MP picture: gradients, hills and noise, so it encodes like one.
QImage photoLike(int index, QSize size = QSize(6000, 4000))
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator noise(quint32(index + 1));
    const int hue = (index * 53) % 360;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int h = image.height(), w = image.width();
        const QColor sky = QColor::fromHsv(hue, 80 + y * 120 / h, 240 - y * 100 / h);
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(noise.bounded(12)) - 6;
            const bool hill =
                y > h * 6 / 10 + int(h / 13.0 * std::sin((x + index * w / 8.0) * 10.0 / w));
            const QRgb base = hill ? qRgb(40 + x % 60, 110 + (x / 90) % 40, 50) : sky.rgb();
            line[x] = qRgb(std::clamp(qRed(base) + n, 0, 255), std::clamp(qGreen(base) + n, 0, 255),
                           std::clamp(qBlue(base) + n, 0, 255));
        }
    }
    return image;
}

// 10,000 distinct paths of 24 MP JPEGs: a few real encodes, the rest hard
// links to them (the loader caches by path, so every path is decoded).
QString flingCorpus()
{
    const QString root = BenchCorpus::corpusRoot() + QStringLiteral("/grid-24mp");
    const QString done = root + QStringLiteral("/.complete");
    const QString photos = root + QStringLiteral("/photos");
    if (QFileInfo::exists(done))
        return photos;
    QDir(root).removeRecursively();
    QDir().mkpath(root + QStringLiteral("/originals"));
    QStringList originals;
    for (int i = 0; i < kFlingDistinctPictures; ++i) {
        const QString path = root + QStringLiteral("/originals/source_%1.jpg").arg(i);
        photoLike(i).save(path, "JPEG", 90);
        originals << path;
    }
    QDir().mkpath(photos);
    for (int i = 0; i < kFlingImages; ++i) {
        const QString link = photos + QStringLiteral("/DSC_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
        const QByteArray from = QFile::encodeName(originals[i % originals.size()]);
        if (::link(from.constData(), QFile::encodeName(link).constData()) != 0)
            QFile::copy(originals[i % originals.size()], link);
    }
    QFile(done).open(QIODevice::WriteOnly);
    return photos;
}

} // namespace

static void BM_FilterChange100k(benchmark::State &bench)
{
    LargeLibrary library;
    ThumbnailListModel model(*library.state);
    int stars = 3;
    for (auto _ : bench) {
        library.state->setStarFilter(stars);
        benchmark::DoNotOptimize(model.rowCount());
        stars = stars == 3 ? 4 : 3;
    }
    bench.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_FilterChange100k)->Unit(benchmark::kMillisecond);

// The same change on a grid on screen: refilter, model reset, the view's
// layout of every row and the repaint of the screen.
static void BM_FilterChange100kOnScreen(benchmark::State &bench)
{
    LargeLibrary library;
    ThumbnailGridView grid(*library.state);
    grid.resize(1200, 800);
    grid.show();
    int stars = 0;
    for (auto _ : bench) {
        library.state->setStarFilter(stars);
        grid.listView().viewport()->repaint();
        stars = stars == 0 ? 4 : 0;
    }
}
BENCHMARK(BM_FilterChange100kOnScreen)->Unit(benchmark::kMillisecond);

// 100,000 items in the list pipeline with shooting data for each: capture
// times over a year in shuffled order (several cameras interleaved, as two
// shooters' cards copied into one folder), five cameras and a lens per camera.
// The lookup is a hash of paths, as the shooting-data index keeps them.
struct ShotLibrary
{
    QThreadPool discards;
    QHash<QString, ShootingData> shots;
    QList<ImageItem> items;
    std::unique_ptr<ImageListPipeline> list;

    ShotLibrary()
    {
        const QStringList cameras{"Canon EOS R5", "Canon EOS R6", "NIKON Z 8", "ILCE-7M4", "X-T5"};
        QRandomGenerator random(7);
        const QDateTime start(QDate(2024, 1, 1), QTime(8, 0), QTimeZone(3600));
        items.reserve(kFilterImages);
        shots.reserve(kFilterImages);
        for (int i = 0; i < kFilterImages; ++i) {
            const QString path = QStringLiteral("/photos/day%1/IMG_%2.jpg").arg(i / 200).arg(i);
            items << ImageItem(path);
            ShootingData data;
            data.captureTime =
                start.addMSecs(qint64(random.bounded(365 * 86400)) * 1000 + random.bounded(1000));
            data.timeSource = ShootingData::TimeSource::capture;
            data.cameraModel = cameras[i % cameras.size()];
            data.lens = QStringLiteral("Lens %1").arg(i % cameras.size());
            shots.insert(path, data);
        }
        list = std::make_unique<ImageListPipeline>(
            [](const QString &) { return 0; }, discards, FlagFilterStep::MarkLookup(),
            [this](const QString &path) -> const ShootingData * {
                const auto found = shots.constFind(path);
                return found == shots.cend() ? nullptr : &*found;
            });
        list->setImages(items);
    }
};

// Sorting 100,000 images by capture time, ascending and descending in turn
// (the UI thread's share: the pipeline; the grid's model reset after it is
// BM_FilterChange100k's). Counter first_ms: the folder's first such sort.
static void BM_SortByCaptureTime100k(benchmark::State &bench)
{
    ShotLibrary library;
    // The first sort of a folder looks its keys up; later ones reuse them.
    QElapsedTimer first;
    first.start();
    library.list->setSortOrder({SortOrder::Key::captureTime, true});
    bench.counters["first_ms"] = double(first.nsecsElapsed()) / 1e6;
    bool descending = false;
    for (auto _ : bench) {
        library.list->setSortOrder({SortOrder::Key::captureTime, descending});
        benchmark::DoNotOptimize(library.list->filteredImages().constData());
        descending = !descending;
    }
}
BENCHMARK(BM_SortByCaptureTime100k)->Unit(benchmark::kMillisecond);

// Filtering 100,000 images by one camera, alternating between two.
static void BM_FilterByCamera100k(benchmark::State &bench)
{
    ShotLibrary library;
    bool first = true;
    for (auto _ : bench) {
        library.list->setShootingFilter(ImageListPipeline::ShootingField::camera,
                                        first ? QStringLiteral("Canon EOS R5")
                                              : QStringLiteral("X-T5"));
        benchmark::DoNotOptimize(library.list->filteredImages().constData());
        first = !first;
    }
    bench.counters["rows"] = double(library.list->filteredImages().size());
}
BENCHMARK(BM_FilterByCamera100k)->Unit(benchmark::kMillisecond);

// 60 cells (a 6 x 10 screen) with cached thumbnails painted by the delegate
// into an image. `cold` paints with a fresh delegate each time, so every
// tile is scaled from its 320-pixel thumbnail first.
static void paintScreenful(benchmark::State &bench, bool cold)
{
    const QString folder = BenchCorpus::corpusRoot() + QStringLiteral("/grid-screenful");
    if (!QFileInfo::exists(folder + QStringLiteral("/.complete"))) {
        QDir().mkpath(folder);
        for (int i = 0; i < 60; ++i)
            photoLike(i, QSize(1500, 1000)).save(folder + QStringLiteral("/IMG_%1.jpg").arg(i));
        QFile(folder + QStringLiteral("/.complete")).open(QIODevice::WriteOnly);
    }
    QTemporaryDir stores;
    WorkQueues queues;
    AppState state(queues, stores.path() + "/ratings.json", stores.path() + "/settings.ini");
    QFuture<void> opened = state.openFolder(QUrl::fromLocalFile(folder), false);
    waitUntil([&] { return opened.isFinished(); });
    for (int i = 0; i < state.images().size(); i += 3)
        state.updateRating(1 + i % 5, state.images()[i]);
    for (int i = 0; i < state.images().size(); i += 4)
        state.toggleSelection(state.images()[i].id());
    ThumbnailListModel model(state);
    for (const ImageItem &item : state.images())
        state.imageLoader().loadThumbnail(item, ThumbnailListModel::thumbnailSize);
    waitUntil([&] {
        return std::all_of(state.images().cbegin(), state.images().cend(),
                           [&](const ImageItem &item) {
                               return state.imageLoader().cachedThumbnail(item.path()).has_value();
                           });
    });

    const QSize slot = ThumbnailCell::slotSize(160);
    QImage canvas(slot.width() * 6, slot.height() * 10, QImage::Format_ARGB32_Premultiplied);
    QStyleOptionViewItem option;
    option.palette = QApplication::palette();
    auto delegate = std::make_unique<ThumbnailCell>(model);
    for (auto _ : bench) {
        if (cold)
            delegate = std::make_unique<ThumbnailCell>(model);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        for (int row = 0; row < 60; ++row) {
            option.rect = QRect(QPoint((row % 6) * slot.width(), (row / 6) * slot.height()), slot);
            delegate->paint(&painter, option, model.index(row));
        }
        painter.end();
        benchmark::DoNotOptimize(canvas.constBits());
    }
}

static void BM_PaintScreenful(benchmark::State &bench)
{
    paintScreenful(bench, false);
}
BENCHMARK(BM_PaintScreenful)->Unit(benchmark::kMillisecond);

static void BM_PaintScreenfulFreshTiles(benchmark::State &bench)
{
    paintScreenful(bench, true);
}
BENCHMARK(BM_PaintScreenfulFreshTiles)->Unit(benchmark::kMillisecond);

// Open 10,000 24 MP JPEGs, show the top of the grid, jump to the end at once
// and time until every cell on screen there has its thumbnail. The requests
// of the top screen are still in flight when the jump happens.
static void BM_FlingToEnd(benchmark::State &bench)
{
    const QString folder = flingCorpus();
    QTemporaryDir stores;
    WorkQueues queues;
    AppState state(queues, stores.path() + "/ratings.json", stores.path() + "/settings.ini");
    ThumbnailGridView grid(state);
    grid.resize(1200, 800);
    grid.show();
    ThumbnailListView &view = grid.listView();
    ThumbnailListModel &model = grid.model();
    int visibleCells = 0;
    const QString sharedCache = qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails";
    for (auto _ : bench) {
        QDir(sharedCache).removeRecursively(); // every visible cell is decoded
        QFuture<void> opened = state.openFolder(QUrl::fromLocalFile(folder), false);
        waitUntil([&] { return opened.isFinished(); });
        if (model.rowCount() != kFlingImages) {
            bench.SkipWithError("the fling corpus did not open");
            return;
        }
        view.verticalScrollBar()->setValue(0);
        view.viewport()->repaint(); // the top screen asks for its thumbnails

        QElapsedTimer timer;
        timer.start();
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        view.viewport()->repaint();
        QList<int> visible;
        for (int row = model.rowCount() - 1; row >= 0; --row) {
            const QRect rect = view.visualRect(model.index(row));
            if (rect.bottom() < 0)
                break;
            if (rect.intersects(view.viewport()->rect()))
                visible << row;
        }
        waitUntil([&] {
            return std::all_of(visible.cbegin(), visible.cend(), [&](int row) {
                return state.imageLoader().cachedThumbnail(model.item(row).path()).has_value();
            });
        });
        bench.SetIterationTime(timer.nsecsElapsed() / 1e9);
        visibleCells = int(visible.size());
    }
    bench.counters["visibleCells"] = visibleCells;
    bench.counters["images"] = model.rowCount();
}
BENCHMARK(BM_FlingToEnd)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

int main(int argc, char **argv)
{
    // The shared thumbnail cache of these runs is a temporary one, never the user's.
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
