#include "imaging/WebpDecoder.h"

#include "imaging/ColorConverter.h"
#include "imaging/DecodeLimits.h"
#include "imaging/ImageBuffer.h"

#include <cmath>
#include <webp/decode.h>
#include <webp/demux.h>

namespace {

QByteArray iccProfileOf(const QByteArray &data)
{
    WebPData webp{reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size())};
    WebPDemuxer *demux = WebPDemux(&webp);
    if (!demux)
        return {};
    QByteArray profile;
    WebPChunkIterator chunk;
    if ((WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) &&
        WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        profile = QByteArray(reinterpret_cast<const char *>(chunk.chunk.bytes),
                             qsizetype(chunk.chunk.size));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return profile;
}

QSize reducedSize(QSize full, qreal maxSize)
{
    if (maxSize <= 0 || qMax(full.width(), full.height()) <= maxSize)
        return full;
    const int limit = qMax(1, int(std::ceil(maxSize)));
    return full.scaled(limit, limit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

} // namespace

QImage WebpDecoder::decodeScaled(const QByteArray &data, qreal maxSize, qint64 maxPixels)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return {};
    const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
    if (WebPGetFeatures(bytes, size_t(data.size()), &config.input) != VP8_STATUS_OK ||
        config.input.has_animation || config.input.width <= 0 || config.input.height <= 0 ||
        !DecodeLimits::fileCanHold(QSize(config.input.width, config.input.height), data.size()))
        return {};
    const QSize size = reducedSize(QSize(config.input.width, config.input.height), maxSize);
    if (qint64(size.width()) * size.height() > maxPixels)
        return {};
    const bool alpha = config.input.has_alpha;
    QImage image =
        ImageBuffer::allocate(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return {};
    if (size.width() != config.input.width || size.height() != config.input.height) {
        config.options.use_scaling = 1;
        config.options.scaled_width = size.width();
        config.options.scaled_height = size.height();
    }
    // QImage's 32-bit formats are 0xAARRGGBB words: BGRA bytes on little-endian.
    config.output.colorspace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(bytes, size_t(data.size()), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return {};
    return ColorConverter::toSRGB(std::move(image), iccProfileOf(data));
}
