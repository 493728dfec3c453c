#include "HostileFiles.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

namespace HostileFiles {

QByteArray le16(quint16 v)
{
    return QByteArray(1, char(v)) + char(v >> 8);
}

QByteArray le32(quint32 v)
{
    return le16(quint16(v)) + le16(quint16(v >> 16));
}

static quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian32(quint32 v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

QByteArray pngChunkOf(const QByteArray &type, const QByteArray &data)
{
    return bigEndian32(quint32(data.size())) + type + data + bigEndian32(crc32(type + data));
}

// A zlib stream of `count` zero bytes (deflate keeps about one byte in a thousand).
static QByteArray zlibZeros(qint64 count)
{
    return qCompress(QByteArray(count, '\0'), 9).mid(4); // without Qt's length prefix
}

QByteArray flatPng(QSize size, const QList<QPair<QByteArray, QByteArray>> &texts)
{
    const QByteArray ihdr = bigEndian32(quint32(size.width())) +
                            bigEndian32(quint32(size.height())) +
                            QByteArray("\x01\x00\x00\x00\x00", 5); // 1-bit grey
    QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunkOf("IHDR", ihdr);
    for (const auto &[key, text] : texts)
        png += pngChunkOf("tEXt", key + '\0' + text);
    const qint64 rowBytes = 1 + (qint64(size.width()) + 7) / 8; // filter byte first
    return png + pngChunkOf("IDAT", zlibZeros(rowBytes * size.height())) + pngChunkOf("IEND", {});
}

QByteArray flatTiff(QSize size)
{
    QByteArray strip = zlibZeros((qint64(size.width()) + 7) / 8 * size.height());
    strip += QByteArray(strip.size() % 2, '\0'); // the directory starts on a word
    const quint32 stripOffset = 8;
    const quint32 ifdOffset = stripOffset + quint32(strip.size());
    const auto entry = [](quint16 tag, quint16 type, quint32 value) {
        return le16(tag) + le16(type) + le32(1) +
               (type == 3 ? le16(quint16(value)) + le16(0) : le32(value));
    };
    const quint16 shortType = 3, longType = 4;
    const QByteArray entries = entry(256, longType, quint32(size.width())) +
                               entry(257, longType, quint32(size.height())) +
                               entry(258, shortType, 1) +                     // bits per sample
                               entry(259, shortType, 8) +                     // deflate
                               entry(262, shortType, 0) +                     // white is zero
                               entry(273, longType, stripOffset) +            // strip offsets
                               entry(278, longType, quint32(size.height())) + // rows per strip
                               entry(279, longType, quint32(strip.size()));   // strip byte counts
    return QByteArray("II*\0", 4) + le32(ifdOffset) + strip + le16(8) + entries + le32(0);
}

QByteArray tinyGif(QSize canvas)
{
    return QByteArray("GIF89a", 6) + le16(quint16(canvas.width())) +
           le16(quint16(canvas.height())) +
           QByteArray("\x80\x00\x00"                             // two colours, no background
                      "\x00\x00\x00\xFF\xFF\xFF"                 // black, white
                      "\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00" // one pixel at 0, 0
                      "\x02\x02\x44\x01\x00"                     // LZW: clear, 0, end
                      "\x3B",
                      25);
}

QByteArray progressiveJpeg(QSize stored, QSize declared, int emptyScans)
{
    QImage grey(stored, QImage::Format_Grayscale8);
    grey.fill(128);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    if (!writer.write(grey))
        return {};
    QByteArray jpeg = buffer.data();
    const qsizetype frame = jpeg.indexOf("\xFF\xC2");
    if (frame < 0 || !jpeg.endsWith("\xFF\xD9"))
        return {};
    jpeg[frame + 5] = char(declared.height() >> 8), jpeg[frame + 6] = char(declared.height());
    jpeg[frame + 7] = char(declared.width() >> 8), jpeg[frame + 8] = char(declared.width());
    // Component 1, AC table 0, coefficients 1-63, no successive approximation.
    const QByteArray emptyScan("\xFF\xDA\x00\x08\x01\x01\x00\x01\x3F\x00", 10);
    return jpeg.insert(jpeg.size() - 2, emptyScan.repeated(emptyScans));
}

QByteArray damagedIiq(qint64 size)
{
    // A TIFF header pointing at "IIII", LibRaw's Phase One magic.
    const QByteArray header("II*\0\x08\0\0\0"
                            "IIIICwaR\x10\0\0\0",
                            20);
    return header + QByteArray(qMax<qint64>(0, size - header.size()), '\0');
}

bool writeSparse(const QString &path, const QByteArray &bytes, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
           file.resize(size);
}

} // namespace HostileFiles
