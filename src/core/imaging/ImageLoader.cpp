#include "imaging/ImageLoader.h"

#include "imaging/ImageDecoder.h"
#include "imaging/ThumbnailJobQueue.h"
#include "model/WorkQueues.h"

#include <QThread>
#include <cmath>
#include <utility>

ImageLoader::ImageLoader(WorkQueues &shared, QObject *parent)
    : QObject(parent)
    , m_failures(shared.decodeFailures())
    , m_queue(std::make_unique<ThumbnailJobQueue>(&shared.decode()))
{
    ImageDecoder::initialiseLibraries();
    setCacheLimitBytes(defaultCacheLimitBytes);
}

void ImageLoader::setCacheLimitBytes(qint64 bytes)
{
    m_thumbnailCache.setMaxCost(std::max<qint64>(1, bytes / 1024));
}

static qsizetype cacheCost(const QImage &image)
{
    return std::max<qsizetype>(1, image.sizeInBytes() / 1024);
}

ImageLoader::~ImageLoader()
{
    // Jobs not started are dropped; running ones stop soon and post results
    // to this object, which Qt discards with its pending events.
    m_queue->clear();
    m_stopping->store(true);
    m_queue->waitForRunning();
}

bool ImageLoader::wantsSharper(const Cached &cached, qreal maxSize) const
{
    // Made for a smaller cell (another screen's pixel ratio) and limited by
    // that size rather than by the picture's own.
    return cached.requestedSize < maxSize &&
           qMax(cached.image.width(), cached.image.height()) >= std::floor(cached.requestedSize);
}

QFuture<QImage> ImageLoader::loadThumbnail(const ImageItem &item, qreal maxSize)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const QString &path = item.path();
    if (Cached *cached = m_thumbnailCache.object(path)) {
        if (wantsSharper(*cached, maxSize) && !m_inflight.contains(path)) {
            cached->requestedSize = maxSize; // asked once, whatever the outcome
            m_inflight.insert(path, {});
            startJob(path, maxSize);
        }
        return QtFuture::makeReadyFuture(cached->image);
    }

    auto waiter = std::make_shared<QPromise<QImage>>();
    waiter->start();
    QFuture<QImage> future = waiter->future();
    auto inflight = m_inflight.find(path);
    if (inflight != m_inflight.end()) {
        inflight->push_back(std::move(waiter));
        return future;
    }
    m_inflight.insert(path, {std::move(waiter)});
    startJob(path, maxSize);
    return future;
}

ImageLoader::JobResult ImageLoader::runJob(const ThumbnailDiskCache &disk,
                                           DecodeFailureMemory &failures, const QString &path,
                                           qreal maxSize,
                                           const ImageDecoder::InterimHandler &onInterim,
                                           const ImageDecoder::StillWanted &stillWanted)
{
    const ThumbnailDiskCache::Stamp stamp = disk.stampOf(path);
    const int bucket = ThumbnailDiskCache::bucketSide(maxSize);
    if (!stamp.isValid() || bucket == 0)
        return {.image = ImageDecoder::thumbnail(path, maxSize, onInterim, stillWanted, &failures)};

    ThumbnailDiskCache::Lookup found = disk.find(stamp, maxSize);
    if (found.verdict == ThumbnailDiskCache::Verdict::failed)
        return {};
    if (found.verdict == ThumbnailDiskCache::Verdict::hit) {
        // As decoded ones are: a transparent picture keeps its transparency.
        const QImage::Format format =
            found.image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        return {.image = ImageDecoder::scaledToFit(found.image.convertToFormat(format), maxSize)};
    }

    // Decoded at the cache folder's own size, so that file managers reading
    // the entry get the size they expect; for JPEG the DCT scale is mostly
    // the same for both sizes.
    const auto interimFitted = [&](const QImage &interim) {
        if (onInterim)
            onInterim(ImageDecoder::scaledToFit(interim, maxSize));
    };
    const QImage image =
        ImageDecoder::thumbnail(path, bucket, interimFitted, stillWanted, &failures);
    if (!stillWanted())
        return {}; // stopped: no failure to record
    // The stamp was taken before decoding: a file changed meanwhile gets an
    // entry that no longer matches, never a stale one that does.
    if (image.isNull()) {
        disk.recordFailure(stamp);
        return {};
    }
    return {ImageDecoder::scaledToFit(image, maxSize), stamp, image,
            qMax(image.width(), image.height()) < bucket};
}

