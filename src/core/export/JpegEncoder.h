#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>

// Baseline JPEG encoding through libjpeg-turbo (4:2:0, accurate DCT), reading
// 32-bit Qt images in place. Alpha is not written: premultiplied pixels are
// encoded as they are stored, i.e. as if composited over black.
class JpegEncoder
{
public:
    JpegEncoder() = delete;

    // quality 0...1 maps to libjpeg's 1...100. `segments` (complete APPn
    // segments, e.g. Exif and ICC) are placed right after the JFIF header.
    // Empty on failure or null image.
    static QByteArray encode(const QImage &image, double quality, QByteArrayView segments = {});
};
