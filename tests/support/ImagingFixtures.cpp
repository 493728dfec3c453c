#include "ImagingFixtures.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <jpeglib.h>
#include <libheif/heif.h>
#include <memory>
#include <tiffio.h>
#include <tuple>
#include <vector>

namespace ImagingFixtures {

QImage quadrantPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = width / 2, h = height / 2;
    painter.fillRect(0, 0, w, h, Qt::red);
    painter.fillRect(w, 0, width - w, h, Qt::green);
    painter.fillRect(0, h, w, height - h, Qt::blue);
    painter.fillRect(w, h, width - w, height - h, Qt::white);
    return image;
}

QImage storedForOrientation(const QImage &upright, int orientation)
{
    // Per tag: whether rows and columns swap, whether upright x or y runs backwards.
    static const bool rules[9][3] = {{},        {0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1},
                                     {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {1, 0, 1}};
    const auto &[swap, backwardsX, backwardsY] =
        rules[orientation >= 1 && orientation <= 8 ? orientation : 1];
    const int dw = upright.width(), dh = upright.height();
    QImage stored(swap ? dh : dw, swap ? dw : dh, QImage::Format_RGB32);
    for (int sy = 0; sy < stored.height(); ++sy) {
        for (int sx = 0; sx < stored.width(); ++sx) {
            const int ux = swap ? sy : sx, uy = swap ? sx : sy;
            stored.setPixel(
                sx, sy,
                upright.pixel(backwardsX ? dw - 1 - ux : ux, backwardsY ? dh - 1 - uy : uy));
        }
    }
    return stored;
}

bool colourNear(QColor actual, QColor expected, int tolerance)
{
    return qMax(qMax(qAbs(actual.red() - expected.red()), qAbs(actual.green() - expected.green())),
                qAbs(actual.blue() - expected.blue())) <= tolerance;
}

QImage filled(QSize size, QColor colour, QImage::Format format)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

bool hasUprightQuadrants(const QImage &image, int tolerance)
{
    if (image.isNull() || image.width() <= image.height())
        return false;
    const auto near = [&](qreal fx, qreal fy, QColor expected) {
        return colourNear(image.pixelColor(int(image.width() * fx), int(image.height() * fy)),
                          expected, tolerance);
    };
    return near(0.25, 0.25, Qt::red) && near(0.75, 0.25, Qt::green) && near(0.25, 0.75, Qt::blue) &&
           near(0.75, 0.75, Qt::white);
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeJpeg(const QString &path, const QImage &image, int quality)
{
    return image.save(path, "jpeg", quality) ? path : QString();
}

bool writePlainJpeg(const QString &path, int width, int height, QColor colour)
{
    FILE *out = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!out)
        return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = JDIMENSION(width), info.image_height = JDIMENSION(height);
    info.input_components = 3, info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 80, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row;
    for (int x = 0; x < width; ++x)
        row.insert(row.end(),
                   {JSAMPLE(colour.red()), JSAMPLE(colour.green()), JSAMPLE(colour.blue())});
    JSAMPROW rows[1] = {row.data()};
    while (info.next_scanline < info.image_height)
        jpeg_write_scanlines(&info, rows, 1);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(out) == 0;
}

QByteArray jpegBytes(const QImage &image, int quality)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg", quality);
    return buffer.data();
}

void editExif(const QString &path, const std::function<void(Exiv2::ExifData &)> &edit)
{
    auto file = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    file->readMetadata();
    Exiv2::ExifData exif = file->exifData();
    edit(exif);
    file->setExifData(exif);
    file->writeMetadata();
}

void addExifTags(const QString &path, const QList<ExifTag> &tags)
{
    editExif(path, [&](Exiv2::ExifData &exif) {
        for (const ExifTag &tag : tags) {
            const auto value = Exiv2::Value::create(tag.type);
            value->read(tag.value);
            exif.add(Exiv2::ExifKey(tag.key), value.get());
        }
    });
}

void setExifOrientation(const QString &path, int orientation)
{
    editExif(path, [&](Exiv2::ExifData &exif) {
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
    });
}

