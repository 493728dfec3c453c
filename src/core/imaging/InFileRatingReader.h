#pragma once

#include "model/CullingMark.h"

#include <QString>
#include <QStringList>
#include <optional>

// The rating other photo programs and cameras keep with a file: xmp:Rating in
// a sidecar (IMG_0001.CR2.xmp, then IMG_0001.xmp, in any case), then the XMP embedded in
// the photo, then EXIF Exif.Image.Rating. The first source that holds a
// rating decides, so a sidecar's 0 hides an embedded 4. 1..5 are ratings; 0
// and -1 (rejected) mean none; any other value is treated as absent. The
// deciding -1 is also a reject, and xmp:Label a colour label (the first
// known name among the sources read). Photos are only read, never written.
// Safe on any thread.
class InFileRatingReader
{
public:
    InFileRatingReader() = delete;

    // <name>.<ext>.xmp and <stem>.xmp beside `imagePath`.
    static QString fullNameSidecar(const QString &imagePath);
    static QString stemSidecar(const QString &imagePath);
    // Those that exist, in any case, in lookup order (lists the folder).
    static QStringList existingSidecars(const QString &imagePath);

    // 1..5, or 0 when the deciding source says "none" or no source holds one.
    // `existingSidecars` are the sidecars known to exist (from a directory
    // listing), in lookup order; the others are not looked for.
    static int read(const QString &imagePath, const QStringList &existingSidecars);
    // Looks for the sidecars itself.
    static int read(const QString &imagePath);

    struct Found
    {
        int rating = 0;   // as read()
        CullingMark mark; // a reject and a label, nothing else
        bool operator==(const Found &) const = default;
    };
    // The rating with the reject and label found beside it.
    static Found readAll(const QString &imagePath, const QStringList &existingSidecars);

    // The rating a source holds: 1..5, 0 for "none" (0 or -1), nothing when
    // it holds none or a value outside -1..5.
    static std::optional<int> ratingFromText(const QString &text);
    // Nothing as well when the sidecar is no regular file or is over
    // SidecarFile::kMaxSize: it is not read.
    static std::optional<int> sidecarRating(const QString &sidecarPath);
    static std::optional<int> embeddedRating(const QString &imagePath);

    // Exiv2's XMP toolkit must be set up once before threads use it.
    static void initializeXmp();
};
