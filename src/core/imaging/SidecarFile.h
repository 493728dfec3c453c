#pragma once

#include <QByteArray>
#include <QString>
#include <ctime>
#include <optional>
#include <sys/types.h>

// One XMP sidecar on disk, by the exact bytes of its name (LocalFileName).
// Only a regular file of at most kMaxSize bytes is read: a FIFO, a device or
// a symbolic link at the name is never followed or waited on, and a file
// that large is no sidecar (real edit histories stay far below it). A
// replacement is written beside the file and renamed over it only while the
// file is still the one that was read, so another program's change made in
// between is never undone. Blocking; any thread.
class SidecarFile
{
public:
    static constexpr qint64 kMaxSize = qint64(16) << 20;
    // Replacements are written under TemporaryFileSweep's names with this
    // prefix. A write takes milliseconds: one unchanged for this long was
    // left by a process that died, never one another process still writes.
    static constexpr QLatin1StringView kTemporaryPrefix{"kelvane-xmp"};
    static constexpr int staleTemporaryAgeSeconds = 10 * 60;

    // What was read, and which file it came from. A default one stands for
    // "no file": replacing it creates the name, never over a file that
    // appeared meanwhile.
    struct Snapshot
    {
        QByteArray content;
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
    };

    enum class Replaced { done, changedMeanwhile, failed };

    SidecarFile() = delete;

    // Nothing, with the reason in `error`, when the name holds no readable
    // regular file of at most kMaxSize bytes.
    static std::optional<Snapshot> read(const QString &path, QString *error);

    // Puts `content` at `path` atomically (temporary file, fsync, rename),
    // keeping the permissions of the file replaced.
    static Replaced replace(const QString &path, const Snapshot &read, const QByteArray &content,
                            QString *error);

    // Removes the temporaries of killed writes from `folder`; returns how
    // many went.
    static int removeStaleTemporaries(const QString &folder);
};
