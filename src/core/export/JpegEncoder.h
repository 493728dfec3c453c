#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <functional>

// Baseline JPEG encoding through libjpeg-turbo (4:2:0, TurboJPEG's choice of
// DCT for the quality), reading 32-bit Qt rows in place. Alpha is not written:
// premultiplied pixels are encoded as they are stored, i.e. as if composited
// over black.
class JpegEncoder
{
public:
    JpegEncoder() = delete;

    // quality 0...1 maps to libjpeg's 1...100. `segments` (complete APPn
    // segments, e.g. Exif and ICC) are placed right after the JFIF header.
    // Empty on failure or null image.
    static QByteArray encode(const QImage &image, double quality, QByteArrayView segments = {});

    // Hands out the picture's rows top to bottom: fills `rows` with `count`
    // pointers to rows of 32-bit 0xAARRGGBB words, starting at row `top`. The
    // rows must stay valid until the next call; false aborts the encode.
    using RowSupplier = std::function<bool(int top, int count, const uchar **rows)>;
    // How many rows the encoder asks for at a time (the last call may get fewer).
    static constexpr int kRowsPerCall = 64;

    // The same stream as encode() for the same pixels, written to `fd` while
    // it is compressed: no full-size copy of the pixels or of the stream is
    // made. `segments` must be complete APPn segments. False on any failure
    // (the file then holds a part of the stream).
    static bool encodeRows(int fd, QSize size, const RowSupplier &rows, double quality,
                           QByteArrayView segments = {});

    // A supplier of `image`'s own rows (32-bit formats as they are, others
    // converted once); null when the image is null or cannot be converted.
    static RowSupplier rowsOf(const QImage &image);
};
