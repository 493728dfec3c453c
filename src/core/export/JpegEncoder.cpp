#include "export/JpegEncoder.h"

#include "imaging/JpegErrorJump.h"
#include "model/FileDescriptorWriter.h"

#include <QtEndian>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <turbojpeg.h>
#include <vector>
// After <cstdio>: jpeglib.h uses FILE and size_t without including them.
#include <jerror.h>
#include <jpeglib.h>

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

// The same words for the libjpeg API.
constexpr J_COLOR_SPACE kArgb32ColorSpace =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;

int jpegQualityOf(double quality)
{
    return std::clamp(int(std::lround(quality * 100)), 1, 100);
}

// `image` in a 32-bit format the encoder reads in place; null when it cannot be.
QImage encodable(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(QImage::Format_RGB32);
    }
}

const char *bytesOf(const std::vector<JOCTET> &buffer)
{
    return reinterpret_cast<const char *>(buffer.data());
}

// Hands the compressed stream to a file descriptor one buffer at a time.
struct DescriptorDestination
{
    static constexpr size_t kBufferBytes = size_t(1) << 20;

    jpeg_destination_mgr pub;
    int fd = -1;
    off_t written = 0; // bytes handed to the file so far
    std::vector<JOCTET> buffer = std::vector<JOCTET>(kBufferBytes);

    static DescriptorDestination *of(j_compress_ptr cinfo)
    {
        return reinterpret_cast<DescriptorDestination *>(cinfo->dest);
    }
    static void start(j_compress_ptr cinfo)
    {
        DescriptorDestination *self = of(cinfo);
        self->pub.next_output_byte = self->buffer.data();
        self->pub.free_in_buffer = self->buffer.size();
    }
    static boolean flushFull(j_compress_ptr cinfo)
    {
        DescriptorDestination *self = of(cinfo);
        if (!FileDescriptorWriter::writeAll(self->fd, bytesOf(self->buffer), self->buffer.size()))
            ERREXIT(cinfo, JERR_FILE_WRITE);
        // Starts the disk write of what is complete, without waiting for it:
        // the caller's final sync then has little left to wait for. A file
        // system that cannot do this just leaves it all to the sync.
        ::sync_file_range(self->fd, self->written, off_t(self->buffer.size()),
                          SYNC_FILE_RANGE_WRITE);
        self->written += off_t(self->buffer.size());
        start(cinfo);
        return TRUE;
    }
    static void finish(j_compress_ptr cinfo)
    {
        DescriptorDestination *self = of(cinfo);
        const size_t used = self->buffer.size() - self->pub.free_in_buffer;
        if (used > 0 && !FileDescriptorWriter::writeAll(self->fd, bytesOf(self->buffer), used))
            ERREXIT(cinfo, JERR_FILE_WRITE);
    }
};

// Writes every APPn segment of `segments` (marker, length, payload) as a
// marker of the stream; false when they are not well formed.
bool writeSegments(j_compress_ptr cinfo, QByteArrayView segments)
{
    const auto *bytes = reinterpret_cast<const uchar *>(segments.data());
    qsizetype at = 0;
    while (at < segments.size()) {
        if (segments.size() - at < 4 || bytes[at] != 0xFF || bytes[at + 1] < JPEG_APP0 ||
            bytes[at + 1] > JPEG_APP0 + 15)
            return false;
        const qsizetype length = qsizetype(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length < 2 || at + 2 + length > segments.size())
            return false;
        jpeg_write_marker(cinfo, bytes[at + 1], bytes + at + 4, unsigned(length - 2));
        at += 2 + length;
    }
    return true;
}

// The compression proper, set up as TurboJPEG's tjCompress2 does for 4:2:0
// (so both streams are the same bytes). Only trivially destructible locals
// here: an error jumps back into this frame.
bool compressRows(j_compress_ptr cinfo, JpegErrorJump &errors, QSize size,
                  const JpegEncoder::RowSupplier &supplier, int jpegQuality,
                  QByteArrayView segments)
{
    if (setjmp(errors.jump))
        return false;
    cinfo->image_width = JDIMENSION(size.width());
    cinfo->image_height = JDIMENSION(size.height());
    cinfo->in_color_space = kArgb32ColorSpace;
    cinfo->input_components = 4;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, jpegQuality, TRUE);
    cinfo->dct_method = jpegQuality >= 96 ? JDCT_ISLOW : JDCT_FASTEST;
    jpeg_set_colorspace(cinfo, JCS_YCbCr);
    cinfo->comp_info[0].h_samp_factor = 2;
    cinfo->comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        cinfo->comp_info[c].h_samp_factor = 1;
        cinfo->comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(cinfo, TRUE);
    if (!writeSegments(cinfo, segments)) {
        jpeg_abort_compress(cinfo);
        return false;
    }
    const uchar *rows[JpegEncoder::kRowsPerCall];
    while (cinfo->next_scanline < cinfo->image_height) {
        const int top = int(cinfo->next_scanline);
        const int count = std::min(JpegEncoder::kRowsPerCall, size.height() - top);
        if (!supplier(top, count, rows)) {
            jpeg_abort_compress(cinfo);
            return false;
        }
        for (int done = 0; done < count;) {
            const JDIMENSION wrote = jpeg_write_scanlines(
                cinfo, const_cast<JSAMPARRAY>(rows + done), JDIMENSION(count - done));
            if (wrote == 0) {
                jpeg_abort_compress(cinfo);
                return false;
            }
            done += int(wrote);
        }
    }
    jpeg_finish_compress(cinfo);
    return true;
}

} // namespace

bool JpegEncoder::encodeRows(int fd, QSize size, const RowSupplier &rows, double quality,
                             QByteArrayView segments)
{
    if (fd < 0 || size.isEmpty() || !rows || !std::isfinite(quality))
        return false;
    JpegErrorJump errors;
    jpeg_compress_struct cinfo;
    cinfo.err = errors.install();
    DescriptorDestination destination;
    destination.fd = fd;
    destination.pub.init_destination = DescriptorDestination::start;
    destination.pub.empty_output_buffer = DescriptorDestination::flushFull;
    destination.pub.term_destination = DescriptorDestination::finish;
    jpeg_create_compress(&cinfo);
    cinfo.dest = &destination.pub;
    const bool written = compressRows(&cinfo, errors, size, rows, jpegQualityOf(quality), segments);
    jpeg_destroy_compress(&cinfo);
    return written;
}

JpegEncoder::RowSupplier JpegEncoder::rowsOf(const QImage &image)
{
    if (image.isNull())
        return {};
    const QImage pixels = encodable(image);
    if (pixels.isNull())
        return {};
    return [pixels](int top, int count, const uchar **rows) {
        if (top < 0 || count < 0 || top + count > pixels.height())
            return false;
        for (int i = 0; i < count; ++i)
            rows[i] = pixels.constScanLine(top + i);
        return true;
    };
}

QByteArray JpegEncoder::encode(const QImage &image, double quality, QByteArrayView segments)
{
    if (image.isNull() || !std::isfinite(quality))
        return {};
    const QImage pixels = encodable(image);
    if (pixels.isNull())
        return {};

    std::unique_ptr<void, TjHandleDeleter> handle(tjInitCompress());
    if (!handle)
        return {};
    const int jpegQuality = jpegQualityOf(quality);
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
