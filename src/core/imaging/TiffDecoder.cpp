#include "imaging/TiffDecoder.h"

#include "imaging/ColorConverter.h"
#include "imaging/DecodeLimits.h"
#include "imaging/ImageBuffer.h"
#include "imaging/ImageOrientation.h"
#include "model/LocalFileName.h"

#include <cstdarg>
#include <memory>
#include <tiffio.h>

namespace {

struct TiffCloser
{
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};

QByteArray iccProfileOf(TIFF *tiff)
{
    uint32_t size = 0;
    void *data = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &data) != 1 || !data)
        return {};
    return QByteArray(static_cast<const char *>(data), qsizetype(size));
}

// Handles libtiff's messages for one file, which then reach no other handler.
int ignoreMessage(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

TIFF *openQuietly(const QString &path)
{
    const std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(
        TIFFOpenOptionsAlloc(), &TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &ignoreMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &ignoreMessage, nullptr);
    return TIFFOpenExt(LocalFileName::encode(path).constData(), "r", options.get());
}

} // namespace

QImage TiffDecoder::decode(const QString &path, qint64 maxPixels)
{
    const std::unique_ptr<TIFF, TiffCloser> tiff(openQuietly(path));
    char reason[1024] = {};
    if (!tiff || !TIFFRGBAImageOK(tiff.get(), reason))
        return {};
    TIFFRGBAImage reader = {};
    if (!TIFFRGBAImageBegin(&reader, tiff.get(), 0, reason))
        return {};
    const std::unique_ptr<TIFFRGBAImage, decltype(&TIFFRGBAImageEnd)> readerEnd(&reader,
                                                                                &TIFFRGBAImageEnd);
    const int width = int(reader.width), height = int(reader.height);
    if (width <= 0 || height <= 0 || qint64(width) * height > maxPixels ||
        !DecodeLimits::fileCanHold(QSize(width, height), DecodeLimits::fileSize(path)))
        return {};
    // As stored: the orientation, rotations included, is applied below.
    reader.req_orientation = reader.orientation;
    // Each pixel is one 32-bit word A << 24 | B << 16 | G << 8 | R: bytes R, G,
    // B, A in memory on little-endian machines, with the alpha premultiplied.
    const bool alpha = reader.alpha != 0;
    QImage image =
        ImageBuffer::allocate(QSize(width, height), alpha ? QImage::Format_RGBA8888_Premultiplied
                                                          : QImage::Format_RGBX8888);
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGBA words are read as bytes");
    if (image.isNull() || image.bytesPerLine() != qsizetype(width) * 4 ||
        !TIFFRGBAImageGet(&reader, reinterpret_cast<uint32_t *>(image.bits()), reader.width,
                          reader.height))
        return {};
    return ColorConverter::toSRGB(ImageOrientation::apply(image, reader.orientation),
                                  iccProfileOf(tiff.get()));
}