namespace {

quint32 read32(const QByteArray &data, qsizetype at)
{
    return quint32(uchar(data[at])) << 24 | quint32(uchar(data[at + 1])) << 16 |
           quint32(uchar(data[at + 2])) << 8 | uchar(data[at + 3]);
}
quint16 read16(const QByteArray &data, qsizetype at)
{
    return quint16(uchar(data[at]) << 8 | uchar(data[at + 1]));
}
QByteArray bigEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char(value >> (8 * i) & 0xFF));
    return out;
}

// Where each direct child box of [from, to) starts, by type (32-bit sizes only).
QHash<QByteArray, qsizetype> childBoxes(const QByteArray &data, qsizetype from, qsizetype to)
{
    QHash<QByteArray, qsizetype> boxes;
    for (qsizetype at = from; at + 8 <= to && read32(data, at) >= 8; at += read32(data, at))
        boxes.insert(data.mid(at + 4, 4), at);
    return boxes;
}

// Scalar fields as tag, value, tag, value...
void setFields(TIFF *tif, std::initializer_list<int> tagsAndValues)
{
    for (auto it = tagsAndValues.begin(); it + 1 < tagsAndValues.end(); it += 2)
        TIFFSetField(tif, ttag_t(it[0]), it[1]);
}

heif_image *heifPicture(const QImage &image, bool alpha)
{
    const QImage pixels =
        image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    heif_image *picture = nullptr;
    heif_image_create(pixels.width(), pixels.height(), heif_colorspace_RGB,
                      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, pixels.width(), pixels.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < pixels.height(); ++y)
        memcpy(plane + y * stride, pixels.constScanLine(y),
               size_t(pixels.width()) * (alpha ? 4 : 3));
    return picture;
}

using HeifContext = std::unique_ptr<heif_context, decltype(&heif_context_free)>;

heif_encoder *heifEncoder(const HeifContext &context, bool avif)
{
    heif_encoder *encoder = nullptr;
    if (heif_context_get_encoder_for_format(
            context.get(), avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder)
            .code == heif_error_Ok)
        heif_encoder_set_lossy_quality(encoder, 90);
    return encoder;
}

QByteArray exifBlockWithOrientation(int orientation)
{
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = uint16_t(orientation);
    exif["Exif.Image.Make"] = std::string("HeifCam");
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    QByteArray block(4, '\0'); // offset to the TIFF header
    block.append(reinterpret_cast<const char *>(blob.data()), static_cast<qsizetype>(blob.size()));
    return block;
}

// gainMapParts: an alpha plane becomes the auxiliary image ('auxl'), and 'tmap' is
// added as metadata ('cdsc'), as far as libheif writes a phone's gain map.
bool encodeHeif(const QString &path, const QImage &image, bool avif, int orientation,
                int exifOrientation, int nclxPrimaries, int thumbnailSize,
                const QByteArray &iccProfile, bool gainMapParts)
{
    const HeifContext context(heif_context_alloc(), &heif_context_free);
    heif_encoder *encoder = heifEncoder(context, avif);
    if (!encoder)
        return false;
    heif_image *picture = heifPicture(image, gainMapParts);
    heif_color_profile_nclx *nclx = heif_nclx_color_profile_alloc();
    nclx->color_primaries = heif_color_primaries(nclxPrimaries);
    nclx->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
    nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(picture, nclx);
    if (!iccProfile.isEmpty())
        heif_image_set_raw_color_profile(picture, "prof", iccProfile.constData(),
                                         size_t(iccProfile.size()));
    heif_encoding_options *options = heif_encoding_options_alloc();
    options->output_nclx_profile = nclx;
    options->image_orientation = heif_orientation(orientation);
    options->macOS_compatibility_workaround_no_nclx_profile = 0; // write the nclx box
    heif_image_handle *handle = nullptr;
    bool ok = heif_context_encode_image(context.get(), picture, encoder, options, &handle).code ==
              heif_error_Ok;
    if (ok && thumbnailSize > 0) {
        heif_image_handle *thumbnail = nullptr;
        ok = heif_context_encode_thumbnail(context.get(), picture, handle, encoder, options,
                                           thumbnailSize, &thumbnail)
                 .code == heif_error_Ok;
        if (thumbnail)
            heif_image_handle_release(thumbnail);
    }
    const QByteArray toneMap(8, '\0');
    if (ok && gainMapParts)
        ok = heif_context_add_generic_metadata(context.get(), handle, toneMap.constData(),
                                               int(toneMap.size()), "tmap", nullptr)
                 .code == heif_error_Ok;
    if (ok && exifOrientation > 0) {
        const QByteArray block = exifBlockWithOrientation(exifOrientation);
        ok = heif_context_add_exif_metadata(context.get(), handle, block.constData(),
                                            int(block.size()))
                 .code == heif_error_Ok;
    }
    if (ok)
        ok = heif_context_write_to_file(context.get(), QFile::encodeName(path).constData()).code ==
             heif_error_Ok;
    if (handle)
        heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(picture);
    heif_encoder_release(encoder);
    return ok;
}

} // namespace

