#pragma once

#include "model/ImageItem.h"

#include <QCache>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPromise>
#include <QThreadPool>
#include <memory>
#include <optional>
#include <vector>

class ThumbnailJobQueue;

// Thumbnails for the grid, decoded on a thread pool and kept for the rest of
// the run (until clearThumbnailCache()). Lives on the UI thread: its tables
// are read and written only there, decoding jobs hand their results back with
// queued calls, so no lock guards them. Requests for a file already being
// decoded share that job: one decode per file.
class ImageLoader : public QObject
{
    Q_OBJECT

public:
    explicit ImageLoader(QObject *parent = nullptr);
    ~ImageLoader() override;

    // Longer side at most maxSize pixels, never enlarged. The future's result
    // is a null QImage when the file cannot be decoded (never an exception);
    // failures are not cached, so the next request decodes again. A cached
    // thumbnail is returned at once as a finished future, whatever size is
    // asked for. UI thread only.
    QFuture<QImage> loadThumbnail(const ImageItem &item, qreal maxSize);
    // Empties the cache; jobs in flight still store their results. UI thread.
    QFuture<void> clearThumbnailCache();

    // For painting a grid cell without waiting. UI thread only.
    std::optional<QImage> cachedThumbnail(const QString &path) const;
    bool isLoading(const QString &path) const;
    // Decode jobs started since creation (each one a decode of one file).
    int decodeJobCount() const { return m_decodeJobCount; }

    // Synchronous decoding; any thread. Null on failure.
    static QImage decodeThumbnail(const QString &path, qreal maxSize);

    // Worker threads of the decoding pool (default: one per core).
    void setMaxThreadCount(int n);

    // Memory the cached thumbnails may take before the least recently used
    // are dropped (default 1 GiB, about 3,500 thumbnails of 320 pixels).
    void setCacheLimitBytes(qint64 bytes);
    static constexpr qint64 defaultCacheLimitBytes = qint64(1) << 30;

Q_SIGNALS:
    // After each finished job, once its waiters have their result; a null
    // image means the decode failed.
    void thumbnailReady(const QString &path, const QImage &image);

private:
    using Waiter = std::shared_ptr<QPromise<QImage>>;

    void startJob(const QString &path, qreal maxSize);
    void finishJob(const QString &path, const QImage &image);

    // Bounded by memory: a 320-pixel thumbnail takes about 300 KB, so a folder
    // of 100,000 photos would need 30 GB. The least recently used leave first;
    // a cell that asks again later simply decodes again. Cost unit: KiB.
    QCache<QString, QImage> m_thumbnailCache;
    QHash<QString, std::vector<Waiter>> m_inflight;
    int m_decodeJobCount = 0;
    QThreadPool m_pool;
    std::unique_ptr<ThumbnailJobQueue> m_queue;
};
