#pragma once

#include <QMetaType>
#include <QString>

// Ten display-ready texts read from an image file's metadata. Each is empty
// when the file does not supply the value; nothing downstream parses numbers
// back out of them.
struct EXIFData
{
    QString cameraMake;
    QString cameraModel;
    QString lensModel;
    QString focalLength;  // "50mm"
    QString aperture;     // "f/1.8"
    QString shutterSpeed; // "1/125s", "2.5s"
    QString iso;          // "ISO 100"
    QString dateTaken;    // "2024-05-01"
    QString location;     // "39.9042, -116.4074"
    QString author;

    // Focal length, aperture, shutter speed and ISO, the empty ones left out,
    // joined by two blanks.
    QString parameterLine() const;

    friend bool operator==(const EXIFData &, const EXIFData &) = default;
};

Q_DECLARE_METATYPE(EXIFData)
