#pragma once

#include "imaging/FocusPoints.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <optional>

// Focus areas from the numbers a file gives, as fractions of the picture,
// clipped to it; nothing when the numbers make no area.
class FocusAreaBuilder
{
public:
    // `pixels` in a frame of `frame` pixels; nothing when the frame or the
    // area is empty or not a number, or when the area lies outside the frame.
    static std::optional<FocusArea> inFrame(const QRectF &pixels, QSizeF frame, bool inFocus);
    // The small square that stands for a point given as fractions of a
    // picture of `photo` pixels (square in pixels; any size when unknown).
    static std::optional<FocusArea> aroundPoint(QPointF relative, QSizeF photo, bool inFocus);
};
