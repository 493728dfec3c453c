#include "imaging/ImageLoader.h"

#include "imaging/ImageDecoder.h"
#include "imaging/ThumbnailJobQueue.h"

#include <QThread>

ImageLoader::ImageLoader(QObject *parent)
    : QObject(parent)
    , m_queue(std::make_unique<ThumbnailJobQueue>(&m_pool))
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
    // Jobs not started are dropped; running ones finish and post results to
    // this object, which Qt discards with its pending events.
    m_queue->clear();
    m_pool.waitForDone();
}

QFuture<QImage> ImageLoader::loadThumbnail(const ImageItem &item, qreal maxSize)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const QString &path = item.path();
    if (const QImage *cached = m_thumbnailCache.object(path))
        return QtFuture::makeReadyFuture(*cached);

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

void ImageLoader::startJob(const QString &path, qreal maxSize)
{
    ++m_decodeJobCount;
    m_queue->push([this, path, maxSize] {
        const QImage image = decodeThumbnail(path, maxSize);
        QMetaObject::invokeMethod(
            this, [this, path, image] { finishJob(path, image); }, Qt::QueuedConnection);
    });
}

void ImageLoader::finishJob(const QString &path, const QImage &image)
{
    // Leaving the in-flight table and entering the cache happen in one turn
    // of the UI thread, so a request always finds the file in one of them
    // (or, after a failure, in neither).
    const std::vector<Waiter> waiters = m_inflight.take(path);
    if (!image.isNull())
        m_thumbnailCache.insert(path, new QImage(image), cacheCost(image));
    for (const Waiter &waiter : waiters) {
        waiter->addResult(image);
        waiter->finish();
    }
    emit thumbnailReady(path, image);
}

QFuture<void> ImageLoader::clearThumbnailCache()
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_thumbnailCache.clear();
    return QtFuture::makeReadyFuture();
}

std::optional<QImage> ImageLoader::cachedThumbnail(const QString &path) const
{
    if (const QImage *cached = m_thumbnailCache.object(path))
        return *cached;
    return std::nullopt;
}

bool ImageLoader::isLoading(const QString &path) const
{
    return m_inflight.contains(path);
}

QImage ImageLoader::decodeThumbnail(const QString &path, qreal maxSize)
{
    return ImageDecoder::thumbnail(path, maxSize);
}

void ImageLoader::setMaxThreadCount(int n)
{
    m_pool.setMaxThreadCount(n);
}
