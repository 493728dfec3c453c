#include "imaging/InFileRatingReader.h"

#include "imaging/ImageDecoder.h"
#include "imaging/SidecarFile.h"
#include "model/LocalFileName.h"
#include "model/SidecarIndex.h"

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
    return SidecarIndex::fullNameSidecar(imagePath);
}

QString InFileRatingReader::stemSidecar(const QString &imagePath)
{
    return SidecarIndex::stemSidecar(imagePath);
}

QStringList InFileRatingReader::existingSidecars(const QString &imagePath)
{
    const qsizetype slash = imagePath.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    const auto index =
        SidecarIndex::ofFolder(slash == 0 ? QStringLiteral("/") : imagePath.left(slash));
    return index ? index->sidecarsOf(imagePath) : QStringList();
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
    QString error;
    const auto sidecar = SidecarFile::read(sidecarPath, &error);
    if (!sidecar)
        return std::nullopt;
    initializeXmp();
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, sidecar->content.toStdString()) != 0)
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
        auto image = Exiv2::ImageFactory::open(LocalFileName::encode(imagePath).toStdString());
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
    return read(imagePath, existingSidecars(imagePath));
}
