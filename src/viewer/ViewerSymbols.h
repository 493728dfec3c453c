#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>

class QPainter;

// The few symbols the viewer draws (chevrons, warning triangle, wand,
// checkmark, share arrow), painted as vector strokes so they are crisp at any
// scale and need no bundled icon theme.
namespace ViewerSymbols {

enum class Symbol { chevronLeft, chevronRight, warningTriangle, wand, checkmarkCircle, shareArrow };

// Draws `symbol` inside `box`; `weight` scales the stroke width.
void paint(QPainter &painter, Symbol symbol, const QRectF &box, const QColor &color,
           qreal weight = 1.0);
// An icon of `size` device-independent pixels, sharp on HiDPI screens.
QIcon icon(Symbol symbol, const QColor &color, int size);

} // namespace ViewerSymbols
