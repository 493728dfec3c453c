#include "imaging/ShootingDataReader.h"

#include "imaging/EXIFReader.h"
#include "imaging/ImageDecoder.h"
#include "model/LocalFileName.h"

#include <QFileInfo>
#include <QTimeZone>
#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <initializer_list>
#include <limits>

namespace {

// The tags fromExif() looks at, by the Exiv2 key each stands for.
enum class Field {
    dateTimeOriginal,
    subSecTimeOriginal,
    offsetTimeOriginal,
    make,
    model,
    lensModel,
    focalLength,
    fNumber,
    exposureTime,
    isoSpeed,
    pixelXDimension,
    pixelYDimension,
    imageWidth,
    imageLength,
    orientation,
    canonSequence,
    sonySequence,
    fujifilmSequence,
    panasonicSequence,
    count
};

constexpr std::array<const char *, size_t(Field::count)> kKeys{
    "Exif.Photo.DateTimeOriginal",
    "Exif.Photo.SubSecTimeOriginal",
    "Exif.Photo.OffsetTimeOriginal",
    "Exif.Image.Make",
    "Exif.Image.Model",
    "Exif.Photo.LensModel",
    "Exif.Photo.FocalLength",
    "Exif.Photo.FNumber",
    "Exif.Photo.ExposureTime",
    "Exif.Photo.ISOSpeedRatings",
    "Exif.Photo.PixelXDimension",
    "Exif.Photo.PixelYDimension",
    "Exif.Image.ImageWidth",
    "Exif.Image.ImageLength",
    "Exif.Image.Orientation",
    "Exif.CanonSi.Sequence",
    "Exif.Sony1.SequenceNumber",
    "Exif.Fujifilm.SequenceNumber",
    "Exif.Panasonic.SequenceNumber",
};

struct TagAddress
{
    int ifd = -1; // -1: a key this Exiv2 build does not know
    uint16_t tag = 0;
};

// ExifKey finds a name by searching Exiv2's tag tables: the keys are parsed
// once.
const std::array<TagAddress, size_t(Field::count)> &addresses()
{
    static const auto parsed = [] {
        std::array<TagAddress, size_t(Field::count)> result;
        for (size_t i = 0; i < kKeys.size(); ++i) {
            try {
                const Exiv2::ExifKey exifKey(kKeys[i]);
                result[i] = {int(exifKey.ifdId()), exifKey.tag()};
            } catch (const std::exception &) {
                // A maker-note group or tag this Exiv2 build does not know.
            }
        }
        return result;
    }();
    return parsed;
}

// The first entry of each field in one pass over the entries, by number:
// ExifData::findKey would build the key text of every entry, hundreds in a
// file with maker notes, for each value looked up.
class Fields
{
public:
    explicit Fields(const Exiv2::ExifData &exif)
    {
        const auto &wanted = addresses();
        for (const Exiv2::Exifdatum &datum : exif) {
            const uint16_t tag = datum.tag();
            for (size_t i = 0; i < wanted.size(); ++i) {
                if (wanted[i].tag == tag && !m_found[i] && wanted[i].ifd == int(datum.ifdId()))
                    m_found[i] = &datum;
            }
        }
    }

