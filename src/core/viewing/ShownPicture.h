#pragma once

#include "imaging/ViewPicture.h"
#include "model/ImageItem.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSizeF>
#include <functional>
#include <optional>

class NeighbourPrefetchCache;
class ShownImageLoader;
class WorkQueues;

// One picture on a screen and how it got there: the item asked for, the newest
// request winning over any earlier one, a stand-in then the full picture, the
// RAW development on request, and the neighbours decoded ahead. Several can
// live side by side (one per shown picture); each has its own loader and
// prefetch. No widgets: a screen observes changed() and shows what it finds.
//
// Every result reaches it through its loader, which drops whatever a newer
// request superseded: nothing that arrives belongs to another item.
// UI thread only.
class ShownPicture : public QObject
{
    Q_OBJECT

public:
    enum class State {
        empty,     // no item, or its picture is still on its way
        standIn,   // a reduced decode shows while the full picture decodes
        full,      // the full picture (a RAW file's stored preview)
        developed, // a RAW file developed from its sensor data
        failed,    // the item's picture could not be loaded
    };
    Q_ENUM(State)

    // The items to keep decoded around `shown`: itself first, then those the
    // user is likeliest to step to. Empty: no prefetch.
    using Neighbourhood = std::function<QList<ImageItem>(const ImageItem &shown)>;

    explicit ShownPicture(WorkQueues &queues, QObject *parent = nullptr);
    ~ShownPicture() override;

    void setNeighbourhood(Neighbourhood neighbourhood);
    // The view the picture will be fitted into (for the stand-in's size and
    // the renditions made ahead).
    void setView(QSizeF size, qreal devicePixelRatio);

    // Starts over on `item` unless it is shown already.
    void show(const ImageItem &item);
    // Forgets the item and its neighbours' pictures.
    void clear();
    // The full development of the shown RAW file, once its preview has
    // loaded (or failed).
    void develop();

    State state() const { return m_state; }
    const std::optional<ImageItem> &item() const { return m_item; }
    // Until the full picture (or the failure) is there.
    bool isLoading() const
    {
        return m_item && (m_state == State::empty || m_state == State::standIn);
    }
    bool isDeveloping() const { return m_developing; }
    // The full or developed picture; null before and after a failure.
    const QImage &image() const { return m_image; }
    const ViewPicture &standIn() const { return m_standIn; }
    // The full picture already fitted to the view, when the prefetch made it.
    const QImage &fittedRendition() const { return m_fitted; }
    // Why the load failed (state failed).
    const QString &errorMessage() const { return m_error; }

    NeighbourPrefetchCache &prefetchCache() const { return *m_prefetch; }
    const ShownImageLoader &loader() const { return *m_loader; }

Q_SIGNALS:
    // The state, the picture or the development flag changed.
    void changed();
    void developed();
    void developmentFailed(const QString &message);
    // A result was dropped because a newer request had superseded it.
    void staleResultDiscarded();

private:
    void start();
    void showStandIn(const ViewPicture &standIn);
    void finishLoad(const QImage &image);
    void failLoad(const QString &message);
    void finishDevelopment(const QImage &image);
    void failDevelopment(const QString &message);
    void prefetchNeighbours();
    QSize viewPixels() const;

    ShownImageLoader *m_loader;
    NeighbourPrefetchCache *m_prefetch;
    Neighbourhood m_neighbourhood;
    QSizeF m_viewSize;
    qreal m_devicePixelRatio = 1.0;

    std::optional<ImageItem> m_item;
    State m_state = State::empty;
    QImage m_image;
    ViewPicture m_standIn;
    QImage m_fitted;
    QString m_error;
    bool m_developing = false;
};
