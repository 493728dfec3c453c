#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// HEIC, HEIF and AVIF through libheif. The container's rotation and mirroring
// are the orientation (libheif applies them); an EXIF orientation tag inside
// the file is not applied again. Colour comes from the ICC or nclx profile.
class HeifDecoder
{
public:
    // maxSize > 0: a stored thumbnail (the smallest reaching maxSize, else the
    // largest) when the file has one, else the primary picture; the caller
    // scales. maxSize <= 0: the primary picture at full size. Upright, sRGB;
    // null on failure or when the picture declares more than maxPixels.
    // `isThumbnail`, when given, tells which of the two the result is.
    static QImage decode(const QString &path, qreal maxSize, qint64 maxPixels,
                         bool *isThumbnail = nullptr);

    // The EXIF block of the primary picture (TIFF header first), or empty.
    static QByteArray exifBlock(const QString &path);
    // The primary picture's size as decode() shows it (the container's
    // rotation applied); empty when the file cannot be read.
    static QSize shownSize(const QString &path);
};
