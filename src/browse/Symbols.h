#pragma once

#include <QColor>
#include <QIcon>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// The few pictograms the browsing screens use, drawn as paths so they stay
// sharp at any size and need no image files. UI thread (QIcon/QPixmap).
namespace Symbols {

enum class Symbol { StarFill, Star, ArchiveBox, CheckmarkCircleFill, Checkmark, ShareUp, Photo };

// A five-pointed star filling `box` (centred, point up).
QPainterPath starPath(const QRectF &box);

// Paints `symbol` into `box` in `color`; keeps the painter's state.
void paint(QPainter &painter, Symbol symbol, const QRectF &box, const QColor &color);

// An icon of `symbol` at `size` logical pixels, for buttons.
QIcon icon(Symbol symbol, const QColor &color, int size);

} // namespace Symbols
