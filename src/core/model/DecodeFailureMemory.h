#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

// Files that failed to decode in this session, so that a grid repainting a
// placeholder, or a viewer stepping past a file and prefetching it, does not
// decode it again and again. A file is known by its path, size and
// modification time: once it changes it is tried again. Thread-safe. The
// application keeps one (WorkQueues::decodeFailures()) for every decode it
// runs; a decode given none remembers nothing.
class DecodeFailureMemory
{
public:
    // A file may give a thumbnail (a stored one, or a reduced decode) and yet
    // no full picture, so the two are remembered apart.
    enum class Use { thumbnail, fullImage };

    // What a file is known by. Take it before decoding: a file that changes
    // while it decodes must not be remembered as the failed one.
    struct Stamp
    {
        qint64 size = -1;
        qint64 modifiedNs = 0;
        bool isValid() const { return size >= 0; }
        bool operator==(const Stamp &) const = default;
    };
    static Stamp stampOf(const QString &path);

    bool hasFailed(const QString &path, Use use, const Stamp &stamp) const;
    // Record only a failure caused by the file's data: a decode that ran out
    // of time or resources may succeed another time.
    void recordFailure(const QString &path, Use use, const Stamp &stamp);

    // A decoder on this thread gave up for want of time or resources, not for
    // the file's data (the RAW development's time limit). The caller takes
    // the note after the decode and then records nothing.
    static void noteTransientFailure();
    // Whether a note was made since the last call; clears it.
    static bool takeTransientFailure();

private:
    mutable QMutex m_mutex;
    QHash<QString, Stamp> m_failures[2]; // by Use
};
