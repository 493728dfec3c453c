#pragma once

#include "imaging/ShootingData.h"

#include <QHash>
#include <QString>
#include <memory>

// What the shooting-data index last read from each photo, keyed by its
// absolute path and valid while the photo's size and modification time are
// the ones stored. A value; load and save are blocking (off the UI thread).
//
// The file is binary (QDataStream with a magic number and a version). One
// that is damaged, truncated or of another version reads as empty and is
// replaced by the next save: it is only a cache. Several processes share it:
// a save merges, under an advisory lock, this value's entries over what is on
// disk, so one process never drops what another one read.
struct ShootingDataCache
{
    struct Stamp
    {
        qint64 size = -1;
        qint64 modifiedNs = 0; // nanoseconds since the epoch
        bool operator==(const Stamp &) const = default;
    };
    struct Entry
    {
        Stamp stamp;
        // Shared with the index's answers: never changed once stored.
        std::shared_ptr<const ShootingData> data;
    };

    QHash<QString, Entry> entries;

    // Beside the ratings file.
    static QString filePathBeside(const QString &ratingsFile);
    // Empty for a missing, unreadable or damaged file.
    static ShootingDataCache load(const QString &path);
    // Atomic; false when the file cannot be written.
    bool save(const QString &path) const;

    // The photo's stamp now; size -1 when it cannot be looked at.
    static Stamp stampOf(const QString &path);
};
