#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>

// Creates the export's new files without ever replacing one (SafePublisher:
// a hidden temporary in the destination folder, published under a free name).
// A failed write leaves no file under the destination name.
//
// Each write first removes the stale temporaries of ours in its folder, those
// of an interrupted archive included.
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

    // The same with content produced while it is written: `fill` writes every
    // byte to the descriptor (false on failure); it may be called again on a
    // fresh descriptor when the file system cannot publish a temporary.
    using Fill = std::function<bool(int fd)>;
    static bool write(const Fill &fill, const QString &path);
    static QString writeUnderFreeName(const Fill &fill,
                                      const std::function<QString()> &nextCandidate,
                                      int attempts = 100);
};
