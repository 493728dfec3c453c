#pragma once

#include <QImage>
#include <QRectF>

// EXIF orientation (1-8) applied to decoded pixels, so that every picture that
// leaves the imaging module is upright.
class ImageOrientation
{
public:
    // Values outside 1-8 leave the image unchanged.
    static QImage apply(const QImage &image, int exifOrientation);
    // LibRaw's sizes.flip (0, 3, 5, 6) as an EXIF orientation.
    static int fromLibRawFlip(int flip);
    // A rectangle of the stored picture, as fractions of its size, in the
    // upright picture (fractions of the upright size). Values outside 1-8
    // leave it unchanged.
    static QRectF applyToRelative(const QRectF &stored, int exifOrientation);
    // True for the orientations that swap width and height.
    static bool swapsAxes(int exifOrientation)
    {
        return exifOrientation >= 5 && exifOrientation <= 8;
    }
};
