#pragma once

#include "state/ArchiveItem.h"

#include <QList>
#include <QSet>
#include <QString>

// The archive of the rejects ("归档排除的照片"): every rejected photo of the
// open folder, whatever the filters show, into its folder "归档-排除".
//
// Archived photos keep their flag, and the rescan after the archive lists
// them again from inside the open folder: a rejected photo already in the
// archive folder is done and is not offered again (it would only be renamed
// beside itself).
class RejectsArchive
{
public:
    RejectsArchive() = delete;

    // <openFolder>/归档-排除
    static QString targetFolder(const QString &openFolder);

    // Whether a path of `rejected` lies outside the archive folder of
    // `openFolder`. Looks at the rejected paths only, stopping at the first
    // one that waits, never at all the images.
    static bool hasPending(const QSet<QString> &rejected, const QString &openFolder);

    // The plan: the items of `images` whose path is in `rejected` and waits,
    // in their order.
    static ArchiveItem plan(const QList<ImageItem> &images, const QSet<QString> &rejected,
                            const QString &openFolder);
};
