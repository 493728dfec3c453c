#pragma once

#include "common/FileRevealer.h"

// Asks the session's file manager over D-Bus (org.freedesktop.FileManager1
// ShowItems) to show the file selected; when no file manager answers, opens
// the containing folder with the desktop's default handler instead. Never
// blocks: the D-Bus call is asynchronous.
class DesktopFileRevealer : public FileRevealer
{
public:
    void reveal(const QString &path) override;
};
