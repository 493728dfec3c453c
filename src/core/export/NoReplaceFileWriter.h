#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>

// Creates new files without ever replacing one: the bytes are written and
// synced to a hidden temporary file in the destination folder, which is then
// moved to its name with renameat2(RENAME_NOREPLACE), or link()+unlink() where
// the file system lacks that flag. A failed or interrupted write leaves no file
// under the destination name.
class NoReplaceFileWriter
{
public:
    NoReplaceFileWriter() = delete;

    // false when `path` exists or anything fails.
    static bool write(QByteArrayView data, const QString &path);

    // Writes once, then publishes under the first name from `nextCandidate`
    // that is free at the moment of publishing, asking for another name after
    // each clash (at most `attempts` names). Returns that name, empty on failure.
    static QString writeUnderFreeName(QByteArrayView data,
                                      const std::function<QString()> &nextCandidate,
                                      int attempts = 100);
};
