#include "imaging/InFileRatingReader.h"

#include "imaging/ImageDecoder.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <exiv2/exiv2.hpp>

namespace {

std::optional<int> xmpRating(const Exiv2::XmpData &xmp)
{
    const auto it = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.Rating"));
    if (it == xmp.end())
        return std::nullopt;
    return InFileRatingReader::ratingFromText(QString::fromStdString(it->toString()));
}

std::optional<int> exifRating(const Exiv2::ExifData &exif)
{
    const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Rating"));
    if (it == exif.end() || it->count() < 1)
        return std::nullopt;
    return InFileRatingReader::ratingFromText(QString::number(it->toLong(0)));
}

} // namespace

void InFileRatingReader::initializeXmp()
{
    // The project's one set-up: the XMP toolkit's lock, BMFF (CR3, HEIF) and
    // quiet logging, whichever reader comes first.
    ImageDecoder::initialiseLibraries();
}

QString InFileRatingReader::fullNameSidecar(const QString &imagePath)
{
    return imagePath + QStringLiteral(".xmp");
}

QString InFileRatingReader::stemSidecar(const QString &imagePath)
{
    const QFileInfo info(imagePath);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".xmp");
}

QStringList InFileRatingReader::sidecarCandidates(const QString &imagePath)
{
    return {fullNameSidecar(imagePath), stemSidecar(imagePath)};
}

std::optional<int> InFileRatingReader::ratingFromText(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || value != std::floor(value) || value < -1 || value > 5)
        return std::nullopt;
    return value < 1 ? 0 : static_cast<int>(value);
}

std::optional<int> InFileRatingReader::sidecarRating(const QString &sidecarPath)
{
    QFile file(sidecarPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray packet = file.readAll();
    initializeXmp();
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, packet.toStdString()) != 0)
            return std::nullopt;
        return xmpRating(xmp);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

std::optional<int> InFileRatingReader::embeddedRating(const QString &imagePath)
{
    initializeXmp();
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(imagePath).toStdString());
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        if (const auto rating = xmpRating(image->xmpData()))
            return rating;
        return exifRating(image->exifData());
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

int InFileRatingReader::read(const QString &imagePath, const QStringList &existingSidecars)
{
    for (const QString &sidecar : existingSidecars) {
        if (const auto rating = sidecarRating(sidecar))
            return *rating;
    }
    return embeddedRating(imagePath).value_or(0);
}

int InFileRatingReader::read(const QString &imagePath)
{
    QStringList existing;
    for (const QString &candidate : sidecarCandidates(imagePath)) {
        if (QFileInfo::exists(candidate))
            existing.append(candidate);
    }
    return read(imagePath, existing);
}
