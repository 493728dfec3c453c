#pragma once

#include <QString>

// Moves files to the freedesktop.org Trash (Trash specification 1.0) and back,
// so that a file manager lists them in its Trash and can put them back too.
//
// A file goes to the trash of its own file system: the home trash
// ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash; the variable is read at
// every call) when it lives on that trash's device, else $topdir/.Trash/$uid
// when the file system's top folder has a .Trash that is a real folder with
// the sticky bit, else $topdir/.Trash-$uid (made 0700 when missing). The
// .trashinfo file is created exclusively first, so two trashings never take
// the same name, and only then is the file renamed into files/.
//
// Nothing is ever copied, replaced or deleted: a file that cannot be renamed
// into a trash on its own file system stays where it is and the call says
// why. Blocking file work on the caller's thread; any thread, no shared state.
class FileTrash
{
public:
    // One file in a trash: enough to put it back.
    struct Entry
    {
        QString originalPath; // absolute, where the file lived
        QString trashedPath;  // the file in the trash's files/ folder
        QString infoPath;     // its .trashinfo in the trash's info/ folder

        bool isValid() const { return !trashedPath.isEmpty(); }
        friend bool operator==(const Entry &, const Entry &) = default;
    };

    // The outcome of a move to the trash: a valid entry, or why the file stayed.
    struct Trashed
    {
        Entry entry;
        QString error; // empty when the file went to the trash

        bool ok() const { return entry.isValid(); }
    };

    FileTrash() = delete;

    // Moves the file, symbolic link or folder at `path` (not following a
    // link) to its file system's trash.
    static Trashed moveToTrash(const QString &path);

    // Moves the entry's file back to its original path, never over another
    // file, and removes its .trashinfo. Returns an empty string when done,
    // else why the file is still in the trash (the original name is taken,
    // the file is gone from the trash, its folder is gone).
    static QString restore(const Entry &entry);
};
