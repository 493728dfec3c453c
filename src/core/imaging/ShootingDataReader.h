#pragma once

#include "imaging/ShootingData.h"

#include <QString>

namespace Exiv2 {
class ExifData;
}

// Reads ShootingData with one Exiv2 open of the file (HEIC/AVIF through
// EXIFReader's route). Never throws: unreadable files and missing, wrongly
// typed or out-of-range values give empty fields. Any thread; blocking file
// input on the caller's thread.
class ShootingDataReader
{
public:
    ShootingDataReader() = delete;

    static ShootingData read(const QString &path);
    // read() for a caller that has already looked at the file: `fileModified`
    // stands in for a missing capture time. Only the metadata is parsed; no
    // display text is formatted.
    static ShootingData read(const QString &path, const QDateTime &fileModified);
    // The values `exif` holds; `fileModified` stands in for a missing capture time.
    static ShootingData fromExif(const Exiv2::ExifData &exif, const QDateTime &fileModified);
    // "2024:05:01 13:45:10" with optional sub-second digits ("07" = 70 ms) and
    // offset ("+09:00"); invalid when the date and time do not parse.
    static QDateTime captureTime(const QString &dateTime, const QString &subSeconds,
                                 const QString &offset);
};
