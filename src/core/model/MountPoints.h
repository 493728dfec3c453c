#pragma once

#include <QByteArray>
#include <QSet>

// The folders where a file system is mounted, as /proc/self/mountinfo lists
// them when the object is made. A folder's listing does not say whether the
// disk that belongs there is mounted: a card, an NFS share or an sshfs mount
// point looks like an empty folder while it is away. Any thread.
class MountPoints
{
public:
    MountPoints();

    // Whether `folder` (an absolute path, file system encoding) is a mount
    // point: listed as one, or on another device than its parent folder. A
    // folder that cannot be examined counts as one.
    bool contains(const QByteArray &folder) const;

private:
    QSet<QByteArray> m_listed;
};
