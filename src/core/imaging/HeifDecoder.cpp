#include "imaging/HeifDecoder.h"

#include "imaging/ColorConverter.h"
#include "imaging/DecodeLimits.h"
#include "imaging/HeifLinkRepair.h"
#include "imaging/ImageBuffer.h"
#include "model/LocalFileName.h"

#include <QFile>
#include <algorithm>
#include <libheif/heif.h>
#include <memory>
#include <vector>

namespace {

struct ContextDeleter
{
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleDeleter
{
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct ImageDeleter
{
    void operator()(heif_image *i) const { heif_image_release(i); }
};
using ContextPtr = std::unique_ptr<heif_context, ContextDeleter>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;
using ImagePtr = std::unique_ptr<heif_image, ImageDeleter>;

// A context reading a file, with the bytes it reads from when they are in
// memory (declared first: they must outlive the context).
struct OpenFile
{
    QByteArray bytes;
    ContextPtr context;

    explicit operator bool() const { return bool(context); }
};

ContextPtr newContext()
{
    ContextPtr context(heif_context_alloc());
    // Width and height cap checked by libheif while parsing, before decoding.
    if (context)
        heif_context_set_maximum_image_size_limit(context.get(), 65535);
    return context;
}

// Larger files are not read into memory for a repair.
constexpr qint64 largestRepairedFile = qint64(256) << 20;

OpenFile openContext(const QString &path)
{
    OpenFile open{{}, newContext()};
    if (!open.context)
        return {};
    if (heif_context_read_from_file(open.context.get(), LocalFileName::encode(path).constData(),
                                    nullptr)
            .code == heif_error_Ok)
        return open;
    // Refused: perhaps for links between items that this libheif does not
    // take (iPhone photos since iOS 18), which a repaired copy makes plain.
    QFile file;
    if (!LocalFileName::openForReading(file, path) || file.size() > largestRepairedFile)
        return {};
    open.bytes = HeifLinkRepair::repaired(file.readAll());
    open.context = newContext();
    if (open.bytes.isEmpty() || !open.context ||
        heif_context_read_from_memory_without_copy(open.context.get(), open.bytes.constData(),
                                                   size_t(open.bytes.size()), nullptr)
                .code != heif_error_Ok)
        return {};
    return open;
}

HandlePtr primaryHandle(heif_context *context)
{
    heif_image_handle *handle = nullptr;
    if (heif_context_get_primary_image_handle(context, &handle).code != heif_error_Ok)
        return {};
    return HandlePtr(handle);
}

int longerSide(const heif_image_handle *handle)
{
    return std::max(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
}

HandlePtr chooseThumbnail(heif_image_handle *primary, qreal maxSize)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0)
        return {};
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    std::vector<HandlePtr> thumbnails;
    for (heif_item_id id : ids) {
        heif_image_handle *thumbnail = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &thumbnail).code == heif_error_Ok)
            thumbnails.emplace_back(thumbnail);
    }
    std::sort(thumbnails.begin(), thumbnails.end(), [](const auto &a, const auto &b) {
        return longerSide(a.get()) < longerSide(b.get());
    });
    if (thumbnails.empty())
        return {};
    for (auto &thumbnail : thumbnails)
        if (longerSide(thumbnail.get()) >= maxSize)
            return std::move(thumbnail);
    return std::move(thumbnails.back());
}

QColorSpace colourSpaceOf(const heif_image_handle *handle, QByteArray *iccProfile)
{
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        QByteArray profile(static_cast<qsizetype>(size), Qt::Uninitialized);
        if (size > 0 &&
            heif_image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok)
            *iccProfile = profile;
        return {};
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx *nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok)
            return {};
        const QColorSpace space =
            ColorConverter::fromCicp(nclx->color_primaries, nclx->transfer_characteristics);
        heif_nclx_color_profile_free(nclx);
        return space;
    }
    default:
        return {};
    }
}

