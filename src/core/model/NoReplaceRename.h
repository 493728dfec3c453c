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
    // `unsupported`: the file system offers neither way (FUSE mounts, exFAT,
    // some network shares); the caller has to create the new name itself
    // with O_EXCL and fill it.
    enum class Result { done, nameTaken, otherFileSystem, unsupported, failed };

    // The two system calls the rename rests on, in the shape of renameat2 with
    // RENAME_NOREPLACE and of link: 0 or -1 with errno set.
    struct SystemCalls
    {
        int (*renameNoReplace)(const char *from, const char *to);
        int (*link)(const char *from, const char *to);
    };

    NoReplaceRename() = delete;

    // Paths in the file system's encoding (QFile::encodeName).
    static Result rename(const QByteArray &from, const QByteArray &to);

    // Tests play a file system without these features through this seam;
    // nullptr restores the real calls. Set it while no file work runs.
    static void setSystemCalls(const SystemCalls *calls);
};
