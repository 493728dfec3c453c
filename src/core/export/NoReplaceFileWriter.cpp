#include "export/NoReplaceFileWriter.h"

#include "model/FileDescriptorWriter.h"
#include "model/NoReplaceRename.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

enum class Publish { Done, NameTaken, Failed };

// A hidden, uniquely named file in the destination folder, removed again unless
// it was published. Created with mode 0666 so the umask applies as for any new file.
class TemporaryFile
{
public:
    explicit TemporaryFile(const QString &folder)
    {
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            const QString name =
                QStringLiteral("%1/.kelvane-%2.part")
                    .arg(folder)
                    .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
            m_path = QFile::encodeName(name);
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

    // All bytes on disk and the descriptor closed, or false.
    bool writeAndClose(QByteArrayView data)
    {
        if (!FileDescriptorWriter::writeAll(m_fd, data.data(), size_t(data.size())) ||
            ::fsync(m_fd) != 0)
            return false;
        const int fd = m_fd;
        m_fd = kClosed;
        return ::close(fd) == 0;
    }

    Publish publishAs(const QString &path)
    {
        switch (NoReplaceRename::rename(m_path, QFile::encodeName(path))) {
        case NoReplaceRename::Result::done:
            m_published = true;
            return Publish::Done;
        case NoReplaceRename::Result::nameTaken:
            return Publish::NameTaken;
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

} // namespace

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
    TemporaryFile temporary(QFileInfo(candidate).absolutePath());
    if (!temporary.isOpen() || !temporary.writeAndClose(data))
        return {};
    for (int attempt = 0; attempt < attempts && !candidate.isEmpty(); ++attempt) {
        switch (temporary.publishAs(candidate)) {
        case Publish::Done:
            return candidate;
        case Publish::Failed:
            return {};
        case Publish::NameTaken:
            candidate = nextCandidate();
            break;
        }
    }
    return {};
}
