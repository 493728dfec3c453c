#pragma once

#include <QHash>
#include <QSet>
#include <QString>

// What was last read from each photo's files: the photo's size and
// modification time, those of its sidecars, and the rating found. A photo
// whose stamps are unchanged is not opened again. Also the photos whose last
// sidecar write failed: their table rating wins over the older file value.
// A value; load and save are blocking (run them off the UI thread).
struct InFileRatingCache
{
    struct Entry
    {
        QString stamp; // sizes and modification times of the photo and its sidecars
        int rating = 0;
    };

    QHash<QString, Entry> entries;
    QSet<QString> unwritten;

    // Beside the ratings file.
    static QString filePathBeside(const QString &ratingsFile);
    static InFileRatingCache load(const QString &path);
    bool save(const QString &path) const;

    // The stamp of a photo and its existing sidecars; empty when the photo
    // cannot be looked at.
    static QString stampOf(const QString &imagePath, const QStringList &sidecars);
};
