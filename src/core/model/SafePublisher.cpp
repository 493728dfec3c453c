#include "model/SafePublisher.h"

#include "model/LocalFileName.h"
#include "model/TemporaryFileSweep.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

using Rename = NoReplaceRename::Result;
using Kind = SafePublisher::Kind;

QString prefixOf(Kind kind)
{
    return kind == Kind::archiveCopy ? QStringLiteral("kelvane-archive")
                                     : QStringLiteral("kelvane");
}

// An export's file is created as any new file (the umask applies); an
// archive's copy stays private until its content is complete and the source's
// permissions are set on it.
QString temporaryName(Kind kind)
{
    return TemporaryFileSweep::randomName(prefixOf(kind));
}

mode_t creationModeOf(Kind kind)
{
    return kind == Kind::archiveCopy ? 0600 : 0666;
}

int createExclusive(const QByteArray &path, Kind kind)
{
    return ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, creationModeOf(kind));
}

// The published file's last step: what the content does once it has its
// name, then the close (a late write error shows here on network file
// systems). A file whose close fails loses its name again.
bool finishPublished(int fd, const QByteArray &path, const SafePublisher::Content &content)
{
    if (content.published)
        content.published(fd);
    if (::close(fd) == 0)
        return true;
    ::unlink(path.constData());
    return false;
}

// A hidden, uniquely named file in the destination folder, removed again
// unless it was published.
class Temporary
{
public:
    Temporary(const QString &folder, Kind kind)
    {
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            m_path = LocalFileName::encode(folder + QLatin1Char('/') + temporaryName(kind));
            m_fd = createExclusive(m_path, kind);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
    }
    ~Temporary()
    {
        if (m_fd < 0)
            return;
        ::close(m_fd);
        ::unlink(m_path.constData());
    }
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;

    bool fill(const SafePublisher::Content &content) { return m_fd >= 0 && content.fill(m_fd); }

    Rename publishAs(const QString &path, const SafePublisher::Content &content)
    {
        const QByteArray target = LocalFileName::encode(path);
        const Rename result = NoReplaceRename::rename(m_path, target);
        if (result != Rename::done)
            return result;
        const int fd = std::exchange(m_fd, -1);
        return finishPublished(fd, target, content) ? Rename::done : Rename::failed;
    }

private:
    QByteArray m_path;
    int m_fd = -1;
};

// The fallback where no rename can refuse an existing name: O_EXCL creates
// the name only if it is free, and a fill that fails takes it away again.
Rename fillInPlace(const QString &path, Kind kind, const SafePublisher::Content &content)
{
    const QByteArray encoded = LocalFileName::encode(path);
    const int fd = createExclusive(encoded, kind);
    if (fd < 0)
        return errno == EEXIST ? Rename::nameTaken : Rename::failed;
    if (!content.fill(fd)) {
        ::close(fd);
        ::unlink(encoded.constData());
        return Rename::failed;
    }
    return finishPublished(fd, encoded, content) ? Rename::done : Rename::failed;
}

} // namespace

namespace {

// Fills in place from `candidate` on, asking `nextName` after each clash.
QString fillInPlaceUnderFreeName(Kind kind, const SafePublisher::Content &content,
                                 QString candidate, const SafePublisher::NextName &nextName,
                                 int attempts)
{
    for (int attempt = 0; attempt < attempts && !candidate.isEmpty(); ++attempt) {
        const Rename result = fillInPlace(candidate, kind, content);
        if (result == Rename::done)
            return candidate;
        if (result != Rename::nameTaken)
            return {};
        candidate = nextName();
    }
    return {};
}

} // namespace

QString SafePublisher::write(Kind kind, const QString &folder, const Content &content,
                             const NextName &nextName, int attempts)
{
    Temporary temporary(folder, kind);
    if (!temporary.fill(content))
        return {};
    QString candidate = nextName();
    for (int attempt = 0; attempt < attempts && !candidate.isEmpty(); ++attempt) {
        const Rename result = temporary.publishAs(candidate, content);
        if (result == Rename::done)
            return candidate;
        if (result == Rename::unsupported)
            return fillInPlaceUnderFreeName(kind, content, candidate, nextName, attempts - attempt);
        if (result != Rename::nameTaken)
            return {};
        candidate = nextName();
    }
    return {};
}

QString SafePublisher::writeInPlace(Kind kind, const Content &content, const NextName &nextName,
                                    int attempts)
{
    return fillInPlaceUnderFreeName(kind, content, nextName(), nextName, attempts);
}

QString SafePublisher::rename(const QByteArray &from, const NextName &nextName, int attempts,
                              NoReplaceRename::Result *last)
{
    *last = Rename::failed;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const QString candidate = nextName();
        if (candidate.isEmpty())
            return {};
        *last = NoReplaceRename::rename(from, LocalFileName::encode(candidate));
        if (*last == Rename::done)
            return candidate;
        if (*last != Rename::nameTaken)
            return {};
    }
    return {};
}

int SafePublisher::removeStaleTemporaries(const QString &folder)
{
    return TemporaryFileSweep::removeStale(
        folder, {{prefixOf(Kind::exportedFile), staleAgeSeconds(Kind::exportedFile)},
                 {prefixOf(Kind::archiveCopy), staleAgeSeconds(Kind::archiveCopy)}});
}
