#pragma once

#include "model/NoReplaceRename.h"

#include <QByteArray>
#include <QString>
#include <functional>

// Publishes new files in a folder without ever replacing one. The content is
// written and synced to a hidden temporary file in the destination folder,
// which then gets its name with NoReplaceRename (renameat2 RENAME_NOREPLACE,
// or link + unlink). Where the file system offers neither (FUSE mounts,
// exFAT, some network shares) the name itself is created with O_EXCL and
// filled, and removed again if that fails. Whatever fails, nothing remains
// under the destination name and no temporary is left behind.
//
// The temporaries are named ".<prefix>-<16 hex digits>.part", one prefix per
// kind; a temporary keeps the modification time of its last write until it
// is published, so one not written for longer than its kind's stale age is a
// leftover of a process that died, and any publisher may remove it.
// Any thread.
class SafePublisher
{
public:
    enum class Kind {
        exportedFile, // an export's encoded JPEG, written in one go
        archiveCopy,  // a file copied across file systems by an archive
    };

    // What goes into the new file. `fill` writes every byte to the
    // descriptor (at offset 0) and syncs it, false on failure; it is called
    // a second time, on a fresh descriptor, when the in-place fallback
    // follows a temporary. `published`, when set, runs on the filled
    // descriptor once the file has its name, before it is closed.
    struct Content
    {
        std::function<bool(int fd)> fill;
        std::function<void(int fd)> published;
    };
    // The next name to try (a full path); empty when there is none.
    using NextName = std::function<QString()>;

    SafePublisher() = delete;

    // How long a temporary of `kind` may go unwritten while it is still in
    // use: an export writes its file at once; a full-size copy onto a slow
    // card can spend minutes in its final sync.
    static constexpr int staleAgeSeconds(Kind kind)
    {
        return kind == Kind::archiveCopy ? 3600 : 60;
    }

    // Writes `content` once and publishes it in `folder` under the first name
    // from `nextName` that is free at the moment of publishing, asking for
    // another after each clash (at most `attempts` names). Returns that name,
    // empty when nothing was published.
    static QString write(Kind kind, const QString &folder, const Content &content,
                         const NextName &nextName, int attempts);

    // The fallback alone, for a caller that already knows the file system
    // cannot rename without replacing: the first free name from `nextName`
    // is created with O_EXCL and filled.
    static QString writeInPlace(Kind kind, const Content &content, const NextName &nextName,
                                int attempts);

    // Gives the existing file `from` (file-system encoding) the first free
    // name from `nextName`, on the same file system, asking for another after
    // each clash (at most `attempts` names). Returns that name, empty when the
    // file kept its own; `last` gets the outcome of the last rename tried.
    static QString rename(const QByteArray &from, const NextName &nextName, int attempts,
                          NoReplaceRename::Result *last);

    // Removes the temporaries of every kind in `folder` not written for
    // longer than their kind's stale age; returns how many went. Nothing else
    // is touched: not a file of another name, not a folder or a link.
    static int removeStaleTemporaries(const QString &folder);
};
