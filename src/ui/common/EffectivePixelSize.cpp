#include "common/EffectivePixelSize.h"

QSizeF effectivePixelSize(const QImage &image)
{
    if (image.width() >= 1 && image.height() >= 1)
        return QSizeF(image.size());
    return image.deviceIndependentSize();
}