bool writeHeif(const QString &path, const QImage &image, bool avif, int orientation,
               int exifOrientation, int nclxPrimaries, int thumbnailSize,
               const QByteArray &iccProfile)
{
    return encodeHeif(path, image, avif, orientation, exifOrientation, nclxPrimaries, thumbnailSize,
                      iccProfile, false);
}

bool writeGainMapHeic(const QString &path, const QImage &image, int thumbnailSize)
{
    QFile file(path);
    if (!encodeHeif(path, image, false, 1, 0, 1, thumbnailSize, {}, true) ||
        !file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    // The auxiliary image also belongs to 'tmap', which is derived ('dimg') from the two.
    const qsizetype meta = childBoxes(data, 0, data.size()).value("meta", -1);
    if (meta < 0)
        return false;
    const qsizetype metaEnd = meta + read32(data, meta);
    const auto children = childBoxes(data, meta + 12, metaEnd);
    const qsizetype iref = children.value("iref", -1), iloc = children.value("iloc", -1);
    if (iref < 0 || iloc < 0 || data[iref + 8] != 0 || data[iloc + 8] != 0)
        return false; // only the layouts libheif writes: 16-bit item ids
    QByteArray references;
    quint16 primary = 0, auxiliary = 0, toneMapItem = 0;
    for (qsizetype at = iref + 12; at < iref + read32(data, iref); at += read32(data, at)) {
        const QByteArray type = data.mid(at + 4, 4);
        if (type == "auxl")
            auxiliary = read16(data, at + 8);
        else if (type == "cdsc")
            toneMapItem = read16(data, at + 8);
        else
            references += data.mid(at, read32(data, at));
        primary = read16(data, at + 12);
    }
    if (!auxiliary || !toneMapItem)
        return false;
    for (const auto &[type, from, to] :
         {std::tuple{"auxl", auxiliary, toneMapItem}, std::tuple{"dimg", toneMapItem, auxiliary}})
        references += bigEndian(16, 4) + type + bigEndian(from, 2) + bigEndian(2, 2) +
                      bigEndian(primary, 2) + bigEndian(to, 2);
    const QByteArray newIref =
        bigEndian(quint32(references.size() + 12), 4) + "iref" + bigEndian(0, 4) + references;
    const qsizetype growth = newIref.size() - read32(data, iref);
    // The pictures' data after the grown directory move (iloc version 0, 4-byte fields).
    const int itemCount = read16(data, iloc + 14);
    for (qsizetype at = iloc + 16, i = 0; i < itemCount; ++i) {
        data.replace(at + 4, 4, bigEndian(quint32(read32(data, at + 4) + growth), 4));
        at += 10 + read16(data, at + 8) * 8;
    }
    data.replace(iref, read32(data, iref), newIref);
    data.replace(meta, 4, bigEndian(quint32(metaEnd - meta + growth), 4));
    return file.seek(0) && file.write(data) == data.size();
}

bool writeTiledTiff16(const QString &path, const QImage &image, int tileSide)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    setFields(tif, {TIFFTAG_IMAGEWIDTH, image.width(), TIFFTAG_IMAGELENGTH, image.height(),
                    TIFFTAG_BITSPERSAMPLE, 16, TIFFTAG_SAMPLESPERPIXEL, 3, TIFFTAG_PHOTOMETRIC,
                    PHOTOMETRIC_RGB, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG, TIFFTAG_COMPRESSION,
                    COMPRESSION_ADOBE_DEFLATE, TIFFTAG_TILEWIDTH, tileSide, TIFFTAG_TILELENGTH,
                    tileSide});
    bool ok = true;
    std::vector<uint16_t> tile(size_t(tileSide) * size_t(tileSide) * 3);
    for (int top = 0; top < image.height(); top += tileSide) {
        for (int left = 0; left < image.width(); left += tileSide) {
            std::fill(tile.begin(), tile.end(), 0);
            for (int y = top; y < qMin(top + tileSide, image.height()); ++y) {
                for (int x = left; x < qMin(left + tileSide, image.width()); ++x) {
                    const QRgb colour = image.pixel(x, y);
                    uint16_t *pixel = &tile[(size_t(y - top) * tileSide + (x - left)) * 3];
                    for (const int value : {qRed(colour), qGreen(colour), qBlue(colour)})
                        *pixel++ = uint16_t(value * 257);
                }
            }
            ok = ok && TIFFWriteTile(tif, tile.data(), uint32_t(left), uint32_t(top), 0, 0) > 0;
        }
    }
    TIFFClose(tif);
    return ok;
}

