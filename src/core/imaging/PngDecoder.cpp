#include "imaging/PngDecoder.h"

#include "imaging/ColorConverter.h"
#include "imaging/DecodeLimits.h"
#include "imaging/ImageBuffer.h"
#include "model/LocalFileName.h"

#include <QFile>
#include <cmath>
#include <csetjmp>
#include <memory>
#include <png.h>
#include <vector>

namespace {

// Everything that outlives a longjmp out of libpng lives here, on the heap,
// so the jump never skips a destructor or leaves a local indeterminate.
struct Decoding
{
    QFile file;
    QImage image;
    QByteArray iccProfile;
    std::vector<png_byte> row;
    std::vector<quint64> sums; // per output pixel of the current block row: B, G, R, A
    std::vector<quint32> counts;
};

void readFromFile(png_structp png, png_bytep data, png_size_t length)
{
    auto *decoding = static_cast<Decoding *>(png_get_io_ptr(png));
    if (decoding->file.read(reinterpret_cast<char *>(data), qint64(length)) != qint64(length))
        png_error(png, "file ends early");
}

void ignoreWarning(png_structp, png_const_charp)
{}

// Writes the averaged block row `outputRow` and clears the sums for the next.
void emitBlockRow(Decoding &d, int outputRow)
{
    auto *line = reinterpret_cast<QRgb *>(d.image.scanLine(outputRow));
    for (int x = 0; x < d.image.width(); ++x) {
        const quint64 n = qMax<quint32>(1, d.counts[size_t(x)]);
        const quint64 *s = &d.sums[size_t(x) * 4];
        line[x] = qRgba(int(s[2] / n), int(s[1] / n), int(s[0] / n), int(s[3] / n));
    }
    std::fill(d.sums.begin(), d.sums.end(), 0);
    std::fill(d.counts.begin(), d.counts.end(), 0);
}

void accumulateRow(Decoding &d, int factor)
{
    const int width = int(d.row.size() / 4);
    for (int x = 0; x < width; ++x) {
        const png_byte *p = &d.row[size_t(x) * 4]; // B, G, R, A after png_set_bgr
        quint64 *s = &d.sums[size_t(x / factor) * 4];
        s[0] += p[0];
        s[1] += p[1];
        s[2] += p[2];
        s[3] += p[3];
        ++d.counts[size_t(x / factor)];
    }
}

// Rows inflated between two questions whether the decode is still wanted.
constexpr png_uint_32 rowsPerBand = 64;

bool decodeRows(png_structp png, png_infop info, Decoding &d, qreal maxSize, qint64 maxPixels,
                const std::function<bool()> &stillWanted)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, &d, readFromFile);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
    // Inflating costs time by the declared pixels, however few are kept.
    if (interlace != PNG_INTERLACE_NONE || width == 0 || height == 0 || width > 1'000'000 ||
        height > 1'000'000 || qint64(width) * height > maxPixels ||
        !DecodeLimits::fileCanHold(QSize(int(width), int(height)), d.file.size()))
        return false;
    const bool alpha =
        (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    if (!alpha)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
        return false;

    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) && profile)
        d.iccProfile =
            QByteArray(reinterpret_cast<const char *>(profile), qsizetype(profileLength));

    const int longer = int(qMax(width, height));
    const int factor = maxSize > 0 ? qMax(1, int(std::floor(longer / maxSize))) : 1;
    const int outWidth = int((width + factor - 1) / factor);
    const int outHeight = int((height + factor - 1) / factor);
    if (qint64(outWidth) * outHeight > maxPixels)
        return false;
    d.image = ImageBuffer::allocate(QSize(outWidth, outHeight),
                                    alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (d.image.isNull())
        return false;
    d.row.resize(size_t(width) * 4);
    d.sums.assign(size_t(outWidth) * 4, 0);
    d.counts.assign(size_t(outWidth), 0);
    for (png_uint_32 y = 0; y < height; ++y) {
        if (stillWanted && y % rowsPerBand == 0 && !stillWanted())
            return false;
        png_read_row(png, d.row.data(), nullptr);
        accumulateRow(d, factor);
        if ((y + 1) % png_uint_32(factor) == 0 || y + 1 == height)
            emitBlockRow(d, int(y / png_uint_32(factor)));
    }
    return true;
}

} // namespace

QImage PngDecoder::decodeScaled(const QString &path, qreal maxSize, qint64 maxPixels,
                                const std::function<bool()> &stillWanted)
{
    auto decoding = std::make_unique<Decoding>();
    if (!LocalFileName::openForReading(decoding->file, path))
        return {};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, ignoreWarning);
    if (!png)
        return {};
    png_infop info = png_create_info_struct(png);
    const bool decoded = info && decodeRows(png, info, *decoding, maxSize, maxPixels, stillWanted);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (!decoded)
        return {};
    return ColorConverter::toSRGB(std::move(decoding->image), decoding->iccProfile);
}
