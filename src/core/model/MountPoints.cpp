#include "model/MountPoints.h"

#include <QFile>
#include <sys/stat.h>

namespace {

// mountinfo writes space, tab, newline and backslash in a path as \ooo.
QByteArray unescapeOctal(const QByteArray &field)
{
    QByteArray path;
    path.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](qsizetype j) {
            return j < field.size() && field[j] >= '0' && field[j] <= '7';
        };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            path +=
                char((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
            i += 3;
        } else {
            path += field[i];
        }
    }
    return path;
}

} // namespace

MountPoints::MountPoints()
{
    // Read whole: /proc files report no size, and a line-by-line read of a
    // table that changes meanwhile may tear.
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Fields: mount id, parent id, major:minor, root, mount point, ...
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4)
            m_listed.insert(unescapeOctal(fields[4]));
    }
}

bool MountPoints::contains(const QByteArray &folder) const
{
    if (m_listed.contains(folder))
        return true;
    struct stat own, parent;
    if (::stat(folder.constData(), &own) != 0 || ::stat((folder + "/..").constData(), &parent) != 0)
        return true;
    return own.st_dev != parent.st_dev;
}
