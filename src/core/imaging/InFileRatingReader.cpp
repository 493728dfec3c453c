#include "imaging/InFileRatingReader.h"

#include "imaging/ImageDecoder.h"
#include "imaging/SidecarFile.h"
#include "model/LocalFileName.h"
#include "model/SidecarIndex.h"

#include <cmath>
#include <exiv2/exiv2.hpp>

namespace {

// What one source holds.
struct Source
{
    std::optional<int> rating;
    bool rejected = false;
    ColourLabel label = ColourLabel::none;
};

Source sourceOfRating(const QString &text)
{
    const auto rating = InFileRatingReader::ratingFromText(text);
    return {rating, rating && text.trimmed().toDouble() == -1, ColourLabel::none};
}

Source xmpSource(const Exiv2::XmpData &xmp)
{
    Source source;
    const auto rating = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.Rating"));
    if (rating != xmp.end())
        source = sourceOfRating(QString::fromStdString(rating->toString()));
    const auto label = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.Label"));
    if (label != xmp.end())
        source.label = CullingMark::labelFromXmp(QString::fromStdString(label->toString()));
    return source;
}

Source exifSource(const Exiv2::ExifData &exif)
{
    const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Rating"));
    if (it == exif.end() || it->count() < 1)
        return {};
    return sourceOfRating(QString::number(it->toLong(0)));
}

std::optional<Source> sidecarSource(const QString &sidecarPath)
{
    QString error;
    const auto sidecar = SidecarFile::read(sidecarPath, &error);
    if (!sidecar)
        return std::nullopt;
    InFileRatingReader::initializeXmp();
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, sidecar->content.toStdString()) != 0)
            return std::nullopt;
        return xmpSource(xmp);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// The embedded XMP's, then EXIF's.
QList<Source> embeddedSources(const QString &imagePath)
{
    InFileRatingReader::initializeXmp();
    try {
        auto image = Exiv2::ImageFactory::open(LocalFileName::encode(imagePath).toStdString());
        if (!image.get())
            return {};
        image->readMetadata();
        return {xmpSource(image->xmpData()), exifSource(image->exifData())};
    } catch (const std::exception &) {
        return {};
    }
}

// Takes sources in lookup order.
struct Decision
{
    InFileRatingReader::Found found;
    bool ratingDecided = false;

    void take(const Source &source)
    {
        if (!ratingDecided && source.rating) {
            ratingDecided = true;
            found.rating = *source.rating;
            if (source.rejected)
                found.mark.flag = CullingFlag::reject;
        }
        if (found.mark.label == ColourLabel::none)
            found.mark.label = source.label;
    }
};

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
    const auto source = sidecarSource(sidecarPath);
    return source ? source->rating : std::nullopt;
}

std::optional<int> InFileRatingReader::embeddedRating(const QString &imagePath)
{
    for (const Source &source : embeddedSources(imagePath)) {
        if (source.rating)
            return source.rating;
    }
    return std::nullopt;
}

InFileRatingReader::Found InFileRatingReader::readAll(const QString &imagePath,
                                                      const QStringList &existingSidecars)
{
    Decision decision;
    for (const QString &sidecar : existingSidecars) {
        if (const auto source = sidecarSource(sidecar))
            decision.take(*source);
        if (decision.ratingDecided)
            return decision.found;
    }
    // The photo is opened only when no sidecar holds a rating.
    for (const Source &source : embeddedSources(imagePath))
        decision.take(source);
    return decision.found;
}

int InFileRatingReader::read(const QString &imagePath, const QStringList &existingSidecars)
{
    return readAll(imagePath, existingSidecars).rating;
}

int InFileRatingReader::read(const QString &imagePath)
{
    return read(imagePath, existingSidecars(imagePath));
}
