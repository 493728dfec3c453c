#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <exiv2/exiv2.hpp>
#include <functional>

// Test pictures generated in code, in colours lossy compression cannot confuse.
namespace ImagingFixtures {

// Red top-left, green top-right, blue bottom-left, white bottom-right.
QImage quadrantPicture(int width, int height);
// The pixels a camera stores for `upright` with EXIF orientation n.
QImage storedForOrientation(const QImage &upright, int orientation);
// Landscape, and its quadrants match the upright pattern.
bool hasUprightQuadrants(const QImage &image, int tolerance = 40);
bool colourNear(QColor actual, QColor expected, int tolerance);
QImage filled(QSize size, QColor colour, QImage::Format format = QImage::Format_RGB32);

bool writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);
QString writeJpeg(const QString &path, const QImage &image, int quality = 90);
// Written row by row: hundreds of megapixels cost one row of memory.
bool writePlainJpeg(const QString &path, int width, int height, QColor colour);
void editExif(const QString &path, const std::function<void(Exiv2::ExifData &)> &edit);
void setExifOrientation(const QString &path, int orientation);
// One EXIF or maker-note entry as Exiv2 reads it from text ("8/1000", "3200 6400").
struct ExifTag
{
    const char *key;
    Exiv2::TypeId type;
    const char *value;
};
// Adds `tags` to the EXIF of the file at `path`.
void addExifTags(const QString &path, const QList<ExifTag> &tags);
QByteArray jpegBytes(const QImage &image, int quality = 90);

// HEIC or AVIF: orientation in the container; a non-zero exifOrientation in an
// EXIF block (Make "HeifCam", FNumber 2.8) decoders must not apply again.
// nclxPrimaries: 1 = sRGB, 12 = Display P3.
bool writeHeif(const QString &path, const QImage &image, bool avif, int orientation = 1,
               int exifOrientation = 0, int nclxPrimaries = 1, int thumbnailSize = 0,
               const QByteArray &iccProfile = {});
// A HEIC laid out like an iPhone photo since iOS 18: a stored thumbnail, and an
// auxiliary image linked to the primary picture and to a 'tmap' item.
bool writeGainMapHeic(const QString &path, const QImage &image, int thumbnailSize);
bool writeTiledTiff16(const QString &path, const QImage &image, int tileSide);
// An RGGB 16-bit DNG of a flat scene with a JPEG preview; sensorFraction < 1
// stores only that part of the sensor data.
bool writeDng(const QString &path, int width, int height, const QImage &preview,
              int orientation = 1, double sensorFraction = 1.0);

QString sample(const QString &relativePath);

} // namespace ImagingFixtures
