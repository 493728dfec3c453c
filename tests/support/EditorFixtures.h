#pragma once

#include "export/FrameExportModel.h"
#include "model/ImageItem.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <exiv2/exiv2.hpp>

namespace EditorFixtures {

// The camera EXIF of a test photo; no make, no EXIF at all.
struct Camera
{
    std::string make;
    std::string model;
    std::string lens;
    uint32_t focalLength = 35;   // mm
    uint32_t exposureOver = 500; // 1/500 s
    std::string dateTaken = {};  // "2024:05:01 14:03:22"
};

// A gradient photo: encodes like a picture, and no two rows look alike;
// translucent at one corner in a format with alpha.
inline QImage photo(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor(40, 90, 160, image.hasAlphaChannel() ? 180 : 255));
    gradient.setColorAt(1, QColor(220, 150, 60));
    painter.fillRect(image.rect(), gradient);
    return image;
}

// A JPEG with the camera's EXIF (f/2.8, ISO 200 when a make is given).
inline QString writePhoto(const QString &path, const QSize &size, const Camera &camera = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!photo(size.width(), size.height()).save(path, "JPEG", 90))
        return {};
    if (camera.make.empty())
        return path;
    auto file = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    file->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = camera.make;
    exif["Exif.Image.Model"] = camera.model;
    exif["Exif.Photo.LensModel"] = camera.lens;
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(camera.focalLength, 1);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, camera.exposureOver);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
    if (!camera.dateTaken.empty())
        exif["Exif.Photo.DateTimeOriginal"] = camera.dateTaken;
    file->setExifData(exif);
    file->writeMetadata();
    return path;
}

// A wordmark-like PNG: a dark block of `width` x 40 on transparency.
inline QString writeLogo(const QString &folder, const QString &fileName, int width = 120)
{
    QDir().mkpath(folder);
    QImage logo(width, 40, QImage::Format_ARGB32);
    logo.fill(Qt::transparent);
    QPainter(&logo).fillRect(QRect(4, 4, width - 8, 32), QColor(20, 20, 20));
    const QString path = QDir(folder).filePath(fileName);
    return logo.save(path, "PNG") ? path : QString();
}

inline QString writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(bytes);
    return path;
}

} // namespace EditorFixtures