bool writeDng(const QString &path, int width, int height, const QImage &preview, int orientation,
              double sensorFraction)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const QByteArray previewJpeg = jpegBytes(preview, 90);
    // IFD0: the preview as a reduced-resolution JPEG; illuminant 21 is D65.
    toff_t subIfdOffset = 0;
    const uint8_t dngVersion[4] = {1, 4, 0, 0};
    const int side[] = {preview.width(), preview.height()};
    setFields(tif, {TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE, TIFFTAG_IMAGEWIDTH, side[0],
                    TIFFTAG_IMAGELENGTH, side[1], TIFFTAG_ROWSPERSTRIP, side[1]});
    setFields(tif, {TIFFTAG_BITSPERSAMPLE, 8, TIFFTAG_SAMPLESPERPIXEL, 3, TIFFTAG_COMPRESSION,
                    COMPRESSION_JPEG, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR, TIFFTAG_PLANARCONFIG,
                    PLANARCONFIG_CONTIG, TIFFTAG_ORIENTATION, orientation,
                    TIFFTAG_CALIBRATIONILLUMINANT1, 21});
    TIFFSetField(tif, TIFFTAG_MAKE, "Kelvane");
    TIFFSetField(tif, TIFFTAG_MODEL, "Test Bayer");
    TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Kelvane Test Bayer");
    TIFFSetField(tif, TIFFTAG_DNGVERSION, dngVersion);
    TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, dngVersion);
    const float colorMatrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, neutral[3] = {1, 1, 1};
    TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, colorMatrix);
    TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    TIFFSetField(tif, TIFFTAG_SUBIFD, 1, &subIfdOffset);
    if (TIFFWriteRawStrip(tif, 0, const_cast<char *>(previewJpeg.constData()), previewJpeg.size()) <
            0 ||
        !TIFFWriteDirectory(tif)) {
        TIFFClose(tif);
        return false;
    }
    // SubIFD: an uncompressed RGGB mosaic (photometric 32803: CFA), grey with texture.
    const uint16_t cfaDim[2] = {2, 2};
    const uint8_t cfaPattern[4] = {0, 1, 1, 2};
    setFields(tif, {TIFFTAG_SUBFILETYPE, 0, TIFFTAG_IMAGEWIDTH, width, TIFFTAG_IMAGELENGTH, height,
                    TIFFTAG_BITSPERSAMPLE, 16, TIFFTAG_SAMPLESPERPIXEL, 1, TIFFTAG_COMPRESSION,
                    COMPRESSION_NONE, TIFFTAG_PHOTOMETRIC, 32803, TIFFTAG_PLANARCONFIG,
                    PLANARCONFIG_CONTIG, TIFFTAG_ROWSPERSTRIP, height});
    TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, cfaDim);
    TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, cfaPattern);
    const float white = 65535.0f;
    TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, &white);
    std::vector<uint16_t> mosaic(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mosaic[size_t(y) * width + x] = uint16_t(16000 + ((x / 8 + y / 8) % 2) * 8000);
    const auto bytes = tmsize_t(double(mosaic.size() * sizeof(uint16_t)) * sensorFraction);
    const bool ok = TIFFWriteRawStrip(tif, 0, mosaic.data(), bytes) >= 0 && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    return ok;
}

QString sample(const QString &relativePath)
{
    return QStringLiteral(KELVANE_SAMPLES_DIR "/") + relativePath;
}

} // namespace ImagingFixtures
