#include "imaging/StoredPreviews.h"

#include "imaging/ColorConverter.h"
#include "imaging/ImageOrientation.h"
#include "imaging/JpegDecoder.h"
#include "imaging/RawWorkLimit.h"
#include "model/LocalFileName.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <exiv2/exiv2.hpp>
#include <libraw/libraw.h>
#include <memory>

namespace {

// Exiv2 hands a preview kept in a TIFF directory (DNG previews, a full-size
// one among them) as a small TIFF around the stored data; when that data is
// one complete JPEG stream, the stream itself, so that it decodes reduced.
// Empty otherwise (several strips or tiles, shared JPEG tables, other codecs).
QByteArray jpegInsideTiff(const QByteArray &tiff)
{
    if (!tiff.startsWith("II*") && !tiff.startsWith("MM\0*"))
        return {};
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(tiff.constData()), size_t(tiff.size()));
        if (!image.get())
            return {};
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        const auto compression = exif.findKey(Exiv2::ExifKey("Exif.Image.Compression"));
        const auto offsets = exif.findKey(Exiv2::ExifKey("Exif.Image.StripOffsets"));
        const auto counts = exif.findKey(Exiv2::ExifKey("Exif.Image.StripByteCounts"));
        const auto tables = exif.findKey(Exiv2::ExifKey("Exif.Image.JPEGTables"));
        if (compression == exif.end() || offsets == exif.end() || counts == exif.end() ||
            tables != exif.end() || offsets->count() != 1 || counts->count() != 1)
            return {};
        const long codec = compression->toLong();
        if (codec != 7 && codec != 6)
            return {};
        const qint64 start = offsets->toLong(), length = counts->toLong();
        if (start < 0 || length <= 2 || start > tiff.size() - length)
            return {};
        const QByteArray stream = tiff.mid(qsizetype(start), qsizetype(length));
        return stream.startsWith("\xFF\xD8") ? stream : QByteArray();
    } catch (const std::exception &) {
        return {};
    }
}

// Decodes preview bytes as stored, without their own orientation tag: a
// preview follows the orientation of the file that holds it. JPEG previews
// (nearly all of them, often full-size in RAW files) are reduced in the DCT
// domain to the smallest scale that still reaches maxSize.
QImage decodePreviewBytes(const QByteArray &bytes, qint64 maxPixels, qreal maxSize)
{
    const QByteArray jpeg = bytes.startsWith("\xFF\xD8") ? bytes : jpegInsideTiff(bytes);
    if (!jpeg.isEmpty()) {
        QImage image =
            JpegDecoder::decode(jpeg, maxPixels, maxSize, JpegDecoder::Orientation::asStored);
        if (!image.isNull())
            return image;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > maxPixels)
        return {};
    return reader.read();
}

qint64 longerSide(const Exiv2::PreviewProperties &p)
{
    return std::max(p.width_, p.height_);
}

// Candidates in the order they should be tried.
std::vector<Exiv2::PreviewProperties> rankPreviews(Exiv2::PreviewPropertiesList list, qreal maxSize)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const auto &a, const auto &b) { return longerSide(a) < longerSide(b); });
    std::vector<Exiv2::PreviewProperties> ranked;
    if (maxSize > 0) {
        // The covering ones, smallest first, then the rest, largest first.
        for (const auto &p : list)
            if (longerSide(p) >= maxSize)
                ranked.push_back(p);
        for (auto it = list.rbegin(); it != list.rend(); ++it)
            if (longerSide(*it) < maxSize)
                ranked.push_back(*it);
    } else {
        ranked.assign(list.rbegin(), list.rend());
    }
    return ranked;
}

int exiv2Orientation(const Exiv2::ExifData &exif)
{
    const auto it = Exiv2::orientation(exif);
    if (it == exif.end() || it->count() == 0)
        return 0;
    const long value = it->toLong();
    return value >= 1 && value <= 8 ? int(value) : 0;
}

} // namespace

QImage StoredPreviews::load(const QString &path, qreal maxSize, qint64 maxPixels, Source source)
{
    int orientation = 0; // 0: not known yet
    QImage image = loadWithExiv2(path, maxSize, maxPixels, &orientation);
    if (image.isNull() && source == Source::exiv2ThenLibRaw)
        image = loadWithLibRaw(path, maxSize, maxPixels, orientation ? nullptr : &orientation);
    if (image.isNull())
        return {};
    return ColorConverter::toSRGB(ImageOrientation::apply(image, orientation));
}

