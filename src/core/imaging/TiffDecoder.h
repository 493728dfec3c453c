#pragma once

#include <QImage>
#include <QString>

// TIFF pictures that Qt's reader turns down (16 bits per sample stored in
// tiles, for one), read through libtiff's RGBA interface: 8 bits per
// channel, upright by the file's orientation tag, in sRGB (an embedded ICC
// profile is converted). Thread-safe.
class TiffDecoder
{
public:
    // The first picture of the file; null on failure, above maxPixels, or
    // declaring more pixels than the file's size makes plausible.
    static QImage decode(const QString &path, qint64 maxPixels);
};
