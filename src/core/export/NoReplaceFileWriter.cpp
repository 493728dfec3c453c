#include "export/NoReplaceFileWriter.h"

#include "model/FileDescriptorWriter.h"
#include "model/FolderListing.h"
#include "model/LocalFileName.h"
#include "model/NoReplaceRename.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Publish { Done, NameTaken, Unsupported, Failed };

QString temporaryName()
{
    return QStringLiteral(".kelvane-%1.part")
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

// All bytes on disk and the descriptor closed, or false (the descriptor is
// closed either way).
bool writeSyncAndClose(int fd, QByteArrayView data)
{
    const bool written =
        FileDescriptorWriter::writeAll(fd, data.data(), size_t(data.size())) && ::fsync(fd) == 0;
    return ::close(fd) == 0 && written;
}

// A hidden, uniquely named file in the destination folder, removed again unless
// it was published. Created with mode 0666 so the umask applies as for any new file.
class TemporaryFile
{
public:
    explicit TemporaryFile(const QString &folder)
    {
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            m_path = LocalFileName::encode(folder + QLatin1Char('/') + temporaryName());
            m_fd = ::open(m_path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_published && m_fd != kNeverOpened)
            ::unlink(m_path.constData());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    bool writeAndClose(QByteArrayView data)
    {
        const int fd = m_fd;
        m_fd = kClosed;
        return writeSyncAndClose(fd, data);
    }

    Publish publishAs(const QString &path)
    {
        switch (NoReplaceRename::rename(m_path, LocalFileName::encode(path))) {
        case NoReplaceRename::Result::done:
            m_published = true;
            return Publish::Done;
        case NoReplaceRename::Result::nameTaken:
            return Publish::NameTaken;
        case NoReplaceRename::Result::unsupported:
            return Publish::Unsupported;
        default:
            return Publish::Failed;
        }
    }

private:
    static constexpr int kNeverOpened = -1;
    static constexpr int kClosed = -2;
    QByteArray m_path;
    int m_fd = kNeverOpened;
    bool m_published = false;
};

// The fallback where no rename can refuse an existing name: O_EXCL creates the
// name only if it is free, and a write that fails takes its name away again.
Publish writeInPlace(QByteArrayView data, const QString &path)
{
    const QByteArray encoded = LocalFileName::encode(path);
    const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno == EEXIST ? Publish::NameTaken : Publish::Failed;
    if (writeSyncAndClose(fd, data))
        return Publish::Done;
    ::unlink(encoded.constData());
    return Publish::Failed;
}

} // namespace

bool NoReplaceFileWriter::isTemporaryName(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.kelvane-[0-9a-f]{16}\\.part$"));
    return pattern.match(fileName).hasMatch();
}

int NoReplaceFileWriter::removeStaleTemporaries(const QString &folder)
{
    // Listed and removed by the names' own bytes: the folder's name need not be UTF-8.
    const QByteArray encodedFolder = LocalFileName::encode(folder);
    const auto names = FolderListing::names(encodedFolder);
    if (!names)
        return 0;
    const time_t now = std::time(nullptr);
    int removed = 0;
    for (const QByteArray &name : *names) {
        if (!name.startsWith(".kelvane-") || !isTemporaryName(QString::fromLatin1(name)))
            continue;
        const QByteArray path = encodedFolder + '/' + name;
        struct stat info;
        if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
            now - info.st_mtime <= staleTemporaryAgeSeconds)
            continue;
        removed += ::unlink(path.constData()) == 0 ? 1 : 0;
    }
    return removed;
}

bool NoReplaceFileWriter::write(QByteArrayView data, const QString &path)
{
    bool asked = false;
    const QString written = writeUnderFreeName(
        data,
        [&]() -> QString {
            if (asked)
                return {};
            asked = true;
            return path;
        },
        1);
    return !written.isEmpty();
}

QString NoReplaceFileWriter::writeUnderFreeName(QByteArrayView data,
                                                const std::function<QString()> &nextCandidate,
                                                int attempts)
{
    QString candidate = nextCandidate();
    if (candidate.isEmpty() || data.isEmpty())
        return {};
    const QString folder = QFileInfo(candidate).absolutePath();
    removeStaleTemporaries(folder);
    TemporaryFile temporary(folder);
    if (!temporary.isOpen() || !temporary.writeAndClose(data))
        return {};
    bool inPlace = false;
    for (int attempt = 0; attempt < attempts && !candidate.isEmpty(); ++attempt) {
        Publish result = inPlace ? writeInPlace(data, candidate) : temporary.publishAs(candidate);
        if (result == Publish::Unsupported) {
            inPlace = true;
            result = writeInPlace(data, candidate);
        }
        switch (result) {
        case Publish::Done:
            return candidate;
        case Publish::NameTaken:
            candidate = nextCandidate();
            break;
        case Publish::Unsupported:
        case Publish::Failed:
            return {};
        }
    }
    return {};
}
