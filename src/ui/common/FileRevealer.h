#pragma once

#include <QString>

// Shows a file selected in the desktop's file manager. An interface so the
// grid can be exercised without starting a file manager.
class FileRevealer
{
public:
    virtual ~FileRevealer() = default;
    // `path` is handed over as it is, even when the file no longer exists.
    virtual void reveal(const QString &path) = 0;
};
