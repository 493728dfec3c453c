#pragma once

#include <QString>
#include <QStringList>

// Which of the files a store keeps entries for are certainly gone, so that
// their entries can be dropped without ever dropping one of a file that is
// only out of reach (an unmounted card, an offline share, a locked folder).
class VanishedFiles
{
public:
    // Those of `paths` that lie below `folderPath` (at any depth; a sibling
    // folder whose name starts alike is not below it).
    static QStringList below(const QString &folderPath, const QStringList &paths);

    // Those of `paths` that are certainly gone: the file's folder exists, can
    // be listed, holds other entries and is not a mount point, and the name is
    // not in it. A file behind an unreadable folder, an empty folder (as an
    // unmounted mount point looks), a mount point or a failing check is not
    // reported. Any thread; touches the disk.
    static QStringList among(const QStringList &paths);
};
