#include "model/FolderListing.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>

std::optional<QSet<QByteArray>> FolderListing::names(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return std::nullopt;
    QSet<QByteArray> names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.insert(QByteArray(entry->d_name));
    }
    const bool complete = errno == 0;
    ::closedir(dir);
    if (!complete)
        return std::nullopt;
    return names;
}
