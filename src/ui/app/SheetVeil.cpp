#include "app/SheetVeil.h"

#include <QPainter>

namespace {
const QColor veilColour(0, 0, 0, 64); // black at 25 %
} // namespace

SheetVeil::SheetVeil(QWidget *parent)
    : OverlayWidget(parent)
{
    hide();
    updatePlacement();
}

void SheetVeil::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), veilColour);
}
