#include "imaging/JpegDecoder.h"

#include "imaging/ColorConverter.h"
#include "imaging/DecodeLimits.h"
#include "imaging/ImageBuffer.h"
#include "imaging/ImageOrientation.h"
#include "imaging/JpegErrorJump.h"

#include <algorithm>
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
#include <map>
#include <optional>
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

namespace {

struct JpegHeader
{
    int width = 0;
    int height = 0;
};

// The header of a JPEG TurboJPEG can decode into RGB, when its data can hold
// the pixels it declares.
std::optional<JpegHeader> readHeader(tjhandle tj, const QByteArray &data)
{
    if (!tj || data.isEmpty())
        return std::nullopt;
    const auto *jpeg = reinterpret_cast<const unsigned char *>(data.constData());
    JpegHeader header;
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj, jpeg, static_cast<unsigned long>(data.size()), &header.width,
                            &header.height, &subsampling, &colourspace) != 0)
        return std::nullopt;
    if (header.width <= 0 || header.height <= 0 ||
        !JpegDecoder::dataCanHold(QSize(header.width, header.height), data.size()))
        return std::nullopt;
    if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK)
        return std::nullopt; // Qt's reader converts these
    return header;
}

// Called by libjpeg while it reads scans and while it outputs rows: stops a
// file of more scans than any encoder writes, and a decode that is no longer
// wanted, by leaving through the error path.
struct JpegProgress
{
    jpeg_progress_mgr base;
    const JpegDecoder::KeepGoing *keepGoing;
    int calls;
};

void checkProgress(j_common_ptr info)
{
    const auto *decompress = reinterpret_cast<j_decompress_ptr>(info);
    auto *progress = reinterpret_cast<JpegProgress *>(info->progress);
    const bool tooManyScans = decompress->input_scan_number > JpegDecoder::maxScans;
    // The wish is asked every few calls: a call comes per row of blocks.
    const bool unwanted = *progress->keepGoing && ++progress->calls % 16 == 0 &&
                          !(*progress->keepGoing)(qreal(decompress->output_scanline) /
                                                  qMax(1u, decompress->output_height));
    if (tooManyScans || unwanted)
        JpegErrorJump::leave(info);
}

constexpr int rowsPerBand = 32;

