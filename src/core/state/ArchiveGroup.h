#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Photos of an archive that leave their folder together with their XMP
// sidecars: one photo with its own IMG_1.jpg.xmp, or the photos of one folder
// that share a <stem>.xmp (IMG.JPG and IMG.PNG with IMG.xmp, or IMG.CR2 and
// IMG.DNG). Beside a RAW file with the stem, <stem>.xmp is the RAW's alone
// (SidecarIndex): IMG.JPG archived with IMG.CR2 shares its number, without
// IMG.CR2 it leaves IMG.xmp behind. Sidecar names match in any case, as they
// are read. A value.
struct ArchiveGroup
{
    struct Photo
    {
        QString path;
        QStringList sidecars; // names of its <name>.<ext>.xmp in `folder`
    };

    QString folder;           // the photos' folder
    QList<Photo> photos;      // in the order they were asked for
    QStringList stemSidecars; // names of the shared <stem>.xmp in `folder`
    // Every file owning the stem sidecars (SidecarIndex::stemOwners: the RAW
    // files of the stem when there are any) is among the photos: the stem
    // sidecars leave with them. Otherwise the archive gets copies, and the
    // photos left behind keep theirs; with no owner among the photos,
    // `stemSidecars` is empty.
    bool stemSidecarsMove = false;
    // The folder could not be listed: which sidecars it holds is unknown.
    bool listed = true;

    // The groups of the photos `sources`, in the order of each group's first
    // photo. Lists each source folder once (no stat per file); blocking.
    static QList<ArchiveGroup> plan(const QStringList &sources);
};
