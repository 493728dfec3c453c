#include "model/DecodeFailureMemory.h"

#include "model/LocalFileName.h"

#include <sys/stat.h>
#include <utility>

namespace {
thread_local bool transientFailureNoted = false;
} // namespace

void DecodeFailureMemory::noteTransientFailure()
{
    transientFailureNoted = true;
}

bool DecodeFailureMemory::takeTransientFailure()
{
    return std::exchange(transientFailureNoted, false);
}

DecodeFailureMemory::Stamp DecodeFailureMemory::stampOf(const QString &path)
{
    struct stat status = {};
    if (::stat(LocalFileName::encode(path).constData(), &status) != 0)
        return {};
    return {qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

bool DecodeFailureMemory::hasFailed(const QString &path, Use use, const Stamp &stamp) const
{
    if (!stamp.isValid())
        return false;
    const QMutexLocker lock(&m_mutex);
    const auto &failures = m_failures[int(use)];
    const auto found = failures.constFind(path);
    return found != failures.cend() && *found == stamp;
}

void DecodeFailureMemory::recordFailure(const QString &path, Use use, const Stamp &stamp)
{
    if (!stamp.isValid())
        return;
    const QMutexLocker lock(&m_mutex);
    m_failures[int(use)].insert(path, stamp);
}