// Decompresses into `image` (already sized for the scaled output). libjpeg
// rather than TurboJPEG's one-call API, so the decode can stop between bands
// of rows. Only plain C objects live in this frame: a fatal error longjmps
// back here.
bool decompressInto(QImage &image, const QByteArray &data, tjscalingfactor factor,
                    const JpegDecoder::KeepGoing &keepGoing)
{
    jpeg_decompress_struct info{};
    JpegErrorJump errors{};
    JpegProgress progress{{}, &keepGoing, 0};
    progress.base.progress_monitor = checkProgress;
    info.err = errors.install();
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    info.progress = &progress.base;
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    // BGRX in memory is Format_RGB32 on little-endian machines; libjpeg-turbo
    // fills the X byte with 0xFF.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    info.out_color_space = JCS_EXT_BGRX;
    info.scale_num = factor.num;
    info.scale_denom = factor.denom;
    jpeg_calc_output_dimensions(&info);
    if (int(info.output_width) != image.width() || int(info.output_height) != image.height()) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    bool stopped = false;
    while (info.output_scanline < info.output_height) {
        if (keepGoing && info.output_scanline % rowsPerBand == 0 &&
            !keepGoing(qreal(info.output_scanline) / info.output_height)) {
            stopped = true;
            break;
        }
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    if (stopped)
        jpeg_abort_decompress(&info);
    else
        jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    // Warnings (such as a file cut short) still give a picture, the missing
    // part grey, as other viewers show it.
    return !stopped;
}

// Decodes at `factor` (1/1 for full size), in sRGB, upright unless asStored;
// `metadata` is the file's own.
QImage decodeScaled(const QByteArray &data, const JpegHeader &header,
                    const JpegDecoder::Metadata &metadata, tjscalingfactor factor,
                    JpegDecoder::Orientation orientation, const JpegDecoder::KeepGoing &keepGoing)
{
    QImage image = ImageBuffer::allocate(
        QSize(TJSCALED(header.width, factor), TJSCALED(header.height, factor)),
        QImage::Format_RGB32);
    if (image.isNull() || !decompressInto(image, data, factor, keepGoing))
        return {};
    if (orientation == JpegDecoder::Orientation::applyTag)
        image = ImageOrientation::apply(image, metadata.orientation);
    return ColorConverter::toSRGB(std::move(image), metadata.iccProfile);
}

// The scaling factor that gives `scaled` from `declared`.
std::optional<tjscalingfactor> factorFor(QSize declared, QSize scaled)
{
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    for (int i = 0; i < count; ++i) {
        if (TJSCALED(declared.width(), factors[i]) == scaled.width() &&
            TJSCALED(declared.height(), factors[i]) == scaled.height())
            return factors[i];
    }
    return std::nullopt;
}

bool swapsAxes(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

} // namespace

bool JpegDecoder::dataCanHold(QSize declared, qint64 dataSize)
{
    // Every 8 x 8 block of the first component costs at least one bit of
    // entropy-coded data, so a file far smaller than that declares pixels it
    // does not have: a decompression bomb, not a panorama. Small pictures are
    // not checked; a truncated photo of ordinary size still shows what it has.
    return DecodeLimits::fileCanHold(declared, dataSize, DecodeLimits::jpegPixelsPerByte);
}

bool JpegDecoder::isPlausible(const QByteArray &data)
{
    // Entropy-coded data never holds FF DA (a coded FF is followed by 00),
    // so this counts the scans, and those of an embedded EXIF thumbnail.
    const QSize declared = declaredSize(data);
    return declared.isValid() && dataCanHold(declared, data.size()) &&
           data.count(QByteArrayView("\xFF\xDA", 2)) <= maxScans;
}

QSize JpegDecoder::declaredSize(const QByteArray &data)
{
    TjHandle tj;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (!tj.handle || data.isEmpty() ||
        tjDecompressHeader3(tj.handle, reinterpret_cast<const unsigned char *>(data.constData()),
                            static_cast<unsigned long>(data.size()), &width, &height, &subsampling,
                            &colourspace) != 0)
        return {};
    return QSize(width, height);
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
                           Orientation orientation, const KeepGoing &keepGoing)
{
    TjHandle tj;
    const std::optional<JpegHeader> header = readHeader(tj.handle, data);
    if (!header)
        return {};
    const QSize declared(header->width, header->height);
    const QSize size = decodedSize(declared, maxPixels, maxSize);
    const std::optional<tjscalingfactor> factor =
        size.isValid() ? factorFor(declared, size) : std::nullopt;
    if (!factor)
        return {};
    return decodeScaled(data, *header, readMetadata(data), *factor, orientation, keepGoing);
}

ViewPicture JpegDecoder::decodeCovering(const QByteArray &data, qint64 maxPixels, QSize view,
                                        const KeepGoing &keepGoing, int orientation)
{
    if (view.isEmpty())
        return {};
    TjHandle tj;
    const std::optional<JpegHeader> header = readHeader(tj.handle, data);
    if (!header)
        return {};
    Metadata metadata = readMetadata(data);
    if (orientation != 0)
        metadata.orientation = orientation;
    QSize full(header->width, header->height);
    if (swapsAxes(metadata.orientation))
        full.transpose();
    const double fit =
        std::min(double(view.width()) / full.width(), double(view.height()) / full.height());
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    std::optional<tjscalingfactor> best;
    for (int i = 0; i < count; ++i) {
        const double scale = double(factors[i].num) / factors[i].denom;
        const qint64 pixels =
            qint64(TJSCALED(header->width, factors[i])) * TJSCALED(header->height, factors[i]);
        if (scale >= fit && scale <= 0.5 && pixels <= maxPixels &&
            (!best || scale < double(best->num) / best->denom))
            best = factors[i];
    }
    if (!best)
        return {};
    ViewPicture picture{
        decodeScaled(data, *header, metadata, *best, Orientation::applyTag, keepGoing), full};
    if (picture.image.isNull())
        return {};
    return picture;
}
