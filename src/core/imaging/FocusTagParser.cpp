#include "imaging/FocusTagParser.h"

#include "imaging/CanonFocusRecord.h"
#include "imaging/FocusAreaBuilder.h"

#include <QRectF>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <optional>
#include <vector>

namespace {

// More values than any camera writes into one focus tag; a longer array is
// read only this far.
constexpr long maxValues = 8192;

// The tag numbers of every key the parser reads (Exiv2 keeps the key text
// beside the number; only entries with these numbers are indexed).
bool isLookedAt(uint16_t tag)
{
    switch (tag) {
    case 0x010f: // Make
    case 0x0110: // Model
    case 0x0112: // Orientation
    case 0xa002: // PixelXDimension
    case 0xa003: // PixelYDimension
    case 0x9214: // SubjectArea
    case 0x0026: // Canon AFInfo (AFInfo2 in ExifTool)
    case 0x003c: // Canon AFInfo3
    case 0x2027: // Sony FocusLocation
    case 0x1023: // Fujifilm FocusPixel
    case 0x1301: // Fujifilm FocusWarning
    case 0x0305: // Olympus AFPointSelected
    case 0x004d: // Panasonic AFPointPosition
    case 0x000e: // Pentax AFPoint
        return true;
    default:
        // Nikon AFInfo2 versions 0100 and 0101: AF image size, area
        // position and size, in focus.
        return (tag >= 0x0010 && tag <= 0x001c) || (tag >= 0x0046 && tag <= 0x0052);
    }
}

// Component n of a rational tag; nothing for a zero denominator.
std::optional<double> fraction(const Exiv2::Exifdatum &datum, long n)
{
    const Exiv2::Rational r = datum.toRational(n);
    if (r.second == 0)
        return std::nullopt;
    return double(r.first) / double(r.second);
}

void append(QList<FocusArea> &areas, const std::optional<FocusArea> &area)
{
    if (area)
        areas.append(*area);
}

// Exiv2 splits the older record into one tag per short (tag = index).
std::vector<long> canonPictureInfo(const Exiv2::ExifData &exif)
{
    std::vector<long> values;
    for (const Exiv2::Exifdatum &datum : exif) {
        if (datum.tag() >= maxValues || datum.count() < 1 || datum.groupName() != "CanonPi")
            continue;
        const std::size_t index = datum.tag();
        if (values.size() <= index)
            values.resize(index + 1, 0);
        values[index] = datum.toLong(0);
    }
    return values;
}

} // namespace

FocusTagParser::FocusTagParser(const Exiv2::ExifData &exif)
    : m_exif(exif)
{
    for (const Exiv2::Exifdatum &datum : exif) {
        if (isLookedAt(datum.tag()))
            m_entries.emplace_back(datum.key(), &datum);
    }
}

const Exiv2::Exifdatum *FocusTagParser::find(const char *key) const
{
    for (const auto &[name, datum] : m_entries) {
        if (name == key)
            return datum;
    }
    return nullptr;
}

std::vector<long> FocusTagParser::integers(const char *key) const
{
    std::vector<long> values;
    const Exiv2::Exifdatum *datum = find(key);
    if (!datum)
        return values;
    const long count = std::min(datum->count(), maxValues);
    values.reserve(std::size_t(std::max(count, 0L)));
    for (long i = 0; i < count; ++i)
        values.push_back(datum->toLong(i));
    return values;
}

long FocusTagParser::integer(const char *key, long absent) const
{
    const Exiv2::Exifdatum *datum = find(key);
    return datum && datum->count() >= 1 ? datum->toLong(0) : absent;
}

int FocusTagParser::orientation() const
{
    const long value = integer("Exif.Image.Orientation", 0);
    return value >= 1 && value <= 8 ? int(value) : 0;
}

QSizeF FocusTagParser::recordedSize() const
{
    const long width = integer("Exif.Photo.PixelXDimension", 0);
    const long height = integer("Exif.Photo.PixelYDimension", 0);
    return width > 0 && height > 0 ? QSizeF(double(width), double(height)) : QSizeF();
}

QList<FocusArea> FocusTagParser::makerNote(QSizeF photo) const
{
    // A file carries one maker note, so the order matters only for files
    // edited by hand; the cheapest lookups come first.
    QList<FocusArea> areas = canon();
    if (areas.isEmpty())
        areas = nikon();
    if (areas.isEmpty())
        areas = sony();
    if (areas.isEmpty())
        areas = fujifilm(photo);
    if (areas.isEmpty())
        areas = olympus(photo);
    if (areas.isEmpty())
        areas = panasonic(photo);
    if (areas.isEmpty())
        areas = pentax(photo);
    return areas;
}

QList<FocusArea> FocusTagParser::subjectArea(QSizeF photo) const
{
    const std::vector<long> v = integers("Exif.Photo.SubjectArea");
    QList<FocusArea> areas;
    if (v.size() < 2 || !(photo.width() > 0 && photo.height() > 0))
        return areas;
    const QPointF centre{double(v[0]), double(v[1])};
    if (v.size() == 2) {
        append(areas,
               FocusAreaBuilder::aroundPoint(
                   QPointF(centre.x() / photo.width(), centre.y() / photo.height()), photo, false));
    } else {
        // A circle (centre and diameter) is drawn as the square around it.
        const QSizeF size =
            v.size() == 3 ? QSizeF(double(v[2]), double(v[2])) : QSizeF(double(v[2]), double(v[3]));
        const QRectF rect(centre.x() - size.width() / 2, centre.y() - size.height() / 2,
                          size.width(), size.height());
        append(areas, FocusAreaBuilder::inFrame(rect, photo, false));
    }
    return areas;
}

