#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

// Small files that declare far more than they hold, built in memory.
namespace HostileFiles {

QByteArray bigEndian32(quint32 value);
QByteArray le16(quint16 value);
QByteArray le32(quint32 value);
// A PNG chunk: length, type, data and CRC.
QByteArray pngChunkOf(const QByteArray &type, const QByteArray &data);
// A black 1-bit PNG of `size`, with `texts` as tEXt chunks (keyword, text).
QByteArray flatPng(QSize size, const QList<QPair<QByteArray, QByteArray>> &texts = {});
// A 1-bit TIFF of `size`, all white, in one deflated strip.
QByteArray flatTiff(QSize size);
// A GIF of 35 bytes whose logical screen is `canvas`, holding one pixel.
QByteArray tinyGif(QSize canvas);
// A progressive JPEG of `stored` pixels declaring `declared`, with `emptyScans` empty scans.
QByteArray progressiveJpeg(QSize stored, QSize declared, int emptyScans);
// A Phase One IIQ whose directory lies in zeroes, padded to `size` bytes.
QByteArray damagedIiq(qint64 size);
// `bytes` at `path`, extended sparsely to `size` bytes.
bool writeSparse(const QString &path, const QByteArray &bytes, qint64 size);

} // namespace HostileFiles
