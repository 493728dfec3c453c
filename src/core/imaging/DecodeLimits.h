#pragma once

#include <QSize>
#include <QString>
#include <QtGlobal>

// How much work a file may cause: every decode is bounded in time and memory
// by the file's own size, so that a small hostile file (a header declaring a
// huge picture, a stream of empty scans, a carved disk image) costs about
// what an honest file of its size costs. Pure functions; any thread.
class DecodeLimits
{
public:
    // A picture of up to this many pixels is decoded whatever its file size
    // (a truncated photo still shows what it has); 16.7 megapixels, 64 MB
    // at four bytes a pixel.
    static constexpr qint64 freePixels = qint64(1) << 24;

    // Beyond freePixels, JPEG data must hold one bit per 8 x 8 block at the
    // least: no complete JPEG can have less.
    static constexpr qint64 jpegPixelsPerByte = 512;
    // Beyond freePixels, every other format may declare at most this many
    // pixels per byte of file. Photographs and scans stay far below it; only
    // flat synthetic pictures reach it, and those are what bombs are made of.
    static constexpr qint64 pixelsPerByte = 256;

    // No picture within the pixel limit needs a larger file: 16-bit RGBA at
    // 200 megapixels, uncompressed. Larger files (disk images, videos that
    // start like a JPEG) are refused before any decoder reads them.
    static constexpr qint64 maxFileBytes = qint64(1'600'000'000);

    // True when `declared` pixels may be decoded from `fileBytes` at
    // `perByte` pixels a byte; an empty size never is.
    static bool fileCanHold(QSize declared, qint64 fileBytes, qint64 perByte = pixelsPerByte);

    // Room for a JPEG's metadata segments (EXIF, ICC, XMP) before its frame.
    static constexpr qint64 jpegMetadataBytes = qint64(16) << 20;
    // The bytes a JPEG of `declared` pixels can use at the most: 24 bytes a
    // pixel (three full components of 64 coefficients, each at the longest
    // Huffman code and magnitude, progressive scans splitting them) and
    // jpegMetadataBytes. Data past that is not the picture's.
    static qint64 jpegBytesAtMost(QSize declared);

    // The size of the file at `path` (by the exact bytes of its name); -1
    // when it cannot be stat'ed.
    static qint64 fileSize(const QString &path);
};
