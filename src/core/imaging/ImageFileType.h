#pragma once

#include <QString>

// What a file really holds, decided from its first bytes; the extension only
// breaks the tie between a plain TIFF and the TIFF-based camera RAW formats.
// A PNG named .jpg is a PNG, JPEG data named .nef is a JPEG.
class ImageFileType
{
public:
    enum class Kind { unreadable, empty, jpeg, png, gif, bmp, webp, heif, tiff, raw, other };

    static Kind detect(const QString &path);
    static Kind detect(const QByteArray &head, const QString &lowerCaseExtension);
};
