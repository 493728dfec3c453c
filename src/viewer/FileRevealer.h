#pragma once

#include <QString>

// Shows a file selected in the desktop's file manager. An interface so that
// screens can be tested without starting a file manager.
class FileRevealer
{
public:
    virtual ~FileRevealer() = default;
    virtual void reveal(const QString &absolutePath) = 0;
};
