#pragma once

#include <QImage>

// EXIF orientation (1-8) applied to decoded pixels, so that every picture that
// leaves the imaging module is upright.
class ImageOrientation
{
public:
    // Values outside 1-8 leave the image unchanged.
    static QImage apply(const QImage &image, int exifOrientation);
    // LibRaw's sizes.flip (0, 3, 5, 6) as an EXIF orientation.
    static int fromLibRawFlip(int flip);
    // True for the orientations that swap width and height.
    static bool swapsAxes(int exifOrientation)
    {
        return exifOrientation >= 5 && exifOrientation <= 8;
    }
};
