#include "model/MovedPhoto.h"

#include "model/LocalFileName.h"

#include <cerrno>
#include <sys/stat.h>

namespace {

bool statOf(const QString &path, struct stat *info)
{
    return ::lstat(LocalFileName::encode(path).constData(), info) == 0;
}

qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Only ENOENT: a name that cannot be looked at is not known to be free.
bool nameIsFree(const QString &path)
{
    struct stat info;
    return !statOf(path, &info) && errno == ENOENT;
}

} // namespace

MovedPhoto::File MovedPhoto::File::record(const QString &from, const QString &to,
                                          const QString &trashInfo)
{
    File file{from, to, trashInfo};
    struct stat info;
    if (statOf(to, &info)) {
        file.size = info.st_size;
        file.modifiedNs = nanoseconds(info.st_mtim);
    }
    return file;
}

bool MovedPhoto::File::isUnchanged() const
{
    struct stat info;
    return size >= 0 && statOf(to, &info) && info.st_size == size &&
           nanoseconds(info.st_mtim) == modifiedNs;
}

bool MovedPhoto::canGoBack() const
{
    if (!photo.isUnchanged() || !nameIsFree(photo.from))
        return false;
    for (const File &sidecar : sidecars) {
        // A copy that was edited since stays; its original is there anyway.
        if (sidecar.copied)
            continue;
        if (!sidecar.isUnchanged() || !nameIsFree(sidecar.from))
            return false;
    }
    return true;
}