    // The field's entry when it holds at least one value.
    const Exiv2::Exifdatum *operator[](Field field) const
    {
        const Exiv2::Exifdatum *datum = m_found[size_t(field)];
        return datum && datum->count() >= 1 ? datum : nullptr;
    }

private:
    std::array<const Exiv2::Exifdatum *, size_t(Field::count)> m_found{};
};

// An ASCII value up to its first NUL, from its bytes (Exifdatum::toString
// goes through a string stream).
QString text(const Fields &fields, Field field)
{
    const Exiv2::Exifdatum *datum = fields[field];
    if (!datum || datum->typeId() != Exiv2::asciiString)
        return {};
    QVarLengthArray<char, 256> bytes(datum->size());
    datum->copy(reinterpret_cast<Exiv2::byte *>(bytes.data()), Exiv2::invalidByteOrder);
    const qsizetype length = std::find(bytes.cbegin(), bytes.cend(), '\0') - bytes.cbegin();
    return QString::fromUtf8(bytes.data(), length).simplified();
}

bool isInteger(Exiv2::TypeId type)
{
    return type == Exiv2::unsignedByte || type == Exiv2::unsignedShort ||
           type == Exiv2::unsignedLong || type == Exiv2::signedByte || type == Exiv2::signedShort ||
           type == Exiv2::signedLong;
}

// A finite, positive first component; zero denominators and other types give nothing.
std::optional<double> positiveNumber(const Fields &fields, Field field)
{
    const Exiv2::Exifdatum *datum = fields[field];
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
std::optional<int> count(const Fields &fields, Field field)
{
    const Exiv2::Exifdatum *datum = fields[field];
    if (!datum || !isInteger(datum->typeId()))
        return std::nullopt;
    const long value = datum->toLong(0);
    if (value < 0 || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

QSize pixelSize(const Fields &fields)
{
    auto width = count(fields, Field::pixelXDimension);
    auto height = count(fields, Field::pixelYDimension);
    if (!width || !height || *width == 0 || *height == 0) {
        width = count(fields, Field::imageWidth);
        height = count(fields, Field::imageLength);
    }
    if (!width || !height || *width == 0 || *height == 0)
        return {};
    const int orientation = count(fields, Field::orientation).value_or(1);
    const bool quarterTurn = orientation >= 5 && orientation <= 8;
    return quarterTurn ? QSize(*height, *width) : QSize(*width, *height);
}

std::optional<int> burstSequence(const Fields &fields)
{
    for (const Field field : {Field::canonSequence, Field::sonySequence, Field::fujifilmSequence,
                              Field::panasonicSequence}) {
        if (const auto sequence = count(fields, field))
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

bool hasJpegName(const QString &path)
{
    return path.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".jpeg"), Qt::CaseInsensitive);
}

// The file with its metadata read, or nullptr when Exiv2 cannot read it.
// ImageFactory::open opens the file twice more than readMetadata needs (its
// type check and Image::good()), each with its own buffered read of the
// start: a photo named as a JPEG is read as one straight away, and only
// falls back to the factory's detection when it is not one.
Exiv2::Image::AutoPtr readMetadata(const QString &path)
{
    const std::string name = LocalFileName::encode(path).toStdString();
    if (hasJpegName(path)) {
        try {
            Exiv2::Image::AutoPtr jpeg(
                new Exiv2::JpegImage(Exiv2::BasicIo::AutoPtr(new Exiv2::FileIo(name)), false));
            jpeg->readMetadata();
            return jpeg;
        } catch (const std::exception &) {
            // Another format under a JPEG name, or damaged: the factory decides.
        }
    }
    try {
        Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(name);
        if (file.get())
            file->readMetadata();
        return file;
    } catch (const std::exception &) {
        return Exiv2::Image::AutoPtr();
    }
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
    const Fields fields(exif);
    ShootingData data;
    data.fileModified = withFixedOffset(fileModified);
    data.captureTime =
        captureTime(text(fields, Field::dateTimeOriginal), text(fields, Field::subSecTimeOriginal),
                    text(fields, Field::offsetTimeOriginal));
    data.captureTime = withFixedOffset(data.captureTime);
    data.timeSource = ShootingData::TimeSource::capture;
    if (!data.captureTime.isValid()) {
        data.captureTime = data.fileModified;
        data.timeSource = ShootingData::TimeSource::fileModified;
    }
    data.cameraMake = text(fields, Field::make);
    data.cameraModel = text(fields, Field::model);
    data.lens = text(fields, Field::lensModel);
    data.focalLength = positiveNumber(fields, Field::focalLength);
    data.aperture = positiveNumber(fields, Field::fNumber);
    data.exposureTime = positiveNumber(fields, Field::exposureTime);
    if (const auto iso = count(fields, Field::isoSpeed); iso && *iso > 0)
        data.iso = iso;
    data.pixelSize = pixelSize(fields);
    data.burstSequence = burstSequence(fields);
    return data;
}

ShootingData ShootingDataReader::read(const QString &path)
{
    return read(path, QFileInfo(path).lastModified());
}

ShootingData ShootingDataReader::read(const QString &path, const QDateTime &fileModified)
{
    ImageDecoder::initialiseLibraries();
    Exiv2::Image::AutoPtr file = readMetadata(path);
    if (file.get() && !file->exifData().empty())
        return fromExif(file->exifData(), fileModified);
    // A container Exiv2 cannot parse: libheif's EXIF block.
    Exiv2::ExifData exif;
    EXIFReader::readHeifExifBlock(path, &exif);
    return fromExif(exif, fileModified);
}
