#pragma once

#include <QPointF>
#include <QRectF>

// The frame and watermark geometry is written in a y-up system with the origin
// at the bottom-left corner of the bitmap; QPainter is y-down with the origin at
// the top-left. This is the only place where the two meet: every y-up point,
// rectangle or angle passes through it on its way to QPainter.
class YUpCanvas
{
public:
    // height: the pixel height of the bitmap (or tile) the coordinates refer to.
    explicit YUpCanvas(qreal height)
        : m_height(height)
    {}

    qreal height() const { return m_height; }

    QPointF point(qreal x, qreal y) const { return {x, m_height - y}; }
    QRectF rect(qreal x, qreal y, qreal w, qreal h) const { return {x, m_height - y - h, w, h}; }

    // An angle that turns counter-clockwise in y-up turns clockwise in y-down:
    // QPainter::rotate wants the negated angle.
    static qreal painterDegrees(qreal yUpDegrees) { return -yUpDegrees; }

    // Bounds measured by Qt relative to a baseline origin (y grows downwards)
    // as a y-up box relative to the same origin.
    static QRectF yUpBounds(const QRectF &yDownBounds)
    {
        return {yDownBounds.x(), -yDownBounds.bottom(), yDownBounds.width(), yDownBounds.height()};
    }

private:
    qreal m_height;
};
