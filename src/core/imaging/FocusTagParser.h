#pragma once

#include "imaging/FocusPoints.h"

#include <QList>
#include <QSizeF>
#include <string>
#include <utility>
#include <vector>

namespace Exiv2 {
class ExifData;
class Exifdatum;
} // namespace Exiv2

// Turns the focus tags of one file's metadata into areas of the picture as it
// is stored (before the EXIF orientation), as fractions of its width and
// height. Every count, size and position comes from the file and is checked:
// arrays too short for what they claim give nothing, areas are clipped to the
// picture and dropped when nothing of them is left. Never throws. Holds
// pointers into `exif`, which must outlive it.
class FocusTagParser
{
public:
    explicit FocusTagParser(const Exiv2::ExifData &exif);

    // The first maker-note source that gives areas: Canon, Nikon, Sony,
    // Fujifilm, Olympus, Panasonic, Pentax. `photo` is the stored picture's
    // size in pixels (empty when unknown); sources that give a point or
    // positions in the picture's pixels need it.
    QList<FocusArea> makerNote(QSizeF photo) const;
    // The EXIF SubjectArea (a point, a circle or a rectangle in the pixels of
    // the picture), the fallback of files whose maker note says nothing.
    QList<FocusArea> subjectArea(QSizeF photo) const;

    // The EXIF orientation; 0 when absent.
    int orientation() const;
    // PixelXDimension x PixelYDimension; empty when either is missing.
    QSizeF recordedSize() const;

private:
    const Exiv2::Exifdatum *find(const char *key) const;
    std::vector<long> integers(const char *key) const;
    long integer(const char *key, long absent) const;

    QList<FocusArea> canon() const;
    QList<FocusArea> nikon() const;
    QList<FocusArea> sony() const;
    QList<FocusArea> fujifilm(QSizeF photo) const;
    QList<FocusArea> olympus(QSizeF photo) const;
    QList<FocusArea> panasonic(QSizeF photo) const;
    QList<FocusArea> pentax(QSizeF photo) const;

    const Exiv2::ExifData &m_exif;
    // The entries of the tag numbers looked at, by key: found in one pass,
    // since Exiv2's findKey builds the key text of every entry it passes.
    std::vector<std::pair<std::string, const Exiv2::Exifdatum *>> m_entries;
};
