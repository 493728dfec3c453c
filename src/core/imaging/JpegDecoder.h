#pragma once

#include "imaging/ViewPicture.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <functional>

// JPEG decoding through libjpeg-turbo (about three times faster than Qt's
// reader at full size), with the EXIF orientation and the embedded ICC
// profile read from the file's own markers.
class JpegDecoder
{
public:
    struct Metadata
    {
        int orientation = 1;
        QByteArray iccProfile;
    };

    enum class Orientation { applyTag, asStored };
    // Asked between bands of rows, with the fraction of rows done, whether
    // the decode is still wanted.
    using KeepGoing = std::function<bool(qreal done)>;

    // Upright (unless asStored), sRGB. Decoded in the DCT domain at one of
    // libjpeg-turbo's scales: maxSize > 0 picks the smallest scale whose
    // longer side still reaches maxSize (full size for a smaller picture);
    // maxSize <= 0 the largest scale that fits maxPixels, so a panorama larger
    // than the limit still decodes, reduced. The limit applies to what is
    // allocated, never to the declared size. Null when the data is not a JPEG
    // libjpeg-turbo decodes into RGB, no scale fits maxPixels, or `keepGoing`
    // said stop.
    static QImage decode(const QByteArray &data, qint64 maxPixels, qreal maxSize = 0,
                         Orientation orientation = Orientation::applyTag,
                         const KeepGoing &keepGoing = {});

    // A quick stand-in for decode(): the picture decoded in the DCT domain at
    // the smallest scale whose result, fitted into `view` (device pixels),
    // still has a pixel for every pixel of the view. Null image when no
    // scale of at most a half does that (the full decode is then about as
    // quick), or when decode() would fail. Upright by `orientation` (EXIF
    // values; 0: the file's own tag): a preview turns as the file holding it.
    static ViewPicture decodeCovering(const QByteArray &data, qint64 maxPixels, QSize view,
                                      const KeepGoing &keepGoing = {}, int orientation = 0);

    // False when a picture declaring more than DecodeLimits::freePixels has
    // fewer bytes than its blocks need at the least (checked before decoding
    // scaled).
    static bool dataCanHold(QSize declared, qint64 dataSize);

    // More scans than any encoder writes (ten are usual, a few dozen rare).
    // Every scan is a pass over the whole picture's coefficients, so a file
    // of empty scans would cost seconds per kilobyte; libjpeg-turbo advises
    // a limit of a few hundred.
    static constexpr int maxScans = 300;
    // False when `data` holds more start-of-scan markers than maxScans or
    // declares more pixels than it can hold (dataCanHold). A quick count over
    // the bytes, for readers that have no progress monitor (Qt's).
    static bool isPlausible(const QByteArray &data);

    // The frame size the data declares; invalid when no frame header is found.
    static QSize declaredSize(const QByteArray &data);

    // The scaled size decode() would allocate; invalid when none fits.
    static QSize decodedSize(QSize declared, qint64 maxPixels, qreal maxSize);

    // Reads the APP1 EXIF orientation and the APP2 ICC chunks; stops at the
    // first scan. Bounds-checked: malformed segments are skipped or end the walk.
    static Metadata readMetadata(const QByteArray &data);
};
