#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QSize>
#include <QString>
#include <optional>

// The shooting settings of one photo as numbers, for sorting and grouping
// (EXIFData holds the display texts). A value the file does not supply is
// empty: an empty text, an empty optional or an invalid size. Texts come with
// their white space simplified.
struct ShootingData
{
    enum class TimeSource {
        capture,      // DateTimeOriginal, with its sub-seconds and offset when stored
        fileModified, // no usable capture time: the file's modification time
    };

    QDateTime captureTime;
    TimeSource timeSource = TimeSource::fileModified;
    QDateTime fileModified; // the file's own modification time
    QString cameraMake;
    QString cameraModel;
    QString lens;
    std::optional<double> focalLength;  // millimetres
    std::optional<double> aperture;     // f-number
    std::optional<double> exposureTime; // seconds
    std::optional<int> iso;
    QSize pixelSize; // as displayed: width and height swapped for a quarter turn
    // The camera's frame counter within a burst, from the maker notes.
    std::optional<int> burstSequence;

    // The camera as people name it: the model, led by the maker's first word
    // when the model does not already start with it ("NIKON CORPORATION" +
    // "NIKON D70" -> "NIKON D70", "SONY" + "ZV-E10" -> "SONY ZV-E10"). Empty
    // when the file names no camera.
    QString cameraName() const;

    friend bool operator==(const ShootingData &, const ShootingData &) = default;
};

Q_DECLARE_METATYPE(ShootingData)
