#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The XMP sidecars of photos among the files of their folders. Names match
// without regard to case, as the programs that write sidecars spell them
// differently (Lightroom's IMG_0002.XMP, darktable's IMG_0002.CR2.xmp).
// Built from a listing, so finding a photo's sidecars costs no system call.
// A value; any thread.
class SidecarIndex
{
public:
    SidecarIndex() = default;
    // `files`: paths of the files of the photos' folders, in the form the
    // photos are asked about later (names alone work as well). Those ending
    // in .xmp, in any case, are the sidecars; the others tell which RAW files
    // share a stem. A list of sidecars alone answers sidecarsOf().
    explicit SidecarIndex(const QStringList &files);

    // The sidecars of `photo` that exist, in lookup order: <name>.<ext>.xmp,
    // then <stem>.xmp; several spellings of one name in code-unit order.
    QStringList sidecarsOf(const QString &photo) const;

    // Where the sidecar of a `photo` that has none is created: beside a RAW
    // file <stem>.xmp, the name Adobe's programs and Capture One read, unless
    // another RAW file of its folder shares the stem; else <name>.<ext>.xmp,
    // which darktable and digiKam read. Needs the whole folder in `files`.
    QString newSidecarFor(const QString &photo) const;

    // <name>.<ext>.xmp and <stem>.xmp as spelled here.
    static QString fullNameSidecar(const QString &photo);
    static QString stemSidecar(const QString &photo);

private:
    static QString stemOf(const QString &path);
    static bool isRaw(const QString &path);

    QHash<QString, QStringList> m_sidecars; // lower-cased path -> its spellings
    QHash<QString, int> m_rawFilesPerStem;  // lower-cased stem -> RAW files with it
};
