#pragma once

#include "imaging/ImageDecoder.h"
#include "imaging/ThumbnailDiskCache.h"
#include "model/ImageItem.h"

#include <QCache>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPromise>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class DecodeFailureMemory;
class ThumbnailJobQueue;
class WorkQueues;

// Thumbnails for the grid, decoded on a thread pool and kept for the rest of
// the run (until clearThumbnailCache()). Lives on the UI thread: its tables
// are read and written only there, decoding jobs hand their results back with
// queued calls, so no lock guards them. Requests for a file already being
// decoded share that job: one decode per file.
//
// Before decoding, a job looks in the shared per-user thumbnail cache on disk
// (ThumbnailDiskCache), and what it decoded is written there, so a folder
// opened again, here or in a file manager, fills the memory cache cheaply.
// The write waits until the thumbnail has been handed out and no decode is
// pending: it never stands between a decode and the screen. A file that
// failed is recorded there and not decoded again until it changes.
//
// Decodes run on the application's WorkQueues::decode() and remember failed
// files in its decodeFailures(); the queues outlive the loader.
class ImageLoader : public QObject
{
    Q_OBJECT

public:
    explicit ImageLoader(WorkQueues &shared, QObject *parent = nullptr);
    ~ImageLoader() override;

    // Longer side at most maxSize pixels, never enlarged. The future's result
    // is a null QImage when the file cannot be decoded (never an exception);
    // failures are not cached here: the decoder remembers them for the
    // session and the disk cache for good, both until the file changes. A cached thumbnail is
    // returned at once as a finished future, whatever size is asked for; when it was made for a
    // smaller size a sharper one is decoded behind it and announced by thumbnailReady. A quick
    // stored thumbnail too small for maxSize (a camera's 160-pixel EXIF one) is cached and
    // delivered first, and isLoading() stays true until the sharp one replaces it. UI thread only.
    QFuture<QImage> loadThumbnail(const ImageItem &item, qreal maxSize);
    // Empties the cache; jobs in flight still store their results. UI thread.
    QFuture<void> clearThumbnailCache();

    // For painting a grid cell without waiting. UI thread only.
    std::optional<QImage> cachedThumbnail(const QString &path) const;
    bool isLoading(const QString &path) const;
    // True when loadThumbnail(path, maxSize) would start a sharper decode
    // behind the cached thumbnail (one made for a smaller size). UI thread.
    bool wouldRefine(const QString &path, qreal maxSize) const;
    // Decode jobs started since creation (each one a decode of one file).
    int decodeJobCount() const { return m_decodeJobCount; }

    // Synchronous decoding without either cache; any thread. Null on failure.
    static QImage decodeThumbnail(const QString &path, qreal maxSize);

    // Where thumbnails are shared on disk (default: the standard place);
    // an empty root turns the disk cache off. UI thread, before requests.
    void setDiskCacheRoot(const QString &root);

    // Memory the cached thumbnails may take before the least recently used
    // are dropped (default 1 GiB, about 3,500 thumbnails of 320 pixels).
    void setCacheLimitBytes(qint64 bytes);
    static constexpr qint64 defaultCacheLimitBytes = qint64(1) << 30;

Q_SIGNALS:
    // After each finished job, once its waiters have their result, and before
    // that for a quick interim thumbnail; a null image means the decode
    // failed (never sent after an interim one).
    void thumbnailReady(const QString &path, const QImage &image);

private:
    using Waiter = std::shared_ptr<QPromise<QImage>>;

    struct Cached
    {
        QImage image;
        qreal requestedSize = 0;
    };

    // What a job made: the thumbnail to hand out and, when the shared cache
    // lacks it, the entry to write there afterwards.
    struct JobResult
    {
        QImage image;
        ThumbnailDiskCache::Stamp stamp{};
        QImage entry{}; // null: nothing to write
        bool wholePicture = false;
    };

    void startJob(const QString &path, qreal maxSize);
    static JobResult runJob(const ThumbnailDiskCache &disk, DecodeFailureMemory &failures,
                            const QString &path, qreal maxSize,
                            const ImageDecoder::InterimHandler &onInterim,
                            const ImageDecoder::StillWanted &stillWanted);
    void showInterim(const QString &path, const QImage &image, qreal maxSize);
    void finishJob(const QString &path, const JobResult &result, qreal maxSize);
    void writeEntryLater(const JobResult &result);
    void insertCached(const QString &path, const QImage &image, qreal maxSize);
    bool wantsSharper(const Cached &cached, qreal maxSize) const;

    // Bounded by memory: a 320-pixel thumbnail takes about 300 KB, so a folder
    // of 100,000 photos would need 30 GB. The least recently used leave first;
    // a cell that asks again later simply decodes again. Cost unit: KiB.
    QCache<QString, Cached> m_thumbnailCache;
    QHash<QString, std::vector<Waiter>> m_inflight;
    int m_decodeJobCount = 0;
    ThumbnailDiskCache m_diskCache;
    DecodeFailureMemory &m_failures;
    std::unique_ptr<ThumbnailJobQueue> m_queue;
    // Set when the loader goes: running decodes stop at their next band of
    // rows, so that destroying the loader (quitting) waits for none.
    std::shared_ptr<std::atomic<bool>> m_stopping = std::make_shared<std::atomic<bool>>(false);
};
