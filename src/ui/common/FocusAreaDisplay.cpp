#include "common/FocusAreaDisplay.h"

#include "common/FocusAreaOverlay.h"
#include "viewing/FocusPointCache.h"

FocusAreaDisplay::FocusAreaDisplay(ZoomableImageView &view, FocusPointCache &cache, QObject *parent)
    : QObject(parent)
    , m_cache(cache)
    , m_overlay(new FocusAreaOverlay(view))
{
    m_overlay->hide();
    connect(&m_cache, &FocusPointCache::ready, this, [this](const QString &path) {
        if (path != m_path)
            return;
        update();
        reportWhenMissing();
    });
}

void FocusAreaDisplay::setPath(const QString &path)
{
    if (path == m_path)
        return;
    m_path = path;
    if (!path.isEmpty())
        m_cache.request(path);
    update();
    reportWhenMissing();
}

void FocusAreaDisplay::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    update();
    reportWhenMissing();
}

std::optional<FocusPoints> FocusAreaDisplay::focusPoints() const
{
    if (m_path.isEmpty())
        return std::nullopt;
    return m_cache.find(m_path);
}

QPointF FocusAreaDisplay::loupeCentre() const
{
    const std::optional<FocusPoints> points = focusPoints();
    return points ? points->centre() : QPointF(0.5, 0.5);
}

void FocusAreaDisplay::update()
{
    const std::optional<FocusPoints> points = m_shown ? focusPoints() : std::nullopt;
    m_overlay->setFocusPoints(points.value_or(FocusPoints()));
    m_overlay->setVisible(points && !points->isEmpty());
}

void FocusAreaDisplay::reportWhenMissing()
{
    const std::optional<FocusPoints> points = focusPoints();
    if (m_shown && points && points->isEmpty())
        Q_EMIT focusPointsMissing();
    else if (m_shown && points)
        Q_EMIT focusPointsDrawn();
}
