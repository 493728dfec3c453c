#pragma once

#include "imaging/ViewPicture.h"
#include "model/ImageItem.h"

#include <QFuture>
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QUuid>
#include <memory>
#include <optional>

class RAWProcessor;
class WorkQueues;

// Full-size pictures of the shown image and its neighbours in the filtered
// list, decoded ahead so that stepping to them shows at once.
//
// Bounds: at most `maxEntries` pictures and `byteBudget()` bytes are kept; a
// picture larger than a third of the budget (about 44 MP at 4 bytes per pixel)
// is never kept. The budget limits what is kept, not what is handed over: a
// finished decode always reaches prefetched(), so a viewer waiting for it
// never decodes the file a second time. At most one prefetch decode runs at a
// time, on the cache's own processor (its own thread), and the viewer starts
// prefetching only after the shown image has loaded, so prefetch never delays
// it. UI thread only.
class NeighbourPrefetchCache : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxEntries = 3;
    static constexpr qint64 defaultByteBudget = qint64(512) << 20;

    // `fitPool` makes the fitted renditions.
    // Decodes with the application's `shared` queues, which outlive it.
    explicit NeighbourPrefetchCache(WorkQueues &shared, QObject *parent = nullptr);
    ~NeighbourPrefetchCache() override;

    // A kept picture of `item`, if any.
    std::optional<QImage> image(const ImageItem &item) const;
    // The kept picture of `item` resampled to fit the view (see setView()),
    // made ahead on the fit pool; null until it is ready.
    QImage fittedRendition(const ImageItem &item) const;
    // The view the pictures will be fitted into.
    void setView(QSizeF size, qreal devicePixelRatio);
    // Whether the cache is decoding `item` right now; prefetched() or
    // prefetchFailed() follows.
    bool isPrefetching(const ImageItem &item) const;
    // The decode of `item` in flight, if any (see isPrefetching()).
    std::optional<QFuture<ViewPicture>> decodeOf(const ImageItem &item) const;

    // Keeps only pictures of `wanted` (the shown image and its neighbours),
    // then decodes those of `wanted` not yet kept, in order, one at a time,
    // except `shown`: it is on screen already. `shownImage`, when valid, is
    // kept as its picture.
    void retainAndPrefetch(const QList<ImageItem> &wanted, const ImageItem &shown,
                           const QImage &shownImage);
    // The viewer moved to a new image: no new prefetch starts until
    // retainAndPrefetch(), and a decode in flight for a picture outside
    // `neighbourhood` stops, so that the shown image decodes alone.
    void focusOn(const QList<ImageItem> &neighbourhood);
    void clear();

    qint64 byteBudget() const { return m_byteBudget; }
    qint64 maxEntryBytes() const { return m_byteBudget / 3; }
    void setByteBudget(qint64 bytes);

    qint64 keptBytes() const;
    int keptCount() const { return int(m_images.size()); }
    // Decodes started so far.
    int startedDecodes() const { return m_startedDecodes; }

Q_SIGNALS:
    void prefetchStarted(const QUuid &id);
    // A neighbour finished decoding; `image` is kept when it fits the budget.
    void prefetched(const QUuid &id, const QImage &image);
    void prefetchFailed(const QUuid &id);

private:
    void keep(const ImageItem &item, const QImage &image);
    void makeFittedRendition(const ImageItem &item, const QImage &image);
    void dropUnkeptRenditions();
    void startNext();

    std::unique_ptr<RAWProcessor> m_processor;
    QHash<QUuid, QImage> m_images;
    QHash<QUuid, QImage> m_fitted; // by item; made from the kept picture
    QThreadPool &m_fitPool;
    QSizeF m_viewSize;
    qreal m_devicePixelRatio = 1.0;
    QList<ImageItem> m_wanted;
    std::optional<ImageItem> m_loadingItem;
    QFuture<ViewPicture> m_loadingJob;
    std::optional<ImageItem> m_shown;
    qint64 m_byteBudget = defaultByteBudget;
    int m_startedDecodes = 0;
};
