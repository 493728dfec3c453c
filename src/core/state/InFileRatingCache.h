#pragma once

#include "model/CullingMark.h"

#include <QHash>
#include <QSet>
#include <QString>

// What was last read from each photo's files: the photo's size and
// modification time, those of its sidecars, and the rating, reject and
// colour label found. A photo
// whose stamps are unchanged is not opened again. Also the photos whose last
// sidecar write failed: their table rating wins over the older file value.
// A value; load and save are blocking (run them off the UI thread).
//
// Several processes share the file. A save therefore writes only what changed
// in this value since it was loaded or last saved, merged under an advisory
// lock into what is on disk; the value then holds the merged content.
//
// A file entry is [stamp, rating], with the mark's JSON form as a third
// element when there is one. Older versions read only two-element entries:
// they pass over the others, read those photos again and store them in the
// old form, which this version reads as having no mark.
struct InFileRatingCache
{
    struct Entry
    {
        QString stamp; // sizes and modification times of the photo and its sidecars
        int rating = 0;
        CullingMark mark; // a reject and a label only
        bool operator==(const Entry &) const = default;
    };

    QHash<QString, Entry> entries;
    QSet<QString> unwritten;

    // Beside the ratings file.
    static QString filePathBeside(const QString &ratingsFile);
    // An unreadable or damaged file gives an empty cache; a damaged one is
    // set aside by the next save.
    static InFileRatingCache load(const QString &path);
    // False, and nothing written, when the file exists but cannot be read, is
    // damaged and cannot be set aside, or cannot be written.
    bool save(const QString &path);

    // The stamp of a photo and its existing sidecars; empty when the photo
    // cannot be looked at.
    static QString stampOf(const QString &imagePath, const QStringList &sidecars);

private:
    enum class FileState { missing, unreadable, damaged, readable };
    // `cache` is filled only from a readable file.
    static FileState read(const QString &path, InFileRatingCache &cache);
    bool write(const QString &path) const;
    void takeChangesInto(InFileRatingCache &onDisk) const;

    // As last loaded or saved: what this process changed is the difference.
    QHash<QString, Entry> m_savedEntries;
    QSet<QString> m_savedUnwritten;
};
