#include "export/ExportMetadata.h"

#include <QColorSpace>
#include <QSet>
#include <QString>
#include <exiv2/exiv2.hpp>

namespace {

// A JPEG segment holds at most 65535 bytes, its two length bytes included.
constexpr qsizetype kMaxSegmentPayload = 65535 - 2;
constexpr char kExifHeader[] = "Exif\0\0"; // 6 bytes
constexpr qsizetype kExifHeaderSize = 6;
constexpr qsizetype kIccHeaderSize = 14; // "ICC_PROFILE\0", chunk number, chunk count

// Tags of the first directory that describe the photo rather than the layout
// of the source file's pixels (strips, tiles, sub-images, raw data).
bool keptFromImageDirectory(const std::string &tag)
{
    static const QSet<QString> kept{QStringLiteral("Make"),
                                    QStringLiteral("Model"),
                                    QStringLiteral("Artist"),
                                    QStringLiteral("Copyright"),
                                    QStringLiteral("DateTime"),
                                    QStringLiteral("Software"),
                                    QStringLiteral("ImageDescription"),
                                    QStringLiteral("XResolution"),
                                    QStringLiteral("YResolution"),
                                    QStringLiteral("ResolutionUnit")};
    return kept.contains(QString::fromStdString(tag));
}

bool keptFromExifDirectory(const std::string &tag)
{
    return tag != "MakerNote" && tag != "InteroperabilityTag" && tag != "PixelXDimension" &&
           tag != "PixelYDimension" && tag != "ColorSpace" && tag != "ComponentsConfiguration" &&
           tag != "CompressedBitsPerPixel";
}

bool kept(const Exiv2::Exifdatum &datum)
{
    const std::string group = datum.groupName();
    if (group == "GPSInfo")
        return true;
    if (group == "Photo")
        return keptFromExifDirectory(datum.tagName());
    return group == "Image" && keptFromImageDirectory(datum.tagName());
}

void appendSegment(QByteArray &out, char marker, const char *header, qsizetype headerSize,
                   const char *data, qsizetype size)
{
    const qsizetype length = 2 + headerSize + size;
    out += char(0xFF);
    out += marker;
    out += char(length >> 8);
    out += char(length & 0xFF);
    out.append(header, headerSize);
    out.append(data, size);
}

// The TIFF stream of the Exif segment; a stream too large for one segment
// loses its largest values first (long comments, embedded XML), and is
// dropped when that is not enough.
QByteArray encodedExif(Exiv2::ExifData exif)
{
    try {
        for (long largest = 4096; largest >= 64; largest /= 4) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
            if (qsizetype(blob.size()) + kExifHeaderSize <= kMaxSegmentPayload)
                return QByteArray(reinterpret_cast<const char *>(blob.data()),
                                  qsizetype(blob.size()));
            for (auto it = exif.begin(); it != exif.end();)
                it = it->size() > largest ? exif.erase(it) : std::next(it);
        }
    } catch (const std::exception &) {
    }
    return {};
}

} // namespace

ExportMetadata::ExportMetadata(const Exiv2::ExifData &source)
{
    auto exif = std::make_shared<Exiv2::ExifData>();
    for (const Exiv2::Exifdatum &datum : source) {
        if (kept(datum))
            exif->add(datum);
    }
    if (!exif->empty())
        m_exif = std::move(exif);
}

const QByteArray &ExportMetadata::srgbProfile()
{
    static const QByteArray profile = QColorSpace(QColorSpace::SRgb).iccProfile();
    return profile;
}

QByteArray ExportMetadata::jpegSegments(QSize pixelSize) const
{
    QByteArray segments;
    if (m_exif) {
        Exiv2::ExifData exif = *m_exif;
        exif["Exif.Image.Orientation"] = uint16_t(1);
        exif["Exif.Photo.PixelXDimension"] = uint32_t(pixelSize.width());
        exif["Exif.Photo.PixelYDimension"] = uint32_t(pixelSize.height());
        exif["Exif.Photo.ColorSpace"] = uint16_t(1); // sRGB
        const QByteArray tiff = encodedExif(std::move(exif));
        if (!tiff.isEmpty())
            appendSegment(segments, char(0xE1), kExifHeader, kExifHeaderSize, tiff.constData(),
                          tiff.size());
    }
    const QByteArray &profile = srgbProfile();
    if (!profile.isEmpty() && profile.size() + kIccHeaderSize <= kMaxSegmentPayload) {
        const char header[kIccHeaderSize] = {'I', 'C', 'C', '_', 'P',  'R', 'O',
                                             'F', 'I', 'L', 'E', '\0', 1,   1}; // chunk 1 of 1
        appendSegment(segments, char(0xE2), header, kIccHeaderSize, profile.constData(),
                      profile.size());
    }
    return segments;
}
