#include "HostileFiles.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

namespace HostileFiles {

namespace {

QByteArray le16(quint16 v)
{
    return QByteArray(1, char(v)) + char(v >> 8);
}

QByteArray le32(quint32 v)
{
    return le16(quint16(v)) + le16(quint16(v >> 16));
}

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Deflate's bit order: values least significant bit first, Huffman codes
// most significant bit first.
class BitWriter
{
public:
    void put(quint32 value, int count)
    {
        m_bits |= quint64(value) << m_used;
        m_used += count;
        for (; m_used >= 8; m_used -= 8, m_bits >>= 8)
            m_out += char(m_bits & 0xFF);
    }
    void putCode(quint32 code, int count)
    {
        quint32 reversed = 0;
        for (int i = 0; i < count; ++i)
            reversed |= ((code >> i) & 1u) << (count - 1 - i);
        put(reversed, count);
    }
    QByteArray finish()
    {
        if (m_used > 0)
            put(0, 8 - m_used);
        return m_out;
    }

private:
    QByteArray m_out;
    quint64 m_bits = 0;
    int m_used = 0;
};

} // namespace

QByteArray bigEndian32(quint32 v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

QByteArray pngChunkOf(const QByteArray &type, const QByteArray &data)
{
    return bigEndian32(quint32(data.size())) + type + data + bigEndian32(crc32(type + data));
}

QByteArray zlibZeros(qint64 count)
{
    // One block in deflate's fixed codes: a literal zero, then copies of
    // 258 bytes at distance 1, then the rest as literals.
    BitWriter bits;
    bits.put(1, 1); // final block
    bits.put(1, 2); // fixed Huffman codes
    const quint32 literalZero = 0x30;
    bits.putCode(literalZero, 8);
    const qint64 rest = count - 1;
    for (qint64 copies = rest / 258; copies > 0; --copies) {
        bits.putCode(0xC5, 8); // length 258 (code 285)
        bits.putCode(0, 5);    // distance 1
    }
    for (qint64 literals = rest % 258; literals > 0; --literals)
        bits.putCode(literalZero, 8);
    bits.putCode(0, 7); // end of block
    // Adler-32 of zeros: the sum of ones stays 1, the sum of sums counts.
    const quint32 adler = quint32(count % 65521) << 16 | 1u;
    return QByteArray("\x78\x01", 2) + bits.finish() + bigEndian32(adler);
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
    // A TIFF header pointing at "IIII", the magic LibRaw takes for Phase
    // One, whose directory (at 16 past it) lies in the zeroed bytes.
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