QList<FocusArea> FocusTagParser::canon() const
{
    // Y grows upwards in the EOS records and downwards in the PowerShot ones.
    const Exiv2::Exifdatum *model = find("Exif.Image.Model");
    const bool yDown = model && model->toString().find("PowerShot") != std::string::npos;
    for (const char *key : {"Exif.Canon.AFInfo", "Exif.Canon.AFInfo3"}) {
        QList<FocusArea> areas = CanonFocusRecord::fromAfInfo2(integers(key), yDown);
        if (!areas.isEmpty())
            return areas;
    }
    // The older record is spread over many tags: looked for in Canon files only.
    const Exiv2::Exifdatum *make = find("Exif.Image.Make");
    if (!make || make->toString().find("Canon") == std::string::npos)
        return {};
    return CanonFocusRecord::fromAfInfo(canonPictureInfo(m_exif), yDown);
}

QList<FocusArea> FocusTagParser::nikon() const
{
    // The two versions of the AFInfo2 record that Exiv2 reads; positions are
    // the centre of the area, from the top left of the AF image.
    for (const std::string group : {"NikonAf2", "NikonAf22"}) {
        const auto value = [&](const char *name) {
            return integer(("Exif." + group + "." + name).c_str(), 0);
        };
        const QSizeF frame(double(value("AFImageWidth")), double(value("AFImageHeight")));
        if (!(frame.width() > 0 && frame.height() > 0))
            continue;
        const QPointF centre(double(value("AFAreaXPosition")), double(value("AFAreaYPosition")));
        const QSizeF size(double(value("AFAreaWidth")), double(value("AFAreaHeight")));
        const bool inFocus = value("ContrastDetectAFInFocus") != 0;
        std::optional<FocusArea> area =
            size.isEmpty() ? FocusAreaBuilder::aroundPoint(
                                 QPointF(centre.x() / frame.width(), centre.y() / frame.height()),
                                 frame, inFocus)
                           : FocusAreaBuilder::inFrame(QRectF(centre.x() - size.width() / 2,
                                                              centre.y() - size.height() / 2,
                                                              size.width(), size.height()),
                                                       frame, inFocus);
        if (area)
            return {*area};
    }
    return {};
}

QList<FocusArea> FocusTagParser::sony() const
{
    // FocusLocation (0x2027): the frame's width and height, then the focus
    // point's x and y in it, from the top left.
    for (const char *key : {"Exif.Sony1.0x2027", "Exif.Sony2.0x2027"}) {
        const std::vector<long> v = integers(key);
        if (v.size() < 4 || v[0] <= 0 || v[1] <= 0)
            continue;
        const QSizeF frame{double(v[0]), double(v[1])};
        if (auto area = FocusAreaBuilder::aroundPoint(
                QPointF(double(v[2]) / frame.width(), double(v[3]) / frame.height()), frame, false))
            return {*area};
    }
    return {};
}

QList<FocusArea> FocusTagParser::fujifilm(QSizeF photo) const
{
    // FocusPixel (0x1023): x and y in the picture's pixels. FocusWarning 0
    // says the camera found focus.
    const std::vector<long> v = integers("Exif.Fujifilm.0x1023");
    if (v.size() < 2 || !(photo.width() > 0 && photo.height() > 0))
        return {};
    const bool inFocus = integer("Exif.Fujifilm.FocusWarning", -1) == 0;
    QList<FocusArea> areas;
    append(areas, FocusAreaBuilder::aroundPoint(
                      QPointF(double(v[0]) / photo.width(), double(v[1]) / photo.height()), photo,
                      inFocus));
    return areas;
}

QList<FocusArea> FocusTagParser::olympus(QSizeF photo) const
{
    // AFPointSelected: an unused value, then the left, top, right and bottom
    // of the selected area as fractions; both corners equal mark a point.
    const Exiv2::Exifdatum *datum = find("Exif.OlympusCs.AFPointSelected");
    if (!datum || datum->count() < 5)
        return {};
    std::optional<double> edges[4];
    for (long i = 0; i < 4; ++i) {
        edges[i] = fraction(*datum, i + 1);
        if (!edges[i])
            return {};
    }
    const QRectF rect =
        QRectF(QPointF(*edges[0], *edges[1]), QPointF(*edges[2], *edges[3])).normalized();
    QList<FocusArea> areas;
    append(areas, rect.isEmpty() ? FocusAreaBuilder::aroundPoint(rect.center(), photo, false)
                                 : FocusAreaBuilder::inFrame(rect, QSizeF(1, 1), false));
    return areas;
}

QList<FocusArea> FocusTagParser::panasonic(QSizeF photo) const
{
    // AFPointPosition: the point's x and y as fractions of the picture.
    const Exiv2::Exifdatum *datum = find("Exif.Panasonic.AFPointPosition");
    if (!datum || datum->count() < 2)
        return {};
    const std::optional<double> x = fraction(*datum, 0), y = fraction(*datum, 1);
    if (!x || !y)
        return {};
    QList<FocusArea> areas;
    append(areas, FocusAreaBuilder::aroundPoint(QPointF(*x, *y), photo, false));
    return areas;
}

QList<FocusArea> FocusTagParser::pentax(QSizeF photo) const
{
    // AFPoint names a point of the body's own AF layout, which differs from
    // model to model; only the centre point (6) and the fixed centre
    // (0xfffe) have a place that holds for every body.
    const long point = integer("Exif.Pentax.AFPoint", 0);
    if (point != 6 && point != 0xfffe)
        return {};
    QList<FocusArea> areas;
    append(areas, FocusAreaBuilder::aroundPoint(QPointF(0.5, 0.5), photo, false));
    return areas;
}
