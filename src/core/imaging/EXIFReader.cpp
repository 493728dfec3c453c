#include "imaging/EXIFReader.h"

#include "imaging/HeifDecoder.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageFileType.h"
#include "model/LocalFileName.h"

#include <QFile>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <limits>
#include <optional>

namespace {

// Doubles of at least this magnitude do not fit a signed 64-bit integer.
constexpr double int64Limit = 9223372036854775808.0;

const Exiv2::Exifdatum *find(const Exiv2::ExifData &exif, const char *key)
{
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end())
        return nullptr;
    return &*it;
}

bool isIntegerType(Exiv2::TypeId type)
{
    switch (type) {
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
        return true;
    default:
        return false;
    }
}

bool isNumberType(Exiv2::TypeId type)
{
    return isIntegerType(type) || type == Exiv2::unsignedRational ||
           type == Exiv2::signedRational || type == Exiv2::tiffFloat || type == Exiv2::tiffDouble;
}

// Component n of a numeric value as a double; a zero denominator gives a
// non-finite value, which the formatters turn into an empty field.
double numberAt(const Exiv2::Exifdatum &datum, long n)
{
    const Exiv2::TypeId type = datum.typeId();
    if (type == Exiv2::unsignedRational || type == Exiv2::signedRational) {
        const Exiv2::Rational r = datum.toRational(n);
        if (r.second == 0)
            return std::numeric_limits<double>::quiet_NaN();
        return double(r.first) / double(r.second);
    }
    if (type == Exiv2::tiffFloat || type == Exiv2::tiffDouble)
        return double(datum.toFloat(n));
    return double(datum.toLong(n));
}

std::optional<QString> text(const Exiv2::ExifData &exif, const char *key)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum || datum->typeId() != Exiv2::asciiString)
        return std::nullopt;
    std::string value = datum->toString();
    if (const auto nul = value.find('\0'); nul != std::string::npos)
        value.resize(nul);
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

std::optional<double> number(const Exiv2::ExifData &exif, const char *key)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum || !isNumberType(datum->typeId()) || datum->count() < 1)
        return std::nullopt;
    return numberAt(*datum, 0);
}

// Degrees, minutes and seconds (as many as are stored) in degrees.
std::optional<double> coordinate(const Exiv2::ExifData &exif, const char *key)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum || !isNumberType(datum->typeId()) || datum->count() < 1)
        return std::nullopt;
    double degrees = 0;
    const double divisors[3] = {1, 60, 3600};
    for (long i = 0; i < std::min<long>(datum->count(), 3); ++i)
        degrees += numberAt(*datum, i) / divisors[i];
    if (!std::isfinite(degrees))
        return std::nullopt;
    return degrees;
}

QString isoText(const Exiv2::ExifData &exif)
{
    const Exiv2::Exifdatum *datum = find(exif, "Exif.Photo.ISOSpeedRatings");
    if (!datum || !isIntegerType(datum->typeId()) || datum->count() < 1)
        return {};
    return QStringLiteral("ISO ") + QString::number(datum->toLong(0));
}

QString trimmed(const std::optional<QString> &value)
{
    return value ? value->trimmed() : QString();
}

bool readExif(const QString &path, Exiv2::ExifData *exif)
{
    try {
        auto file = Exiv2::ImageFactory::open(LocalFileName::encode(path).toStdString());
        if (file.get()) {
            file->readMetadata();
            *exif = file->exifData();
            if (!exif->empty())
                return true;
        }
    } catch (const std::exception &) {
        // Falls through to the container-specific readers.
    }
    return EXIFReader::readHeifExifBlock(path, exif);
}

} // namespace

bool EXIFReader::readHeifExifBlock(const QString &path, Exiv2::ExifData *exif)
{
    if (ImageFileType::detect(path) != ImageFileType::Kind::heif)
        return false;
    const QByteArray block = HeifDecoder::exifBlock(path);
    if (block.isEmpty())
        return false;
    try {
        exif->clear();
        Exiv2::ExifParser::decode(*exif, reinterpret_cast<const Exiv2::byte *>(block.constData()),
                                  static_cast<uint32_t>(block.size()));
        return !exif->empty();
    } catch (const std::exception &) {
        return false;
    }
}

QString EXIFReader::formatFocalLength(double millimetres)
{
    if (!std::isfinite(millimetres) || std::fabs(millimetres) >= int64Limit)
        return {};
    return QString::number(static_cast<qint64>(std::trunc(millimetres))) + QStringLiteral("mm");
}

QString EXIFReader::formatAperture(double fNumber)
{
    if (!std::isfinite(fNumber))
        return {};
    return QString::asprintf("f/%.1f", fNumber);
}

QString EXIFReader::formatShutterSpeed(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return {};
    if (seconds >= 1.0)
        return QString::asprintf("%.1fs", seconds);
    const double reciprocal = 1.0 / seconds;
    if (!std::isfinite(reciprocal) || reciprocal >= int64Limit)
        return {};
    return QStringLiteral("1/") + QString::number(std::llround(reciprocal)) + QStringLiteral("s");
}

QString EXIFReader::formatDate(const QString &dateTimeOriginal)
{
    const QStringList pieces = dateTimeOriginal.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return dateTimeOriginal;
    QString date = pieces.first();
    return date.replace(QLatin1Char(':'), QLatin1Char('-'));
}

QString EXIFReader::parseGPS(const Exiv2::ExifData &exif)
{
    std::optional<double> latitude = coordinate(exif, "Exif.GPSInfo.GPSLatitude");
    const std::optional<QString> latitudeRef = text(exif, "Exif.GPSInfo.GPSLatitudeRef");
    std::optional<double> longitude = coordinate(exif, "Exif.GPSInfo.GPSLongitude");
    const std::optional<QString> longitudeRef = text(exif, "Exif.GPSInfo.GPSLongitudeRef");
    if (!latitude || !latitudeRef || !longitude || !longitudeRef)
        return {};
    if (*latitudeRef == QLatin1String("S"))
        *latitude = -*latitude;
    if (*longitudeRef == QLatin1String("W"))
        *longitude = -*longitude;
    return QString::asprintf("%.4f, %.4f", *latitude, *longitude);
}

EXIFData EXIFReader::fromExif(const Exiv2::ExifData &exif)
{
    EXIFData data;
    data.cameraMake = trimmed(text(exif, "Exif.Image.Make"));
    data.cameraModel = trimmed(text(exif, "Exif.Image.Model"));
    data.lensModel = trimmed(text(exif, "Exif.Photo.LensModel"));
    if (const auto focal = number(exif, "Exif.Photo.FocalLength"))
        data.focalLength = formatFocalLength(*focal);
    if (const auto fNumber = number(exif, "Exif.Photo.FNumber"))
        data.aperture = formatAperture(*fNumber);
    if (const auto exposure = number(exif, "Exif.Photo.ExposureTime"))
        data.shutterSpeed = formatShutterSpeed(*exposure);
    data.iso = isoText(exif);
    if (const auto date = text(exif, "Exif.Photo.DateTimeOriginal"))
        data.dateTaken = formatDate(*date);
    data.location = parseGPS(exif);
    data.author = text(exif, "Exif.Image.Artist").value_or(QString());
    return data;
}

EXIFData EXIFReader::read(const QString &path)
{
    Exiv2::ExifData exif;
    return read(path, &exif);
}

EXIFData EXIFReader::read(const QString &path, Exiv2::ExifData *metadata)
{
    ImageDecoder::initialiseLibraries();
    if (!readExif(path, metadata)) {
        metadata->clear();
        return {};
    }
    return fromExif(*metadata);
}
