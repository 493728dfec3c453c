#pragma once

#include <QByteArray>
#include <QSize>
#include <memory>

namespace Exiv2 {
class ExifData;
}

// What an exported JPEG carries besides its pixels: the source photo's EXIF
// (camera, lens, exposure, date, GPS, author and the rest of the Exif and GPS
// directories; no thumbnail, no maker notes, no layout of the source's own
// pixels, orientation 1 since exported pixels are upright) and an sRGB colour
// profile, the colour space every decoder here delivers. A value; any thread.
class ExportMetadata
{
public:
    // No EXIF: the profile alone.
    ExportMetadata() = default;
    explicit ExportMetadata(const Exiv2::ExifData &source);

    bool hasExif() const { return bool(m_exif); }

    // The APP1 (Exif) and APP2 (ICC profile) segments, markers included, for a
    // JPEG of `pixelSize`; they go after the JFIF header of the stream.
    QByteArray jpegSegments(QSize pixelSize) const;

    // The sRGB profile written into every export.
    static const QByteArray &srgbProfile();

private:
    std::shared_ptr<const Exiv2::ExifData> m_exif;
};