void ImageLoader::startJob(const QString &path, qreal maxSize)
{
    ++m_decodeJobCount;
    m_queue->push([this, path, maxSize, disk = m_diskCache, &failures = m_failures,
                   stopping = m_stopping] {
        const auto onInterim = [this, path, maxSize](const QImage &interim) {
            QMetaObject::invokeMethod(
                this, [this, path, interim, maxSize] { showInterim(path, interim, maxSize); },
                Qt::QueuedConnection);
        };
        JobResult result = runJob(disk, failures, path, maxSize, onInterim,
                                  [stopping] { return !stopping->load(); });
        QMetaObject::invokeMethod(
            this,
            [this, path, result = std::move(result), maxSize] { finishJob(path, result, maxSize); },
            Qt::QueuedConnection);
    });
}

void ImageLoader::writeEntryLater(const JobResult &result)
{
    if (result.entry.isNull())
        return;
    // Holds only values: it may run after the loader is gone.
    m_queue->pushDeferred([disk = m_diskCache, stamp = result.stamp, entry = result.entry,
                           whole = result.wholePicture] { disk.store(stamp, entry, whole); });
}

void ImageLoader::insertCached(const QString &path, const QImage &image, qreal maxSize)
{
    m_thumbnailCache.insert(path, new Cached{image, maxSize}, cacheCost(image));
}

void ImageLoader::showInterim(const QString &path, const QImage &image, qreal maxSize)
{
    // Only while the job still runs, and only where nothing is shown yet: a
    // file whose thumbnail is cached (the sharp one, or the one a sharper
    // decode is replacing) must not go back to the soft one.
    auto inflight = m_inflight.find(path);
    if (inflight == m_inflight.end() || image.isNull() || m_thumbnailCache.contains(path))
        return;
    // Marked as made for the size asked, so the sharp one is not asked for again.
    insertCached(path, image, maxSize);
    const std::vector<Waiter> waiters = std::exchange(*inflight, {});
    for (const Waiter &waiter : waiters) {
        waiter->addResult(image);
        waiter->finish();
    }
    emit thumbnailReady(path, image);
}

void ImageLoader::finishJob(const QString &path, const JobResult &job, qreal maxSize)
{
    // Leaving the in-flight table and entering the cache happen in one turn
    // of the UI thread, so a request always finds the file in one of them
    // (or, after a failure, in neither).
    const QImage &image = job.image;
    const std::vector<Waiter> waiters = m_inflight.take(path);
    QImage result = image;
    if (!image.isNull())
        insertCached(path, image, maxSize);
    else if (const Cached *shown = m_thumbnailCache.object(path))
        result = shown->image; // the sharp decode failed: keep what is shown
    for (const Waiter &waiter : waiters) {
        waiter->addResult(result);
        waiter->finish();
    }
    emit thumbnailReady(path, result);
    writeEntryLater(job);
}

QFuture<void> ImageLoader::clearThumbnailCache()
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_thumbnailCache.clear();
    return QtFuture::makeReadyFuture();
}

std::optional<QImage> ImageLoader::cachedThumbnail(const QString &path) const
{
    if (const Cached *cached = m_thumbnailCache.object(path))
        return cached->image;
    return std::nullopt;
}

bool ImageLoader::isLoading(const QString &path) const
{
    return m_inflight.contains(path);
}

bool ImageLoader::wouldRefine(const QString &path, qreal maxSize) const
{
    const Cached *cached = m_thumbnailCache.object(path);
    return cached && !m_inflight.contains(path) && wantsSharper(*cached, maxSize);
}

QImage ImageLoader::decodeThumbnail(const QString &path, qreal maxSize)
{
    return ImageDecoder::thumbnail(path, maxSize);
}

void ImageLoader::setDiskCacheRoot(const QString &root)
{
    m_diskCache = ThumbnailDiskCache(root);
}
