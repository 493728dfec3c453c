#include "imaging/ImageOrientation.h"

#include <QTransform>

QImage ImageOrientation::apply(const QImage &image, int exifOrientation)
{
    if (image.isNull())
        return image;
    // Orientation n: how the stored pixels must be turned to be seen upright.
    switch (exifOrientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.transformed(QTransform().rotate(180));
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.mirrored(true, false).transformed(QTransform().rotate(270));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

int ImageOrientation::fromLibRawFlip(int flip)
{
    switch (flip) {
    case 3:
        return 3;
    case 5:
        return 8;
    case 6:
        return 6;
    default:
        return 1;
    }
}
