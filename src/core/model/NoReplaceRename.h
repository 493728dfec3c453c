#pragma once

#include <QByteArray>

// Gives a file a new name on the same file system without ever replacing
// anything at the new name: renameat2(RENAME_NOREPLACE), or link + unlink on
// file systems without that flag (link refuses an existing name as well).
// Every move and export of ours goes through it, so no user file is ever
// overwritten, not even by a file that appeared a moment earlier.
class NoReplaceRename
{
public:
    enum class Result { done, nameTaken, otherFileSystem, failed };

    NoReplaceRename() = delete;

    // Paths in the file system's encoding (QFile::encodeName).
    static Result rename(const QByteArray &from, const QByteArray &to);
};