// Declared pixels against the pixel limit and the file's bytes, before
// libheif allocates the picture.
QImage decodeHandle(heif_image_handle *handle, qint64 maxPixels, qint64 fileBytes)
{
    const int width = heif_image_handle_get_width(handle);
    const int height = heif_image_handle_get_height(handle);
    if (width <= 0 || height <= 0 || qint64(width) * height > maxPixels ||
        !DecodeLimits::fileCanHold(QSize(width, height), fileBytes))
        return {};
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)> options(
        heif_decoding_options_alloc(), &heif_decoding_options_free);
    heif_image *decoded = nullptr;
    const heif_error error = heif_decode_image(
        handle, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (error.code != heif_error_Ok || !decoded)
        return {};
    ImagePtr image(decoded);
    int stride = 0;
    const uint8_t *plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int outWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int outHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!plane || outWidth <= 0 || outHeight <= 0 ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        return {};
    const QImage::Format format = alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    QImage result = ImageBuffer::allocate(QSize(outWidth, outHeight), format);
    if (result.isNull())
        return {};
    const qsizetype rowBytes = qsizetype(outWidth) * (alpha ? 4 : 3);
    for (int y = 0; y < outHeight; ++y)
        memcpy(result.scanLine(y), plane + qsizetype(y) * stride, static_cast<size_t>(rowBytes));
    // HEVC streams may carry their colour only in the bitstream (VUI), which
    // the decoded image reports but the handle does not.
    heif_color_profile_nclx *nclx = nullptr;
    if (heif_image_get_color_profile_type(image.get()) == heif_color_profile_type_nclx &&
        heif_image_get_nclx_color_profile(image.get(), &nclx).code == heif_error_Ok && nclx) {
        result.setColorSpace(
            ColorConverter::fromCicp(nclx->color_primaries, nclx->transfer_characteristics));
        heif_nclx_color_profile_free(nclx);
    }
    return result;
}

} // namespace

QImage HeifDecoder::decode(const QString &path, qreal maxSize, qint64 maxPixels, bool *isThumbnail)
{
    const OpenFile open = openContext(path);
    if (!open)
        return {};
    const HandlePtr primary = primaryHandle(open.context.get());
    if (!primary)
        return {};
    HandlePtr thumbnail = maxSize > 0 ? chooseThumbnail(primary.get(), maxSize) : HandlePtr();
    heif_image_handle *chosen = thumbnail ? thumbnail.get() : primary.get();
    QImage image = decodeHandle(chosen, maxPixels, DecodeLimits::fileSize(path));
    if (image.isNull())
        return {};
    if (isThumbnail)
        *isThumbnail = chosen != primary.get();
    QByteArray iccProfile;
    QColorSpace space = colourSpaceOf(chosen, &iccProfile);
    if (!space.isValid() && iccProfile.isEmpty() && chosen != primary.get())
        space = colourSpaceOf(primary.get(), &iccProfile);
    if (space.isValid())
        image.setColorSpace(space);
    return ColorConverter::toSRGB(std::move(image), iccProfile);
}

QByteArray HeifDecoder::exifBlock(const QString &path)
{
    const OpenFile open = openContext(path);
    if (!open)
        return {};
    const HandlePtr primary = primaryHandle(open.context.get());
    if (!primary)
        return {};
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(primary.get(), "Exif", &id, 1) != 1)
        return {};
    const size_t size = heif_image_handle_get_metadata_size(primary.get(), id);
    if (size < 4)
        return {};
    QByteArray block(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(primary.get(), id, block.data()).code != heif_error_Ok)
        return {};
    // The block starts with a 32-bit offset to the TIFF header.
    const auto *bytes = reinterpret_cast<const uchar *>(block.constData());
    const quint32 offset =
        quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
    if (offset > size - 4)
        return {};
    return block.mid(4 + offset);
}

QSize HeifDecoder::shownSize(const QString &path)
{
    const OpenFile open = openContext(path);
    if (!open)
        return {};
    const HandlePtr primary = primaryHandle(open.context.get());
    if (!primary)
        return {};
    return QSize(heif_image_handle_get_width(primary.get()),
                 heif_image_handle_get_height(primary.get()));
}
