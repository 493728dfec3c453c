#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// The XMP sidecars of photos among the files of their folders. Names match
// without regard to case, as the programs that write sidecars spell them
// differently (Lightroom's IMG_0002.XMP, darktable's IMG_0002.CR2.xmp).
// A <stem>.xmp beside a RAW file with that stem is the RAW's (the name
// Adobe's programs and Capture One give a RAW's sidecar): it is never taken
// for the sidecar of a JPEG or other photo sharing the stem.
// Built from a listing, so finding a photo's sidecars costs no system call.
// A value; any thread.
class SidecarIndex
{
public:
    SidecarIndex() = default;
    // `files`: paths of the files of the photos' folders, in the form the
    // photos are asked about later (names alone work as well). Those ending
    // in .xmp, in any case, are the sidecars; the others tell which files
    // share a stem. A list of sidecars alone answers sidecarsOf(), though
    // without the RAW files it cannot tell a RAW's <stem>.xmp from others'.
    explicit SidecarIndex(const QStringList &files);

    // The index of one folder's files as paths `folder`/name, read with one
    // readdir (byte-exact names, LocalFileName); nothing when the folder
    // cannot be listed. Blocking.
    static std::optional<SidecarIndex> ofFolder(const QString &folder);

    // The sidecars of `photo` that exist, in lookup order: <name>.<ext>.xmp,
    // then <stem>.xmp; several spellings of one name in code-unit order.
    QStringList sidecarsOf(const QString &photo) const;
    // The two parts of sidecarsOf().
    QStringList fullNameSidecarsOf(const QString &photo) const;
    QStringList stemSidecarsOf(const QString &photo) const;
    // The <stem>.xmp beside `photo`, whichever file of the stem owns it.
    QStringList stemSidecarsBeside(const QString &photo) const;

    // The files other than sidecars that own <stem>.xmp of `photo` with it:
    // the RAW files with that stem when there are any, else every file with
    // that stem.
    QStringList stemOwners(const QString &photo) const;

    // Where the sidecar of a `photo` that has none is created: beside a RAW
    // file <stem>.xmp, the name Adobe's programs and Capture One read, unless
    // another RAW file of its folder shares the stem; else <name>.<ext>.xmp,
    // which darktable and digiKam read. Needs the whole folder in `files`.
    QString newSidecarFor(const QString &photo) const;

    // Records a sidecar created since the index was built.
    void addSidecar(const QString &sidecar);

    // <name>.<ext>.xmp and <stem>.xmp as spelled here.
    static QString fullNameSidecar(const QString &photo);
    static QString stemSidecar(const QString &photo);

private:
    static QString stemOf(const QString &path);
    static bool isRaw(const QString &path);
    bool hasRawWithStemOf(const QString &photo) const;

    QHash<QString, QStringList> m_sidecars;     // lower-cased path -> its spellings
    QHash<QString, QStringList> m_filesPerStem; // lower-cased stem -> other files with it
    QHash<QString, int> m_rawFilesPerStem;      // lower-cased stem -> RAW files with it
};
