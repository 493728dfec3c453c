#include "imaging/ImageFileType.h"

#include "model/LocalFileName.h"
#include "model/SupportedFormats.h"

#include <QFile>

namespace {

bool startsWith(const QByteArray &head, qsizetype offset, const char *magic, qsizetype length)
{
    return head.size() >= offset + length && head.mid(offset, length) == QByteArray(magic, length);
}

bool isHeifBrand(const QByteArray &brand)
{
    static const QByteArrayList brands{"heic", "heix", "hevc", "hevx", "heim", "heis",
                                       "hevm", "hevs", "mif1", "msf1", "avif", "avis"};
    return brands.contains(brand);
}

} // namespace

ImageFileType::Kind ImageFileType::detect(const QString &path)
{
    QFile file;
    if (!LocalFileName::openForReading(file, path))
        return Kind::unreadable;
    const QByteArray head = file.read(32);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return detect(head, dot < 0 ? QString() : name.mid(dot + 1).toLower());
}

ImageFileType::Kind ImageFileType::detect(const QByteArray &head, const QString &lowerCaseExtension)
{
    if (head.isEmpty())
        return Kind::empty;
    const bool rawExtension = SupportedFormats::rawExtensions().contains(lowerCaseExtension);
    if (startsWith(head, 0, "\xFF\xD8\xFF", 3))
        return Kind::jpeg;
    if (startsWith(head, 0, "\x89PNG", 4))
        return Kind::png;
    if (startsWith(head, 0, "GIF8", 4))
        return Kind::gif;
    if (startsWith(head, 0, "RIFF", 4) && startsWith(head, 8, "WEBP", 4))
        return Kind::webp;
    if (startsWith(head, 4, "ftyp", 4)) {
        const QByteArray brand = head.mid(8, 4);
        if (brand == "crx ")
            return Kind::raw;
        return isHeifBrand(brand) ? Kind::heif : Kind::other;
    }
    // TIFF variants that only camera RAW formats use: ORF, RW2, CRW.
    if (startsWith(head, 0, "IIRO", 4) || startsWith(head, 0, "IIRS", 4) ||
        startsWith(head, 0, "MMOR", 4) || startsWith(head, 0, "IIU\0", 4) ||
        startsWith(head, 0, "II\x1A\0\0\0HEAPCCDR", 14) || startsWith(head, 0, "FUJIFILM", 8) ||
        startsWith(head, 0, "\0MRM", 4))
        return Kind::raw;
    if (startsWith(head, 0, "II*\0", 4) || startsWith(head, 0, "MM\0*", 4) ||
        startsWith(head, 0, "II+\0", 4) || startsWith(head, 0, "MM\0+", 4))
        return rawExtension ? Kind::raw : Kind::tiff;
    if (startsWith(head, 0, "BM", 2))
        return Kind::bmp;
    return rawExtension ? Kind::raw : Kind::other;
}
