#include "imaging/FocusPoints.h"

QList<QRectF> FocusPoints::inPixels(QSizeF size) const
{
    QList<QRectF> rects;
    rects.reserve(areas.size());
    for (const FocusArea &area : areas) {
        const QRectF &r = area.rect;
        rects.append(QRectF(r.x() * size.width(), r.y() * size.height(), r.width() * size.width(),
                            r.height() * size.height()));
    }
    return rects;
}

QPointF FocusPoints::centre() const
{
    QRectF focused;
    QRectF all;
    for (const FocusArea &area : areas) {
        all = all.united(area.rect);
        if (area.inFocus)
            focused = focused.united(area.rect);
    }
    if (!focused.isNull())
        return focused.center();
    if (!all.isNull())
        return all.center();
    return {0.5, 0.5};
}
