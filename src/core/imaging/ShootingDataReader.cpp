#include "imaging/ShootingDataReader.h"

#include "imaging/EXIFReader.h"
#include "imaging/ImageDecoder.h"
#include "model/LocalFileName.h"

#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <initializer_list>
#include <limits>
#include <unordered_map>

namespace {

struct TagAddress
{
    int ifd = -1; // -1: a key this Exiv2 build does not know
    uint16_t tag = 0;
};

// ExifKey finds a name by searching Exiv2's tag tables: each key is parsed
// once per thread (the keys are the literals of this file).
TagAddress addressOf(const char *key)
{
    thread_local std::unordered_map<const char *, TagAddress> parsed;
    auto known = parsed.find(key);
    if (known == parsed.end()) {
        TagAddress address;
        try {
            const Exiv2::ExifKey exifKey(key);
            address = {int(exifKey.ifdId()), exifKey.tag()};
        } catch (const std::exception &) {
            // A maker-note group or tag this Exiv2 build does not know.
        }
        known = parsed.emplace(key, address).first;
    }
    return known->second;
}

const Exiv2::Exifdatum *find(const Exiv2::ExifData &exif, const char *key)
{
    const TagAddress address = addressOf(key);
    if (address.ifd < 0)
        return nullptr;
    // By number: ExifData::findKey would build the key text of every entry,
    // hundreds in a file with maker notes, for each value looked up.
    const auto it = std::find_if(exif.begin(), exif.end(), [&](const Exiv2::Exifdatum &datum) {
        return datum.tag() == address.tag && int(datum.ifdId()) == address.ifd;
    });
    return it == exif.end() || it->count() < 1 ? nullptr : &*it;
}

QString text(const Exiv2::ExifData &exif, const char *key)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum || datum->typeId() != Exiv2::asciiString)
        return {};
    std::string value = datum->toString();
    if (const auto nul = value.find('\0'); nul != std::string::npos)
        value.resize(nul);
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())).simplified();
}

bool isInteger(Exiv2::TypeId type)
{
    return type == Exiv2::unsignedByte || type == Exiv2::unsignedShort ||
           type == Exiv2::unsignedLong || type == Exiv2::signedByte || type == Exiv2::signedShort ||
           type == Exiv2::signedLong;
}

