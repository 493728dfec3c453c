#include "imaging/JpegDecoder.h"

#include "imaging/ColorConverter.h"
#include "imaging/ImageOrientation.h"

#include <map>
#include <turbojpeg.h>

namespace {

quint16 readU16(const uchar *p, bool bigEndian)
{
    return bigEndian ? quint16(p[0] << 8 | p[1]) : quint16(p[1] << 8 | p[0]);
}

quint32 readU32(const uchar *p, bool bigEndian)
{
    return bigEndian ? quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]
                     : quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
}

// Orientation from the IFD0 of a TIFF structure (the body of an EXIF segment).
int tiffOrientation(const uchar *tiff, qsizetype size)
{
    if (size < 8)
        return 1;
    const bool bigEndian = tiff[0] == 'M';
    if (!(tiff[0] == tiff[1] && (tiff[0] == 'M' || tiff[0] == 'I')))
        return 1;
    const quint32 ifd = readU32(tiff + 4, bigEndian);
    if (ifd > size - 2)
        return 1;
    const quint16 count = readU16(tiff + ifd, bigEndian);
    for (quint32 i = 0; i < count; ++i) {
        const qint64 entry = qint64(ifd) + 2 + qint64(i) * 12;
        if (entry + 12 > size)
            return 1;
        const uchar *e = tiff + entry;
        const quint16 tag = readU16(e, bigEndian);
        const quint16 type = readU16(e + 2, bigEndian);
        if (tag == 0x0112 && type == 3) { // SHORT
            const int value = readU16(e + 8, bigEndian);
            return value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

struct TjHandle
{
    tjhandle handle = tjInitDecompress();
    ~TjHandle()
    {
        if (handle)
            tjDestroy(handle);
    }
};

} // namespace

JpegDecoder::Metadata JpegDecoder::readMetadata(const QByteArray &data)
{
    Metadata metadata;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qsizetype size = data.size();
    std::map<int, QByteArray> iccChunks;
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (bytes[pos] != 0xFF)
            break;
        const uchar marker = bytes[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // start of scan, end of image
            break;
        const qsizetype length = readU16(bytes + pos + 2, true);
        if (length < 2 || pos + 2 + length > size)
            break;
        const uchar *body = bytes + pos + 4;
        const qsizetype bodySize = length - 2;
        if (marker == 0xE1 && bodySize > 6 && memcmp(body, "Exif\0\0", 6) == 0) {
            metadata.orientation = tiffOrientation(body + 6, bodySize - 6);
        } else if (marker == 0xE2 && bodySize > 14 && memcmp(body, "ICC_PROFILE\0", 12) == 0) {
            iccChunks[body[12]] =
                QByteArray(reinterpret_cast<const char *>(body + 14), bodySize - 14);
        }
        pos += 2 + length;
    }
    for (const auto &[sequence, chunk] : iccChunks)
        metadata.iccProfile += chunk;
    return metadata;
}

bool JpegDecoder::dataCanHold(QSize declared, qint64 dataSize, qint64 maxPixels)
{
    // Every 8 x 8 block of the first component costs at least one bit of
    // entropy-coded data, so a file far smaller than that declares pixels it
    // does not have: a decompression bomb, not a panorama. Only pictures over
    // the limit are checked; a truncated photo of ordinary size still shows
    // what it has.
    const qint64 pixels = qint64(declared.width()) * declared.height();
    return pixels <= maxPixels || dataSize >= pixels / 512;
}

QSize JpegDecoder::decodedSize(QSize declared, qint64 maxPixels, qreal maxSize)
{
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    // TurboJPEG lists its factors largest first.
    QSize chosen;
    for (int i = 0; i < count; ++i) {
        if (factors[i].num > factors[i].denom)
            continue; // never enlarged
        const QSize scaled(TJSCALED(declared.width(), factors[i]),
                           TJSCALED(declared.height(), factors[i]));
        if (scaled.isEmpty() || qint64(scaled.width()) * scaled.height() > maxPixels)
            continue;
        if (maxSize <= 0)
            return scaled;
        if (qMax(scaled.width(), scaled.height()) < maxSize)
            return chosen.isValid() ? chosen : scaled;
        chosen = scaled;
    }
    return chosen;
}

QImage JpegDecoder::decode(const QByteArray &data, qint64 maxPixels, qreal maxSize,
                           Orientation orientation)
{
    TjHandle tj;
    if (!tj.handle || data.isEmpty())
        return {};
    const auto *jpeg = reinterpret_cast<const unsigned char *>(data.constData());
    const auto jpegSize = static_cast<unsigned long>(data.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj.handle, jpeg, jpegSize, &width, &height, &subsampling,
                            &colourspace) != 0)
        return {};
    if (width <= 0 || height <= 0 || !dataCanHold(QSize(width, height), jpegSize, maxPixels))
        return {};
    if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK)
        return {}; // Qt's reader converts these
    const QSize size = decodedSize(QSize(width, height), maxPixels, maxSize);
    if (!size.isValid())
        return {};
    width = size.width();
    height = size.height();
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    // BGRX in memory is Format_RGB32 on little-endian machines; libjpeg-turbo
    // fills the X byte with 0xFF.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    const int result = tjDecompress2(tj.handle, jpeg, jpegSize, image.bits(), width,
                                     static_cast<int>(image.bytesPerLine()), height, TJPF_BGRX, 0);
    // Warnings (such as a file cut short) still give a picture, the missing
    // part grey, as other viewers show it.
    if (result != 0 && tjGetErrorCode(tj.handle) != TJERR_WARNING)
        return {};
    const Metadata metadata = readMetadata(data);
    if (orientation == Orientation::applyTag)
        image = ImageOrientation::apply(image, metadata.orientation);
    return ColorConverter::toSRGB(std::move(image), metadata.iccProfile);
}
