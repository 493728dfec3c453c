#include "export/NoReplaceFileWriter.h"

#include "model/FileDescriptorWriter.h"
#include "model/SafePublisher.h"

#include <QFileInfo>
#include <unistd.h>
#include <utility>

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
    QString first = nextCandidate();
    if (first.isEmpty() || data.isEmpty())
        return {};
    const QString folder = QFileInfo(first).absolutePath();
    SafePublisher::removeStaleTemporaries(folder);
    const SafePublisher::Content content{[data](int fd) {
        return FileDescriptorWriter::writeAll(fd, data.data(), size_t(data.size())) &&
               ::fsync(fd) == 0;
    }};
    return SafePublisher::write(
        SafePublisher::Kind::exportedFile, folder, content,
        [&first, &nextCandidate] {
            return first.isEmpty() ? nextCandidate() : std::exchange(first, {});
        },
        attempts);
}
