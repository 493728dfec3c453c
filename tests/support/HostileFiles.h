#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

// Small files that declare far more than they hold, as a hostile or damaged
// file does: built in memory, each small on disk.
namespace HostileFiles {

QByteArray bigEndian32(quint32 value);
QByteArray le16(quint16 value);
QByteArray le32(quint32 value);
// A PNG chunk: length, type, data and CRC.
QByteArray pngChunkOf(const QByteArray &type, const QByteArray &data);
// A 1-bit greyscale PNG of `size`, all black, with `texts` as tEXt chunks
// (keyword, text) before the picture data.
QByteArray flatPng(QSize size, const QList<QPair<QByteArray, QByteArray>> &texts = {});
// A 1-bit TIFF of `size`, all white, in one deflated strip.
QByteArray flatTiff(QSize size);
// A GIF of 35 bytes whose logical screen is `canvas`, holding one pixel.
QByteArray tinyGif(QSize canvas);
// A progressive greyscale JPEG of `stored` pixels whose frame header declares
// `declared`, with `emptyScans` scans of no data before its end.
QByteArray progressiveJpeg(QSize stored, QSize declared, int emptyScans);
// The start of a Phase One IIQ file whose directory lies in zeroed bytes (LibRaw
// counts its entries down from 2^32), padded with zeros to `size` bytes.
QByteArray damagedIiq(qint64 size);
// `bytes` at `path`, extended sparsely to `size` bytes (the hole uses no disk).
bool writeSparse(const QString &path, const QByteArray &bytes, qint64 size);

} // namespace HostileFiles
