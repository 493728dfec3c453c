#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>

// Creates new files without ever replacing one: the bytes are written and
// synced to a hidden temporary file in the destination folder, which is then
// moved to its name with renameat2(RENAME_NOREPLACE), or link()+unlink() where
// the file system lacks that flag. Where it has neither (FUSE mounts, exFAT,
// some network shares) the name itself is created with O_EXCL and filled, and
// removed again if the write fails. A failed write leaves no file under the
// destination name.
//
// Temporary files left behind by a crash are ours by name; each write removes
// the ones in its folder that are older than a minute.
class NoReplaceFileWriter
{
public:
    NoReplaceFileWriter() = delete;

    // Temporary files younger than this may belong to a write in progress.
    static constexpr int staleTemporaryAgeSeconds = 60;

    // false when `path` exists or anything fails.
    static bool write(QByteArrayView data, const QString &path);

    // Writes once, then publishes under the first name from `nextCandidate`
    // that is free at the moment of publishing, asking for another name after
    // each clash (at most `attempts` names). Returns that name, empty on failure.
    static QString writeUnderFreeName(QByteArrayView data,
                                      const std::function<QString()> &nextCandidate,
                                      int attempts = 100);

    // Whether `fileName` is the name of one of our temporary files.
    static bool isTemporaryName(const QString &fileName);
    // Removes our temporary files in `folder` last modified more than
    // staleTemporaryAgeSeconds ago; returns how many went.
    static int removeStaleTemporaries(const QString &folder);
};
