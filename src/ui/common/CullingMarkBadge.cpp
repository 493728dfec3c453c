#include "common/CullingMarkBadge.h"

#include "common/BrowseStyle.h"
#include "common/Symbols.h"

#include <QPainter>

QPixmap CullingMarkBadge::pixmap(const CullingMark &mark, int height, qreal ratio)
{
    if (mark.isEmpty())
        return QPixmap();
    const int glyph = height, dot = 8, spacing = 6;
    QPixmap pixmap(QSize(spacing + glyph + spacing + dot, height) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    qreal left = spacing;
    if (mark.flag != CullingFlag::none) {
        const bool rejected = mark.flag == CullingFlag::reject;
        Symbols::paint(painter, rejected ? Symbols::Symbol::Cross : Symbols::Symbol::Flag,
                       QRectF(left, 0, glyph, glyph), QColor(255, 255, 255, 204));
        left += glyph + spacing;
    }
    if (mark.label != ColourLabel::none) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(BrowseStyle::labelColor(mark.label));
        painter.drawEllipse(QRectF(left, (height - dot) / 2.0, dot, dot));
    }
    return pixmap;
}
