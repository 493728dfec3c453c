#include "viewing/NeighbourPrefetchCache.h"

#include "imaging/ImageLoadResult.h"
#include "imaging/RAWProcessor.h"
#include "model/BackgroundTask.h"
#include "model/WorkQueues.h"
#include "viewing/Resampler.h"

namespace {

qint64 imageBytes(const QImage &image)
{
    return image.sizeInBytes();
}

} // namespace

NeighbourPrefetchCache::NeighbourPrefetchCache(WorkQueues &shared, QObject *parent)
    : QObject(parent)
    , m_processor(std::make_unique<RAWProcessor>(shared))
    , m_fitPool(shared.renditions())
{}

// The processor lets a running decode finish on its own thread.
NeighbourPrefetchCache::~NeighbourPrefetchCache() = default;

std::optional<QImage> NeighbourPrefetchCache::image(const ImageItem &item) const
{
    const auto found = m_images.constFind(item.id());
    if (found == m_images.cend())
        return std::nullopt;
    return *found;
}

QImage NeighbourPrefetchCache::fittedRendition(const ImageItem &item) const
{
    return m_fitted.value(item.id());
}

void NeighbourPrefetchCache::setView(QSizeF size, qreal devicePixelRatio)
{
    if (size == m_viewSize && devicePixelRatio == m_devicePixelRatio)
        return;
    m_viewSize = size;
    m_devicePixelRatio = devicePixelRatio;
    m_fitted.clear();
}

void NeighbourPrefetchCache::makeFittedRendition(const ImageItem &item, const QImage &image)
{
    const QSize size = Resampler::fittedSize(image.size(), m_viewSize, m_devicePixelRatio);
    if (size.isEmpty() || !m_images.contains(item.id()))
        return;
    const qint64 key = image.cacheKey();
    BackgroundTask::run(
        &m_fitPool, this, [image, size] { return Resampler::resample(image, image.rect(), size); },
        [this, id = item.id(), key, size](const QImage &fitted) {
            // Only for the picture still kept, fitted into the view as it is now.
            const auto kept = m_images.constFind(id);
            if (kept != m_images.cend() && kept->cacheKey() == key &&
                size == Resampler::fittedSize(kept->size(), m_viewSize, m_devicePixelRatio))
                m_fitted.insert(id, fitted);
        });
}

void NeighbourPrefetchCache::dropUnkeptRenditions()
{
    for (auto it = m_fitted.begin(); it != m_fitted.end();)
        it = m_images.contains(it.key()) ? std::next(it) : m_fitted.erase(it);
}

bool NeighbourPrefetchCache::isPrefetching(const ImageItem &item) const
{
    return m_loadingItem && *m_loadingItem == item;
}

std::optional<QFuture<ViewPicture>> NeighbourPrefetchCache::decodeOf(const ImageItem &item) const
{
    if (!isPrefetching(item))
        return std::nullopt;
    return m_loadingJob;
}

void NeighbourPrefetchCache::retainAndPrefetch(const QList<ImageItem> &wanted,
                                               const ImageItem &shown, const QImage &shownImage)
{
    m_wanted = wanted;
    m_shown = shown;
    for (auto it = m_images.begin(); it != m_images.end();) {
        const bool stillWanted =
            std::any_of(wanted.cbegin(), wanted.cend(),
                        [&](const ImageItem &item) { return item.id() == it.key(); });
        it = stillWanted ? std::next(it) : m_images.erase(it);
    }
    dropUnkeptRenditions();
    if (!shown.isNull() && !shownImage.isNull())
        keep(shown, shownImage);
    if (!m_loadingItem)
        startNext();
}

void NeighbourPrefetchCache::focusOn(const QList<ImageItem> &neighbourhood)
{
    m_wanted.clear();
    if (m_loadingItem && !neighbourhood.contains(*m_loadingItem))
        m_loadingJob.cancel();
}

void NeighbourPrefetchCache::clear()
{
    // A decode in flight goes on: re-entering the viewer on its image waits
    // for it rather than decoding the file again.
    m_wanted.clear();
    m_images.clear();
    m_fitted.clear();
    m_shown.reset();
}

void NeighbourPrefetchCache::setByteBudget(qint64 bytes)
{
    m_byteBudget = bytes;
    m_images.clear();
    m_fitted.clear();
}

qint64 NeighbourPrefetchCache::keptBytes() const
{
    qint64 total = 0;
    for (const QImage &image : m_images)
        total += imageBytes(image);
    return total;
}

void NeighbourPrefetchCache::keep(const ImageItem &item, const QImage &image)
{
    const qint64 bytes = imageBytes(image);
    if (bytes > maxEntryBytes() || m_images.contains(item.id()))
        return;
    // Room is made by dropping pictures that are no longer wanted first; the
    // wanted ones are all within the budget by construction (3 x a third).
    while (!m_images.isEmpty() &&
           (m_images.size() >= maxEntries || keptBytes() + bytes > m_byteBudget))
        m_images.erase(m_images.begin());
    m_images.insert(item.id(), image);
    dropUnkeptRenditions();
}

void NeighbourPrefetchCache::startNext()
{
    // A viewer handling prefetched() may have started the next one already.
    if (m_loadingItem)
        return;
    const auto next =
        std::find_if(m_wanted.cbegin(), m_wanted.cend(), [this](const ImageItem &item) {
            return item != m_shown && !m_images.contains(item.id());
        });
    if (next == m_wanted.cend())
        return;
    const ImageItem item = *next;
    m_loadingItem = item;
    ++m_startedDecodes;
    // Announced before the job starts, so a queued receiver hears of it
    // before its result can arrive.
    Q_EMIT prefetchStarted(item.id());
    m_loadingJob = m_processor->loadForView(item.path(), QSize());
    BackgroundTask::whenFinished(m_loadingJob, this, [this, item](QFuture<ViewPicture> done) {
        m_loadingItem.reset();
        m_loadingJob = {};
        // A job that failed counts as cancelled too (its future holds the
        // error): only one that delivered nothing was stopped.
        const ImageLoadResult result = ImageLoadResult::from(done);
        if (!result.succeeded() && !result.failed()) { // no longer a neighbour
            startNext();
            return;
        }
        // A neighbour that cannot be decoded is loaded (and reported) by the
        // viewer when the user gets there.
        const QImage image = result.image;
        if (image.isNull()) {
            m_wanted.removeAll(item);
            Q_EMIT prefetchFailed(item.id());
            startNext();
            return;
        }
        if (m_wanted.contains(item)) {
            keep(item, image);
            makeFittedRendition(item, image);
        }
        // Kept, or too large to keep: either way not decoded again for this
        // neighbourhood.
        m_wanted.removeAll(item);
        Q_EMIT prefetched(item.id(), image);
        startNext();
    });
}
