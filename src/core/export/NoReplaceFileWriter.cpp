#include "export/NoReplaceFileWriter.h"

#include "model/FileDescriptorWriter.h"
#include "model/SafePublisher.h"

#include <QFileInfo>
#include <unistd.h>
#include <utility>

namespace {

NoReplaceFileWriter::Fill bytesFill(QByteArrayView data)
{
    if (data.isEmpty())
        return {};
    return [data](int fd) {
        return FileDescriptorWriter::writeAll(fd, data.data(), size_t(data.size()));
    };
}

} // namespace

bool NoReplaceFileWriter::write(QByteArrayView data, const QString &path)
{
    return write(bytesFill(data), path);
}

QString NoReplaceFileWriter::writeUnderFreeName(QByteArrayView data,
                                                const std::function<QString()> &nextCandidate,
                                                int attempts)
{
    return writeUnderFreeName(bytesFill(data), nextCandidate, attempts);
}

bool NoReplaceFileWriter::write(const Fill &fill, const QString &path)
{
    bool asked = false;
    const QString written = writeUnderFreeName(
        fill,
        [&]() -> QString {
            if (asked)
                return {};
            asked = true;
            return path;
        },
        1);
    return !written.isEmpty();
}

QString NoReplaceFileWriter::writeUnderFreeName(const Fill &fill,
                                                const std::function<QString()> &nextCandidate,
                                                int attempts)
{
    QString first = nextCandidate();
    if (first.isEmpty() || !fill)
        return {};
    const QString folder = QFileInfo(first).absolutePath();
    SafePublisher::removeStaleTemporaries(folder);
    // The sync is what makes the export safe: the name never points at a
    // file whose bytes are still only in memory.
    const SafePublisher::Content content{[&fill](int fd) { return fill(fd) && ::fsync(fd) == 0; },
                                         {}};
    return SafePublisher::write(
        SafePublisher::Kind::exportedFile, folder, content,
        [&first, &nextCandidate] {
            return first.isEmpty() ? nextCandidate() : std::exchange(first, {});
        },
        attempts);
}
