#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

// The "Logos" resource folder: one PNG per camera brand, the file name being
// the brand name. The folder is read anew on every call, so a changed folder
// is seen without a restart. Any thread.
class LogoCatalogue
{
public:
    // The installed or built "Logos" folder (see defaultCandidates).
    LogoCatalogue();
    // An explicit folder; an empty or missing one means no brands.
    explicit LogoCatalogue(QString folder);

    const QString &folder() const { return m_folder; }

    // Brand names of the folder's PNG files, without extension, sorted by
    // plain string comparison. Empty when the folder is missing or unreadable.
    QStringList loadAvailableBrands() const;

    // The brand a camera make preselects: the first of `brands` whose
    // lower-cased name equals the lower-cased make or is contained in it;
    // empty when none does.
    static QString brandForMake(const QStringList &brands, const QString &make);

    // The logo for a camera make: the first PNG (in the file system's order)
    // whose lower-cased name equals the trimmed, lower-cased make, equals its
    // first word, or is contained in it. Null when none matches or loads.
    QImage loadLogo(const QString &brand) const;

    // Where the folder is looked for, in order: beside the executable, the
    // installed share folder (<prefix>/share/kelvane/Logos next to
    // <prefix>/bin), then the source tree's resources/Logos.
    static QStringList defaultCandidates();
    // The first candidate that is an existing folder, else empty.
    static QString firstExistingFolder(const QStringList &candidates);

private:
    // PNG file names (with extension) in the file system's order.
    QStringList pngEntries() const;

    QString m_folder;
};
