#pragma once

#include <QColor>
#include <QIcon>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// The pictograms of every screen, drawn as paths so they stay sharp at any
// size and need no image files. UI thread (QIcon/QPixmap).
namespace Symbols {

enum class Symbol {
    StarFill,
    Star,
    ArchiveBox,
    CheckmarkCircleFill,
    Checkmark,
    ShareUp,
    Photo,
    ChevronLeft,
    ChevronRight,
    WarningTriangle,
    Wand,
    // The loupe's controls: a viewfinder (focus areas), diagonal arrows
    // (full screen).
    Viewfinder,
    FullScreen,
    SideBySide, // two frames side by side: compare
    // The culling flags: a pennant on its pole (pick), a diagonal cross (reject).
    Flag,
    Cross,
    Trash, // a bin with its lid: move to the Trash
};

// A five-pointed star filling `box` (centred, point up).
QPainterPath starPath(const QRectF &box);

// Paints `symbol` into `box` in `color`; keeps the painter's state. `weight`
// scales the stroke of the line symbols (chevrons, wand).
void paint(QPainter &painter, Symbol symbol, const QRectF &box, const QColor &color,
           qreal weight = 1.0);

// An icon of `symbol` at `size` logical pixels, for buttons.
QIcon icon(Symbol symbol, const QColor &color, int size);

} // namespace Symbols
