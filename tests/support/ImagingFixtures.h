#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <exiv2/exiv2.hpp>
#include <functional>

// Test pictures generated in code. Colours are chosen far apart so that lossy
// compression cannot turn one into another.
namespace ImagingFixtures {

// A landscape picture in four coloured quadrants: red top-left, green
// top-right, blue bottom-left, white bottom-right.
QImage quadrantPicture(int width, int height);

// The stored pixels a camera would write for `upright` with EXIF orientation
// n, built from the tag's definition (where row 0 and column 0 lie).
QImage storedForOrientation(const QImage &upright, int orientation);

// Quadrant colours of a decoded picture match the upright pattern.
bool hasUprightQuadrants(const QImage &image, int tolerance = 40);
bool colourNear(QColor actual, QColor expected, int tolerance);
QColor colourAtFraction(const QImage &image, qreal fx, qreal fy);

// `bytes` as the whole of the file at `path`; false when it cannot be written.
bool writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);

QString writeJpeg(const QString &path, const QImage &image, int quality = 90);
QString writePng(const QString &path, const QImage &image);
// A JPEG of one colour written row by row, so that a picture of hundreds of
// megapixels costs one row of memory; plain colour compresses to little.
bool writePlainJpeg(const QString &path, int width, int height, QColor colour);
// Adds EXIF written by Exiv2 to an existing file.
void editExif(const QString &path, const std::function<void(Exiv2::ExifData &)> &edit);
QByteArray jpegBytes(const QImage &image, int quality = 90);

// HEIC (HEVC) or AVIF (AV1) through libheif. orientation is written as the
// container's rotation/mirroring; exifOrientation, when non-zero, as an EXIF
// block with that Orientation tag (which decoders must not apply again),
// Make "HeifCam" and FNumber 2.8.
// nclxPrimaries: 1 = sRGB/BT.709, 12 = Display P3. An ICC profile, when
// given, is stored as well (as phones do).
bool writeHeif(const QString &path, const QImage &image, bool avif, int orientation = 1,
               int exifOrientation = 0, int nclxPrimaries = 1, int thumbnailSize = 0,
               const QByteArray &iccProfile = {});

// A HEIC laid out like an iPhone photo since iOS 18, as far as libheif writes
// the parts: a primary picture with a stored thumbnail of thumbnailSize, an
// auxiliary image (here an opaque alpha plane; on the phone, the HDR gain map)
// linked to both the primary picture and a 'tmap' item, which is derived from
// the two. The primary picture is a single image, not a grid of tiles.
bool writeGainMapHeic(const QString &path, const QImage &image, int thumbnailSize);

// An RGB TIFF of 16 bits per sample in square tiles of tileSide pixels.
bool writeTiledTiff16(const QString &path, const QImage &image, int tileSide);

// A small uncompressed Bayer DNG (RGGB, 16-bit) of a flat scene, with an
// embedded JPEG preview in IFD0 and the raw data in a SubIFD.
// sensorFraction < 1 stores only that part of the sensor data (a file cut
// short inside its raw data, the directories still intact).
bool writeDng(const QString &path, int width, int height, const QImage &preview,
              int orientation = 1, double sensorFraction = 1.0);

QString samplesDir();
QString sample(const QString &relativePath);

} // namespace ImagingFixtures
