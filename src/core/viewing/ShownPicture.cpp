#include "viewing/ShownPicture.h"

#include "imaging/ImageLoadError.h"
#include "model/WorkQueues.h"
#include "viewing/NeighbourPrefetchCache.h"
#include "viewing/ShownImageLoader.h"

namespace {

QString unknownFailureText()
{
    return ImageLoadError::decodeFailed().errorDescription();
}

} // namespace

ShownPicture::ShownPicture(WorkQueues &queues, QObject *parent)
    : QObject(parent)
    , m_loader(new ShownImageLoader(queues, this))
    , m_prefetch(new NeighbourPrefetchCache(queues, this))
{
    // The loader delivers only what its newest request asked for.
    connect(m_loader, &ShownImageLoader::standInLoaded, this,
            [this](const QUuid &, const ViewPicture &standIn) { showStandIn(standIn); });
    connect(m_loader, &ShownImageLoader::loaded, this,
            [this](const QUuid &, const QImage &image) { finishLoad(image); });
    connect(m_loader, &ShownImageLoader::loadFailed, this,
            [this](const QUuid &, const QString &message) { failLoad(message); });
    connect(m_loader, &ShownImageLoader::decoded, this,
            [this](const QUuid &, const QImage &image) { finishDevelopment(image); });
    connect(m_loader, &ShownImageLoader::decodeFailed, this,
            [this](const QUuid &, const QString &message) { failDevelopment(message); });
    connect(m_loader, &ShownImageLoader::discarded, this, &ShownPicture::staleResultDiscarded);
}

ShownPicture::~ShownPicture() = default;

void ShownPicture::setNeighbourhood(Neighbourhood neighbourhood)
{
    m_neighbourhood = std::move(neighbourhood);
}

void ShownPicture::setView(QSizeF size, qreal devicePixelRatio)
{
    m_viewSize = size;
    m_devicePixelRatio = devicePixelRatio;
    m_prefetch->setView(size, devicePixelRatio);
}

void ShownPicture::show(const ImageItem &item)
{
    if (m_item && *m_item == item)
        return;
    m_item = item;
    start();
}

void ShownPicture::clear()
{
    if (!m_item)
        return;
    m_item.reset();
    m_state = State::empty;
    m_image = {};
    m_standIn = {};
    m_fitted = {};
    m_error.clear();
    m_developing = false;
    m_loader->cancel();
    m_prefetch->clear();
    Q_EMIT changed();
}

void ShownPicture::develop()
{
    // A RAW file whose preview failed may still develop.
    if (!m_item || !m_item->isRAW() || isLoading() || m_developing)
        return;
    m_developing = true;
    Q_EMIT changed();
    m_loader->decodeRAW(*m_item);
}

void ShownPicture::start()
{
    m_state = State::empty;
    m_image = {};
    m_standIn = {};
    m_fitted = {};
    m_error.clear();
    m_developing = false;
    m_prefetch->focusOn(m_neighbourhood ? m_neighbourhood(*m_item) : QList<ImageItem>());

    if (const auto kept = m_prefetch->image(*m_item)) {
        // Whatever the loader still decodes is for an item left behind.
        m_loader->cancel();
        m_fitted = m_prefetch->fittedRendition(*m_item);
        finishLoad(*kept);
        return;
    }
    // Each supersedes whatever the loader has in hand, unless that is this item.
    if (const auto decoding = m_prefetch->decodeOf(*m_item))
        m_loader->follow(*m_item, *decoding, viewPixels());
    else
        m_loader->load(*m_item, viewPixels());
    Q_EMIT changed();
}

QSize ShownPicture::viewPixels() const
{
    return (m_viewSize * m_devicePixelRatio).toSize();
}

void ShownPicture::showStandIn(const ViewPicture &standIn)
{
    m_standIn = standIn;
    m_state = State::standIn;
    Q_EMIT changed();
}

void ShownPicture::finishLoad(const QImage &image)
{
    if (image.isNull()) {
        failLoad(unknownFailureText());
        return;
    }
    m_image = image;
    m_standIn = {};
    m_state = State::full;
    Q_EMIT changed();
    prefetchNeighbours();
}

void ShownPicture::failLoad(const QString &message)
{
    m_error = message;
    m_standIn = {};
    m_state = State::failed;
    Q_EMIT changed();
    prefetchNeighbours();
}

void ShownPicture::finishDevelopment(const QImage &image)
{
    if (image.isNull()) {
        failDevelopment(unknownFailureText());
        return;
    }
    m_image = image;
    m_fitted = {};
    m_error.clear();
    m_state = State::developed;
    m_developing = false;
    Q_EMIT changed();
    Q_EMIT developed();
}

void ShownPicture::failDevelopment(const QString &message)
{
    // The preview stays; the development may be tried again. Without a
    // preview the error shown is the development's.
    if (m_state == State::failed)
        m_error = message;
    m_developing = false;
    Q_EMIT changed();
    Q_EMIT developmentFailed(message);
}

void ShownPicture::prefetchNeighbours()
{
    const QList<ImageItem> wanted = m_neighbourhood ? m_neighbourhood(*m_item) : QList<ImageItem>();
    if (wanted.isEmpty())
        return;
    // The shown picture is kept unless it is a development (not a preview).
    const QImage shown = m_state == State::developed ? QImage() : m_image;
    m_prefetch->retainAndPrefetch(wanted, *m_item, shown);
}