StoredPreviews::JpegPreview StoredPreviews::largestJpeg(const QString &path)
{
    JpegPreview found;
    try {
        auto file = Exiv2::ImageFactory::open(LocalFileName::encode(path).toStdString());
        if (file.get()) {
            file->readMetadata();
            found.orientation = exiv2Orientation(file->exifData());
            Exiv2::PreviewManager manager(*file);
            const auto ranked = rankPreviews(manager.getPreviewProperties(), 0);
            if (!ranked.empty()) {
                const Exiv2::PreviewImage preview = manager.getPreviewImage(ranked.front());
                const QByteArray bytes(reinterpret_cast<const char *>(preview.pData()),
                                       static_cast<qsizetype>(preview.size()));
                found.jpeg = bytes.startsWith("\xFF\xD8") ? bytes : jpegInsideTiff(bytes);
                return found;
            }
        }
    } catch (const std::exception &) {
        // Unreadable metadata: LibRaw may still find the preview.
    }
    auto raw = std::make_unique<LibRaw>(0);
    RawWorkLimit input(path, *raw);
    if (input.open() != LIBRAW_SUCCESS || raw->unpack_thumb() != LIBRAW_SUCCESS ||
        raw->imgdata.thumbnail.tformat != LIBRAW_THUMBNAIL_JPEG || !raw->imgdata.thumbnail.thumb)
        return found;
    if (found.orientation == 0)
        found.orientation = ImageOrientation::fromLibRawFlip(raw->imgdata.sizes.flip);
    const libraw_thumbnail_t &thumb = raw->imgdata.thumbnail;
    const QByteArray bytes(thumb.thumb, qsizetype(thumb.tlength));
    if (bytes.startsWith("\xFF\xD8"))
        found.jpeg = bytes;
    return found;
}

QImage StoredPreviews::loadWithExiv2(const QString &path, qreal maxSize, qint64 maxPixels,
                                     int *orientation)
{
    try {
        auto file = Exiv2::ImageFactory::open(LocalFileName::encode(path).toStdString());
        if (!file.get())
            return {};
        file->readMetadata();
        *orientation = exiv2Orientation(file->exifData());
        Exiv2::PreviewManager manager(*file);
        for (const auto &properties : rankPreviews(manager.getPreviewProperties(), maxSize)) {
            const Exiv2::PreviewImage preview = manager.getPreviewImage(properties);
            const QByteArray bytes(reinterpret_cast<const char *>(preview.pData()),
                                   static_cast<qsizetype>(preview.size()));
            QImage image = decodePreviewBytes(bytes, maxPixels, maxSize);
            if (!image.isNull())
                return image;
        }
    } catch (const std::exception &) {
        // Unreadable or unsupported metadata: no preview from Exiv2.
    }
    return {};
}

QImage StoredPreviews::loadWithLibRaw(const QString &path, qreal maxSize, qint64 maxPixels,
                                      int *orientation)
{
    auto raw = std::make_unique<LibRaw>(0);
    RawWorkLimit input(path, *raw);
    if (input.open() != LIBRAW_SUCCESS)
        return {};
    if (orientation)
        *orientation = ImageOrientation::fromLibRawFlip(raw->imgdata.sizes.flip);
    const libraw_thumbnail_t &thumb = raw->imgdata.thumbnail;
    if (qint64(thumb.twidth) * thumb.theight > maxPixels || raw->unpack_thumb() != LIBRAW_SUCCESS)
        return {};
    int error = 0;
    libraw_processed_image_t *memory = raw->dcraw_make_mem_thumb(&error);
    if (!memory)
        return {};
    QImage image;
    if (memory->type == LIBRAW_IMAGE_JPEG) {
        image = decodePreviewBytes(QByteArray(reinterpret_cast<const char *>(memory->data),
                                              static_cast<qsizetype>(memory->data_size)),
                                   maxPixels, maxSize);
    } else if (memory->type == LIBRAW_IMAGE_BITMAP && memory->colors == 3 && memory->bits == 8 &&
               qint64(memory->width) * memory->height * 3 <= qint64(memory->data_size)) {
        image = QImage(memory->data, memory->width, memory->height, memory->width * 3,
                       QImage::Format_RGB888)
                    .copy();
    }
    LibRaw::dcraw_clear_mem(memory);
    return image;
}
