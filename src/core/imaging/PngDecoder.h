#pragma once

#include <QImage>
#include <QString>
#include <functional>

// Non-interlaced PNG through libpng, reduced while reading: rows are read one
// at a time and averaged into blocks as they arrive, so a thumbnail of a large
// PNG holds a few rows of the source, never the whole picture (Qt's reader
// decodes the full picture before it scales).
class PngDecoder
{
public:
    // Longer side at least maxSize (reduced by a whole factor; the caller
    // scales the rest), sRGB (the file's ICC profile applied). Null for
    // interlaced files, bad data, a picture declaring more than maxPixels or
    // more than its file can hold (DecodeLimits), or when `stillWanted`,
    // asked between bands of rows, says no. Any thread.
    static QImage decodeScaled(const QString &path, qreal maxSize, qint64 maxPixels,
                               const std::function<bool()> &stillWanted = {});
};
