#pragma once

#include <QByteArray>
#include <QImage>

// Still WebP pictures through libwebp, reduced while decoding: libwebp's
// scaled output writes the reduced rows directly, so a thumbnail of a large
// WebP never allocates the full picture. Animated files are left to Qt.
class WebpDecoder
{
public:
    // Longer side the smallest size that still reaches maxSize (full size
    // for a smaller picture), in the stored orientation, sRGB (the file's
    // ICC profile applied). Null for animations, bad data, a result of more
    // than maxPixels, or more pixels than `data` can hold (DecodeLimits).
    // Any thread.
    static QImage decodeScaled(const QByteArray &data, qreal maxSize, qint64 maxPixels);
};
