#pragma once

#include "model/MovedPhoto.h"

#include <QList>
#include <QString>
#include <QStringList>

// Moves image files into an archive folder without ever losing or replacing a
// file. Free of UI state; every function is safe on any thread.
//
// A move is a no-replace rename within a file system. Across file systems it
// is a copy (SafePublisher: a hidden temporary file in the destination,
// synced and checked against the source's size, published under a free name
// without replacing anything), and only then is the original removed. Where
// the file system can rename only by replacing (FUSE mounts, exFAT, some
// network shares), the free name is created exclusively and the copy made
// into it.
// Whatever fails, the file ends up in exactly one place: the destination or
// where it was.
class ArchiveMover
{
public:
    struct Outcome
    {
        bool folderReady = false;
        // Refused because the folder the photos were chosen from is gone
        // (then !folderReady and nothing was created).
        bool openFolderGone = false;
        QString folderError;      // the system's description when !folderReady
        QStringList movedSources; // source paths that now live in the folder
        QStringList destinations; // where each of them went, same order
        // The same photos with the sidecars that went along (or were
        // copied), for taking the archive back.
        QList<MovedPhoto> moved;
    };

    ArchiveMover() = delete;

    // The path in `folder` where a file called `fileName` can be created
    // without overwriting anything: the name itself when free, else base_1.ext,
    // base_2.ext, … (the extension is what follows the last dot). Empty when
    // no name can be known to be free: a candidate that cannot be looked at
    // (no search permission, a name too long) or every one up to base_10000
    // taken.
    static QString uniqueURL(const QString &fileName, const QString &folder);

    // Creates `folder` with its missing parents; an existing folder is fine.
    // On failure returns false and the system's description in `error`.
    static bool createFolder(const QString &folder, QString *error);

    // Moves one file into `folder` under a free name. Returns the new path, or
    // an empty string when the file stayed where it was.
    static QString moveFile(const QString &source, const QString &folder);
    // Moves one file to exactly `destination`, never over another file (the
    // same care as moveFile). False when it stayed where it was.
    static bool moveFileTo(const QString &source, const QString &destination);

    // The file work of an archive: the folder, then each file in order; files
    // that cannot be moved are skipped. Blocking; run it off the UI thread.
    //
    // The photos' XMP sidecars (IMG_1.jpg.xmp, IMG_1.xmp, in any case) are
    // theirs and go with them, unchanged, whether or not ratings are synced:
    // each photo's own sidecars move with it, renamed with the number its
    // free name got; a <stem>.xmp moves along when every file of the folder
    // with that stem (a RAW + JPEG pair) is archived with it, and is copied
    // otherwise. A photo whose sidecars cannot follow stays where it is, and
    // so do photos of a folder that cannot be listed.
    //
    // Stale temporaries of ours in `folder` go first (SafePublisher).
    //
    // `openFolder`, when given, is the folder the photos were chosen from:
    // when it is no longer there (deleted, renamed, its disk gone), nothing
    // is done, and the archive folder is not created either.
    static Outcome moveFiles(const QStringList &sources, const QString &folder,
                             const QString &openFolder = QString());
};
