#pragma once

#include <QImage>
#include <QString>

// The thumbnails and previews a file carries besides its main picture: the
// EXIF thumbnail of a JPEG, the preview JPEGs of a camera RAW file. Exiv2 lists
// them for every container it reads; LibRaw is asked when Exiv2 finds none
// (CR3 and other files this Exiv2 cannot parse).
class StoredPreviews
{
public:
    // Among several, the smallest whose longer side reaches maxSize, else the
    // largest; maxSize <= 0 asks for the largest. A JPEG preview is decoded
    // reduced towards maxSize (never below it), so the result may be larger
    // than maxSize and the caller scales. The result is upright in the
    // orientation of the file's main picture, and in sRGB. Null when the file
    // has no usable preview. LibRaw is consulted only for camera RAW files.
    // Any thread.
    enum class Source { exiv2Only, exiv2ThenLibRaw };
    static QImage load(const QString &path, qreal maxSize, qint64 maxPixels, Source source);

    // The largest preview of a camera RAW file when it is one JPEG stream:
    // its bytes as stored, and the orientation of the file's main picture
    // (0 when unknown), so that the caller can decode it as it likes (a quick
    // reduced stand-in first, for one). Empty bytes otherwise; load() then
    // still finds what can be shown. Any thread.
    struct JpegPreview
    {
        QByteArray jpeg;
        int orientation = 0;
    };
    static JpegPreview largestJpeg(const QString &path);

private:
    static QImage loadWithExiv2(const QString &path, qreal maxSize, qint64 maxPixels,
                                int *orientation);
    static QImage loadWithLibRaw(const QString &path, qreal maxSize, qint64 maxPixels,
                                 int *orientation);
};
