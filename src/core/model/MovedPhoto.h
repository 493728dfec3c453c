#pragma once

#include <QList>
#include <QString>

// A photo that an action moved (into an archive folder or the Trash) with
// the sidecars that went along, and how each file looked right after: an
// undo puts a file back only while it is unchanged, so a file edited since
// is never taken for the one that was moved. A value.
struct MovedPhoto
{
    struct File
    {
        QString from;      // where it lived
        QString to;        // where it is now
        QString trashInfo; // its .trashinfo, when `to` is in a trash
        // `to` is a copy and `from` stayed (a sidecar shared with photos
        // that did not go along).
        bool copied = false;
        qint64 size = -1;
        qint64 modifiedNs = 0;

        // A record of `to` as it is now (not following a link).
        static File record(const QString &from, const QString &to,
                           const QString &trashInfo = QString());
        // `to` still has the size and modification time it was recorded with.
        bool isUnchanged() const;

        friend bool operator==(const File &, const File &) = default;
    };

    File photo;
    QList<File> sidecars;

    // Every file is still where the action put it, unchanged, and every
    // name it came from is free again (a copy leaves its original behind).
    bool canGoBack() const;

    friend bool operator==(const MovedPhoto &, const MovedPhoto &) = default;
};
