#pragma once

#include "model/MovedPhoto.h"

#include <QList>
#include <QString>
#include <QStringList>

// Moves photos with their XMP sidecars to the freedesktop.org Trash
// (FileTrash: the trash of each file's own file system, nothing ever copied
// or deleted). A photo's own sidecars (IMG_1.jpg.xmp) go with it; a shared
// <stem>.xmp goes when every photo owning it goes (ArchiveGroup's rule),
// else it stays with the photos that keep it. A photo whose sidecars cannot
// go stays where it is with them. Blocking file work on the caller's
// thread; any thread.
class PhotoTrash
{
public:
    struct Outcome
    {
        QList<MovedPhoto> trashed; // in the order asked for, per folder
        QStringList stayed;        // photos still where they were
        QString error;             // why the first of them stayed
    };

    PhotoTrash() = delete;

    static Outcome moveToTrash(const QStringList &photos);
};
