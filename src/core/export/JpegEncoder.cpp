#include "export/JpegEncoder.h"

#include <QtEndian>
#include <cmath>
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

} // namespace

QByteArray JpegEncoder::encode(const QImage &image, double quality)
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
    if (result != 0 || !buffer || size == 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(buffer), qsizetype(size));
}
