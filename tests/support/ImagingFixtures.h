#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <exiv2/exiv2.hpp>
#include <functional>

// Test pictures generated in code, in colours far enough apart that lossy
// compression cannot turn one into another.
namespace ImagingFixtures {

// Four coloured quadrants: red top-left, green top-right, blue bottom-left,
// white bottom-right.
QImage quadrantPicture(int width, int height);
// The pixels a camera stores for `upright` with EXIF orientation n, built from
// the tag's definition (where row 0 and column 0 lie).
QImage storedForOrientation(const QImage &upright, int orientation);
// A decoded picture is landscape and its quadrants match the upright pattern.
bool hasUprightQuadrants(const QImage &image, int tolerance = 40);
bool colourNear(QColor actual, QColor expected, int tolerance);
QImage filled(QSize size, QColor colour, QImage::Format format = QImage::Format_RGB32);

// `bytes` as the whole file at `path`; false when it cannot be written.
bool writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);
QString writeJpeg(const QString &path, const QImage &image, int quality = 90);
// One colour written row by row: hundreds of megapixels cost one row of memory.
bool writePlainJpeg(const QString &path, int width, int height, QColor colour);
// Adds EXIF written by Exiv2 to an existing file.
void editExif(const QString &path, const std::function<void(Exiv2::ExifData &)> &edit);
void setExifOrientation(const QString &path, int orientation);
QByteArray jpegBytes(const QImage &image, int quality = 90);

// HEIC (HEVC) or AVIF (AV1) through libheif. orientation goes into the
// container's rotation/mirroring; a non-zero exifOrientation into an EXIF block
// (which decoders must not apply again) with Make "HeifCam" and FNumber 2.8.
// nclxPrimaries: 1 = sRGB/BT.709, 12 = Display P3; an ICC profile, when given,
// is stored as well (as phones do).
bool writeHeif(const QString &path, const QImage &image, bool avif, int orientation = 1,
               int exifOrientation = 0, int nclxPrimaries = 1, int thumbnailSize = 0,
               const QByteArray &iccProfile = {});
// A HEIC laid out like an iPhone photo since iOS 18, as far as libheif writes
// the parts: a single-image primary picture with a stored thumbnail, and an
// auxiliary image (on the phone, the HDR gain map; here an opaque alpha plane)
// linked to the primary picture and to a 'tmap' item derived from the two.
bool writeGainMapHeic(const QString &path, const QImage &image, int thumbnailSize);
// An RGB TIFF of 16 bits per sample in square tiles of tileSide pixels.
bool writeTiledTiff16(const QString &path, const QImage &image, int tileSide);
// A small uncompressed RGGB 16-bit DNG of a flat scene, with a JPEG preview in
// IFD0 and the raw data in a SubIFD. sensorFraction < 1 stores only that part
// of the sensor data (a file cut short, its directories intact).
bool writeDng(const QString &path, int width, int height, const QImage &preview,
              int orientation = 1, double sensorFraction = 1.0);

QString samplesDir();
QString sample(const QString &relativePath);

} // namespace ImagingFixtures
