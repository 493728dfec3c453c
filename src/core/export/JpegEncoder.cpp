#include "export/JpegEncoder.h"

#include <QtEndian>
#include <cmath>
#include <cstring>
#include <memory>
#include <turbojpeg.h>

namespace {

struct TjHandleDeleter
{
    void operator()(void *handle) const { tjDestroy(handle); }
};

struct TjBufferDeleter
{
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

// 0xAARRGGBB words as they lie in memory.
constexpr int kArgb32PixelFormat =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB;

// Where the stream continues after SOI and the JFIF APP0 segment libjpeg
// writes first: the place for further APPn segments.
qsizetype headerEnd(const unsigned char *jpeg, unsigned long size)
{
    qsizetype at = 2; // after SOI
    if (size >= 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) {
        const qsizetype app0 = 2 + (qsizetype(jpeg[4]) << 8 | jpeg[5]);
        if (at + app0 <= qsizetype(size))
            at += app0;
    }
    return at;
}

} // namespace

QByteArray JpegEncoder::encode(const QImage &image, double quality, QByteArrayView segments)
{
    if (image.isNull() || !std::isfinite(quality))
        return {};
    QImage pixels = image;
    switch (pixels.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        pixels = pixels.convertToFormat(QImage::Format_RGB32);
        if (pixels.isNull())
            return {};
    }

    std::unique_ptr<void, TjHandleDeleter> handle(tjInitCompress());
    if (!handle)
        return {};
    const int jpegQuality = std::clamp(int(std::lround(quality * 100)), 1, 100);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(handle.get(), pixels.constBits(), pixels.width(),
                                   int(pixels.bytesPerLine()), pixels.height(), kArgb32PixelFormat,
                                   &buffer, &size, TJSAMP_420, jpegQuality, 0);
    std::unique_ptr<unsigned char, TjBufferDeleter> owned(buffer);
    if (result != 0 || !buffer || size < 4)
        return {};
    const auto *stream = reinterpret_cast<const char *>(buffer);
    const qsizetype insertAt = headerEnd(buffer, size);
    QByteArray jpeg(qsizetype(size) + segments.size(), Qt::Uninitialized);
    char *out = jpeg.data();
    std::memcpy(out, stream, size_t(insertAt));
    if (!segments.isEmpty())
        std::memcpy(out + insertAt, segments.data(), size_t(segments.size()));
    std::memcpy(out + insertAt + segments.size(), stream + insertAt, size - size_t(insertAt));
    return jpeg;
}
