#pragma once

#include <QByteArray>
#include <QSet>
#include <optional>

// The names in one folder, read with readdir alone (no stat per entry).
class FolderListing
{
public:
    FolderListing() = delete;

    // Every name in `folder` (file system encoding) but "." and "..", or
    // nothing when the folder cannot be listed to the end. Any thread.
    static std::optional<QSet<QByteArray>> names(const QByteArray &folder);
};