// A finite, positive first component; zero denominators and other types give nothing.
std::optional<double> positiveNumber(const Exiv2::ExifData &exif, const char *key)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum)
        return std::nullopt;
    const Exiv2::TypeId type = datum->typeId();
    double value = 0;
    if (type == Exiv2::unsignedRational || type == Exiv2::signedRational) {
        const Exiv2::Rational r = datum->toRational(0);
        if (r.second == 0)
            return std::nullopt;
        value = double(r.first) / double(r.second);
    } else if (type == Exiv2::tiffFloat || type == Exiv2::tiffDouble) {
        value = double(datum->toFloat(0));
    } else if (isInteger(type)) {
        value = double(datum->toLong(0));
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

// A non-negative integer that fits an int.
std::optional<int> count(const Exiv2::ExifData &exif, const char *key)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum || !isInteger(datum->typeId()))
        return std::nullopt;
    const long value = datum->toLong(0);
    if (value < 0 || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

QSize pixelSize(const Exiv2::ExifData &exif)
{
    auto width = count(exif, "Exif.Photo.PixelXDimension");
    auto height = count(exif, "Exif.Photo.PixelYDimension");
    if (!width || !height || *width == 0 || *height == 0) {
        width = count(exif, "Exif.Image.ImageWidth");
        height = count(exif, "Exif.Image.ImageLength");
    }
    if (!width || !height || *width == 0 || *height == 0)
        return {};
    const int orientation = count(exif, "Exif.Image.Orientation").value_or(1);
    const bool quarterTurn = orientation >= 5 && orientation <= 8;
    return quarterTurn ? QSize(*height, *width) : QSize(*width, *height);
}

std::optional<int> burstSequence(const Exiv2::ExifData &exif)
{
    for (const char *key : {"Exif.CanonSi.Sequence", "Exif.Sony1.SequenceNumber",
                            "Exif.Fujifilm.SequenceNumber", "Exif.Panasonic.SequenceNumber"}) {
        if (const auto sequence = count(exif, key))
            return sequence;
    }
    return std::nullopt;
}

// The local time zone by its own rules. QDateTime's local time asks mktime,
// which under glibc takes a process-wide lock and looks at /etc/localtime on
// every call: the index's readers would queue on it.
const QTimeZone &localZone()
{
    thread_local const QTimeZone zone = QTimeZone::systemTimeZone();
    return zone;
}

// The same moment and wall time with its offset fixed: sorting then reads
// each as a number without looking up the time zone rules per image (about
// 3 us each, a third of a second for 100,000).
QDateTime withFixedOffset(const QDateTime &time)
{
    if (!time.isValid())
        return time;
    switch (time.timeSpec()) {
    case Qt::LocalTime: {
        const QDateTime zoned(time.date(), time.time(), localZone());
        return zoned.toOffsetFromUtc(zoned.offsetFromUtc());
    }
    case Qt::TimeZone:
        return time.toOffsetFromUtc(time.offsetFromUtc());
    default:
        return time;
    }
}

// The number in `count` ASCII digits at `from`; -1 when one is not a digit.
// (QDateTime::fromString builds a parser per call: as long as reading a
// file's metadata.)
int digitsAt(QStringView text, qsizetype from, qsizetype count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool hasSeparators(QStringView text, std::initializer_list<std::pair<qsizetype, char>> separators)
{
    return std::ranges::all_of(separators, [text](const auto &separator) {
        return text.at(separator.first) == QLatin1Char(separator.second);
    });
}

} // namespace

QDateTime ShootingDataReader::captureTime(const QString &dateTime, const QString &subSeconds,
                                          const QString &offset)
{
    const QStringView stamp = QStringView(dateTime).trimmed();
    if (stamp.size() != 19 ||
        !hasSeparators(stamp, {{4, ':'}, {7, ':'}, {10, ' '}, {13, ':'}, {16, ':'}}))
        return {};
    const QDate date(digitsAt(stamp, 0, 4), digitsAt(stamp, 5, 2), digitsAt(stamp, 8, 2));
    QTime time(digitsAt(stamp, 11, 2), digitsAt(stamp, 14, 2), digitsAt(stamp, 17, 2));
    if (!date.isValid() || !time.isValid())
        return {};
    const QString digits = subSeconds.trimmed();
    bool ok = false;
    const int milliseconds = digits.left(3).leftJustified(3, QLatin1Char('0')).toInt(&ok);
    if (!digits.isEmpty() && ok && milliseconds >= 0)
        time = time.addMSecs(milliseconds);
    const QStringView zone = QStringView(offset).trimmed();
    const QChar sign = zone.isEmpty() ? QChar() : zone.at(0);
    if (zone.size() == 6 && (sign == QLatin1Char('+') || sign == QLatin1Char('-')) &&
        hasSeparators(zone, {{3, ':'}})) {
        const int hours = digitsAt(zone, 1, 2);
        const int minutes = digitsAt(zone, 4, 2);
        if (QTime(hours, minutes).isValid()) {
            const int seconds = (hours * 60 + minutes) * 60;
            return QDateTime(date, time, QTimeZone(sign == QLatin1Char('-') ? -seconds : seconds));
        }
    }
    const QDateTime local(date, time, localZone());
    return local.isValid() ? local : QDateTime(); // a local time that does not exist
}

ShootingData ShootingDataReader::fromExif(const Exiv2::ExifData &exif,
                                          const QDateTime &fileModified)
{
    ShootingData data;
    data.fileModified = withFixedOffset(fileModified);
    data.captureTime = captureTime(text(exif, "Exif.Photo.DateTimeOriginal"),
                                   text(exif, "Exif.Photo.SubSecTimeOriginal"),
                                   text(exif, "Exif.Photo.OffsetTimeOriginal"));
    data.captureTime = withFixedOffset(data.captureTime);
    data.timeSource = ShootingData::TimeSource::capture;
    if (!data.captureTime.isValid()) {
        data.captureTime = data.fileModified;
        data.timeSource = ShootingData::TimeSource::fileModified;
    }
    data.cameraMake = text(exif, "Exif.Image.Make");
    data.cameraModel = text(exif, "Exif.Image.Model");
    data.lens = text(exif, "Exif.Photo.LensModel");
    data.focalLength = positiveNumber(exif, "Exif.Photo.FocalLength");
    data.aperture = positiveNumber(exif, "Exif.Photo.FNumber");
    data.exposureTime = positiveNumber(exif, "Exif.Photo.ExposureTime");
    if (const auto iso = count(exif, "Exif.Photo.ISOSpeedRatings"); iso && *iso > 0)
        data.iso = iso;
    data.pixelSize = pixelSize(exif);
    data.burstSequence = burstSequence(exif);
    return data;
}

ShootingData ShootingDataReader::read(const QString &path)
{
    return read(path, QFileInfo(path).lastModified());
}

ShootingData ShootingDataReader::read(const QString &path, const QDateTime &fileModified)
{
    ImageDecoder::initialiseLibraries();
    try {
        auto file = Exiv2::ImageFactory::open(LocalFileName::encode(path).toStdString());
        if (file.get()) {
            file->readMetadata();
            if (!file->exifData().empty())
                return fromExif(file->exifData(), fileModified);
        }
    } catch (const std::exception &) {
        // A container Exiv2 cannot parse: libheif's EXIF block below.
    }
    Exiv2::ExifData exif;
    EXIFReader::readHeifExifBlock(path, &exif);
    return fromExif(exif, fileModified);
}
