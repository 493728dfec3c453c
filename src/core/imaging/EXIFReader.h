#pragma once

#include "imaging/EXIFData.h"

#include <QString>

namespace Exiv2 {
class ExifData;
}

// Reads the display texts of EXIFData from a file's metadata with Exiv2 (no
// pixels are decoded). HEIC/AVIF metadata comes through Exiv2's BMFF support,
// or from libheif's EXIF block when Exiv2 cannot parse the container.
class EXIFReader
{
public:
    // Never fails: unreadable files and missing or wrongly typed values give
    // empty fields. Any thread; blocking file input on the caller's thread.
    static EXIFData read(const QString &path);
    // read() that also hands over the metadata as Exiv2 read it (empty when
    // the file has none), so a caller that copies it opens the file once.
    static EXIFData read(const QString &path, Exiv2::ExifData *metadata);

    // The EXIF block libheif hands out of a HEIC or AVIF file whose container
    // Exiv2 cannot parse; false for other files and when there is none.
    static bool readHeifExifBlock(const QString &path, Exiv2::ExifData *exif);

    // The formatting rules, exposed for the values that do not come from a file.
    static QString formatFocalLength(double millimetres);
    static QString formatAperture(double fNumber);
    static QString formatShutterSpeed(double seconds);
    static QString formatDate(const QString &dateTimeOriginal);

private:
    static EXIFData fromExif(const Exiv2::ExifData &exif);
    // "lat, lon" with S/W negated; empty unless all four GPS values are valid.
    static QString parseGPS(const Exiv2::ExifData &exif);
};
