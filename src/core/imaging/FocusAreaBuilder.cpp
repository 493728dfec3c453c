#include "imaging/FocusAreaBuilder.h"

#include <algorithm>
#include <cmath>

namespace {

// A camera that reports a point rather than an area gets a square this
// fraction of the picture's short side: about one AF point of a DSLR's
// viewfinder grid, visible at fit without hiding the subject.
constexpr double pointSide = 1.0 / 20.0;

} // namespace

std::optional<FocusArea> FocusAreaBuilder::inFrame(const QRectF &pixels, QSizeF frame, bool inFocus)
{
    if (!(frame.width() > 0 && frame.height() > 0) || !(pixels.width() > 0) ||
        !(pixels.height() > 0))
        return std::nullopt;
    const QRectF relative(pixels.x() / frame.width(), pixels.y() / frame.height(),
                          pixels.width() / frame.width(), pixels.height() / frame.height());
    if (!std::isfinite(relative.x()) || !std::isfinite(relative.y()) ||
        !std::isfinite(relative.right()) || !std::isfinite(relative.bottom()))
        return std::nullopt;
    const QRectF clipped = relative.intersected(QRectF(0, 0, 1, 1));
    if (!(clipped.width() > 0) || !(clipped.height() > 0))
        return std::nullopt;
    return FocusArea{clipped, inFocus};
}

std::optional<FocusArea> FocusAreaBuilder::aroundPoint(QPointF relative, QSizeF photo, bool inFocus)
{
    if (!std::isfinite(relative.x()) || !std::isfinite(relative.y()) || relative.x() < 0 ||
        relative.x() > 1 || relative.y() < 0 || relative.y() > 1)
        return std::nullopt;
    QSizeF side(pointSide, pointSide);
    if (photo.width() > 0 && photo.height() > 0) {
        const double pixels = pointSide * std::min(photo.width(), photo.height());
        side = QSizeF(pixels / photo.width(), pixels / photo.height());
    }
    const QRectF square(relative.x() - side.width() / 2, relative.y() - side.height() / 2,
                        side.width(), side.height());
    return inFrame(square, QSizeF(1, 1), inFocus);
}
