#include "model/AdvisoryFileLock.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

AdvisoryFileLock::AdvisoryFileLock(const QString &lockFilePath)
{
    const QByteArray path = QFile::encodeName(lockFilePath);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // flock belongs to the open file description, so two stores in one
    // process exclude each other as two processes do.
    int result;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

AdvisoryFileLock::~AdvisoryFileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing releases the lock
}
