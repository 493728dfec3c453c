#pragma once

#include "FileRevealer.h"

// Asks the file manager over D-Bus (org.freedesktop.FileManager1.ShowItems)
// to show the file selected; when no file manager answers, opens the
// containing folder with the desktop's default handler instead. Never blocks:
// the D-Bus call is asynchronous. UI thread only.
class DesktopFileRevealer : public FileRevealer
{
public:
    void reveal(const QString &absolutePath) override;

private:
    static void openContainingFolder(const QString &absolutePath);
};
