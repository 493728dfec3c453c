#include "viewer/ScaledRendition.h"

#include "model/BackgroundTask.h"

#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

ScaledRendition::ScaledRendition(QObject *parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
}

ScaledRendition::~ScaledRendition()
{
    m_pool.waitForDone();
}

void ScaledRendition::request(const QImage &picture, const QRect &sourceRect,
                              const QSize &targetSize)
{
    Request next{picture, sourceRect.intersected(picture.rect()), targetSize};
    if (next.sourceRect.isEmpty() || next.targetSize.isEmpty())
        return;
    if (m_building) {
        m_queued = std::move(next);
        return;
    }
    start(std::move(next));
}

void ScaledRendition::clear()
{
    ++m_generation;
    m_current = {};
    m_queued.reset();
    m_building = false;
}

void ScaledRendition::start(Request request)
{
    m_building = true;
    const quint64 generation = m_generation;
    const qint64 key = request.picture.cacheKey();
    const QRect sourceRect = request.sourceRect;
    BackgroundTask::run(
        &m_pool, this,
        [request = std::move(request)] {
            return resample(request.picture, request.sourceRect, request.targetSize);
        },
        [this, generation, key, sourceRect](const QImage &image) {
            if (generation != m_generation)
                return; // made for a picture no longer shown
            m_building = false;
            m_current = Result{image, key, sourceRect};
            Q_EMIT ready();
            if (m_queued) {
                Request next = std::move(*m_queued);
                m_queued.reset();
                start(std::move(next));
            }
        });
}

void ScaledRendition::adopt(Result result)
{
    clear();
    m_current = std::move(result);
}

QImage ScaledRendition::resample(const QImage &picture, const QRect &r, const QSize &targetSize)
{
    if (picture.depth() % 8 != 0)
        return picture.copy(r).scaled(targetSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // A view into the picture's own pixels: no copy of the region.
    const uchar *first = picture.constBits() + qsizetype(r.y()) * picture.bytesPerLine() +
                         qsizetype(r.x()) * (picture.depth() / 8);
    const QImage region(first, r.width(), r.height(), picture.bytesPerLine(), picture.format());
    return region.scaled(targetSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QSize ScaledRendition::fittedSize(QSize picture, QSizeF view, qreal devicePixelRatio)
{
    if (picture.isEmpty() || view.isEmpty())
        return {};
    const qreal fit = std::min(view.width() / picture.width(), view.height() / picture.height());
    const qreal scale = fit * devicePixelRatio;
    if (scale >= 1.0)
        return {};
    return sizeFor(QRect(QPoint(0, 0), picture), scale);
}

QSize ScaledRendition::sizeFor(const QRect &region, qreal scale)
{
    return QSize(std::max(1, qRound(region.width() * scale)),
                 std::max(1, qRound(region.height() * scale)));
}
