#pragma once

#include <QList>
#include <QString>

// The hidden files our writers fill beside their final name and then rename
// into place, ".<prefix>-<16 hex digits>.part" (the export's, the archive's
// and the XMP sidecars', each with a prefix of its own), and the removal of
// those that a crashed or killed process left behind.
//
// A writer keeps its temporary's modification time that of its last write
// until it has published it (times copied from a source are set afterwards),
// so age tells a leftover from a file being written by another process.
// Any thread.
class TemporaryFileSweep
{
public:
    TemporaryFileSweep() = delete;

    // A new name for a temporary with `prefix` (ASCII).
    static QString randomName(const QString &prefix);

    // Whether `fileName` is a temporary's name with exactly that prefix.
    static bool isName(const QString &fileName, const QString &prefix);

    // Removes the regular files in `folder` named as temporaries with
    // `prefix` whose last modification is more than `minimumAgeSeconds` ago;
    // returns how many went. Reads the folder once (byte-exact names, so
    // folders whose names are not UTF-8 are swept too).
    static int removeStale(const QString &folder, const QString &prefix, int minimumAgeSeconds);

    // The temporaries of several prefixes, each with its own minimum age,
    // in one reading of the folder.
    struct Kind
    {
        QString prefix;
        int minimumAgeSeconds = 0;
    };
    static int removeStale(const QString &folder, const QList<Kind> &kinds);
};
