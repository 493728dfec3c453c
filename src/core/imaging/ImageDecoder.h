#pragma once

#include "imaging/ViewPicture.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

class DecodeFailureMemory;
class QThreadPool;
class WorkQueues;

// The one decoding facade of the program: every format the folder scanner
// admits decodes here. Qt's image plugins (JPEG, PNG, GIF, BMP, TIFF, WebP,
// ICO, SVG), libheif (HEIC, HEIF, AVIF), LibRaw and Exiv2 (camera RAW and
// stored previews), libtiff (TIFFs Qt turns down). Results are always upright
// and in sRGB. Thread-safe: call from any thread except for long work on the
// UI thread. Given a DecodeFailureMemory (the application's is
// WorkQueues::decodeFailures()), a file that failed is not decoded again
// until it changes.
class ImageDecoder
{
public:
    // No decode allocates a picture of more pixels than this (decompression
    // bombs); 100-megapixel photos pass at full size. A JPEG that declares
    // more still decodes, reduced in the DCT domain below the limit.
    static constexpr qint64 maxPixels = 200'000'000;

    // Asked while a picture decodes whether its result is still wanted; a
    // decode told no stops and gives a null image. Any thread.
    using StillWanted = std::function<bool()>;

    // Called from inside thumbnail() with a quick but too small picture (a
    // stored EXIF thumbnail, a small RAW preview), before the sharp one is
    // decoded; scaled like the result. Runs on the decoding thread.
    using InterimHandler = std::function<void(const QImage &)>;

    // Longer side maxSize (at most; never enlarged), sharp: a stored thumbnail
    // or preview is used when it reaches maxSize; a smaller one goes to
    // onInterim and the picture is then decoded at reduced size (JPEG in the
    // DCT domain, a RAW file without a large enough preview developed at half
    // size). Null when nothing decodes.
    // A JPEG, PNG or RAW decode stops when `stillWanted` says no (between
    // bands of rows, between scans, inside LibRaw).
    static QImage thumbnail(const QString &path, qreal maxSize,
                            const InterimHandler &onInterim = {},
                            const StillWanted &stillWanted = {},
                            DecodeFailureMemory *failures = nullptr);

    // The full picture, or for a camera RAW file its largest stored preview
    // (developed from the sensor data when it has none).
    // Throws ImageLoadError: sourceCreationFailed when the file cannot be
    // opened, decodeFailed when no bitmap results.
    static QImage fullImage(const QString &path, DecodeFailureMemory *failures = nullptr);

    // Receives a stand-in before the full picture is decoded; returns
    // whether the full picture is still wanted.
    using StandInReady = std::function<bool(const ViewPicture &)>;
    // fullImage(path), and for a JPEG much larger than `view` (device
    // pixels), or a RAW file whose largest preview is such a JPEG, a quick
    // reduced decode, made on `shared.standIns()` (the full
    // decode joins it once it is most of the way) and handed to
    // `standInReady` there, before this returns. When
    // that or `stillWanted` says no, the JPEG decode stops and the result is
    // a null image. Both callbacks must be thread-safe. Failures are
    // remembered in `shared.decodeFailures()`.
    static QImage fullImage(const QString &path, QSize view, const StandInReady &standInReady,
                            const StillWanted &stillWanted, WorkQueues &shared);

    // `image` shrunk, smoothly, to a longer side of at most maxSize; never
    // enlarged.
    static QImage scaledToFit(const QImage &image, qreal maxSize);

    // Process-wide library settings (Qt's allocation limit, Exiv2's BMFF
    // support and quiet logging). Idempotent and thread-safe; every entry
    // point calls it.
    static void initialiseLibraries();

private:
    static QImage readWithQt(const QString &path, qreal maxSize);
    static QImage jpegThumbnail(const QString &path, qreal maxSize, const InterimHandler &onInterim,
                                const StillWanted &stillWanted);
    static QImage rawThumbnail(const QString &path, qreal maxSize, const InterimHandler &onInterim,
                               const StillWanted &stillWanted);
    static QImage heifThumbnail(const QString &path, qreal maxSize,
                                const InterimHandler &onInterim);
    static QImage webpThumbnail(const QString &path, qreal maxSize);
    static QImage pngThumbnail(const QString &path, qreal maxSize, const StillWanted &stillWanted);
    // A JPEG stream turned by `orientation` (0: its own tag), with a stand-in
    // first (on `standInPool`) as fullImage() says; nullopt when no longer
    // wanted.
    static std::optional<QImage> jpegForView(const QByteArray &data, int orientation, QSize view,
                                             const StandInReady &standInReady,
                                             const StillWanted &stillWanted,
                                             QThreadPool *standInPool);
    static QImage fullImage(const QString &path, QSize view, const StandInReady &standInReady,
                            const StillWanted &stillWanted, QThreadPool *standInPool,
                            DecodeFailureMemory *failures);
    // `stored` when it reaches maxSize; otherwise it goes to onInterim (unless
    // it is a mere stub) and `decodeSharper` makes the result, `stored` kept
    // when that gives nothing.
    static QImage refinedThumbnail(const QImage &stored, qreal maxSize,
                                   const InterimHandler &onInterim,
                                   const std::function<QImage()> &decodeSharper);
};
