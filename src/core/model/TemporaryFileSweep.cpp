#include "model/TemporaryFileSweep.h"

#include "model/FolderListing.h"
#include "model/LocalFileName.h"

#include <QRandomGenerator>
#include <algorithm>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kRandomDigits = 16;
constexpr QLatin1StringView kSuffix(".part");

bool isLowerHex(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

} // namespace

QString TemporaryFileSweep::randomName(const QString &prefix)
{
    return QStringLiteral(".%1-%2.part")
        .arg(prefix)
        .arg(QRandomGenerator::global()->generate64(), kRandomDigits, 16, QLatin1Char('0'));
}

bool TemporaryFileSweep::isName(const QString &fileName, const QString &prefix)
{
    const qsizetype start = 1 + prefix.size() + 1; // "." prefix "-"
    if (fileName.size() != start + kRandomDigits + kSuffix.size() ||
        !fileName.startsWith(QLatin1Char('.')) || fileName.mid(1, prefix.size()) != prefix ||
        fileName.at(start - 1) != QLatin1Char('-') || !fileName.endsWith(kSuffix))
        return false;
    for (qsizetype i = start; i < start + kRandomDigits; ++i) {
        if (!isLowerHex(fileName.at(i)))
            return false;
    }
    return true;
}

int TemporaryFileSweep::removeStale(const QString &folder, const QString &prefix,
                                    int minimumAgeSeconds)
{
    return removeStale(folder, QList<Kind>{{prefix, minimumAgeSeconds}});
}

int TemporaryFileSweep::removeStale(const QString &folder, const QList<Kind> &kinds)
{
    const QByteArray encodedFolder = LocalFileName::encode(folder);
    const std::optional<QSet<QByteArray>> names = FolderListing::names(encodedFolder);
    if (!names)
        return 0;
    const time_t now = std::time(nullptr);
    int removed = 0;
    for (const QByteArray &name : *names) {
        const QString fileName = QString::fromLatin1(name);
        const auto kind = std::find_if(kinds.cbegin(), kinds.cend(), [&fileName](const Kind &k) {
            return isName(fileName, k.prefix);
        });
        if (kind == kinds.cend())
            continue;
        const QByteArray path = encodedFolder + '/' + name;
        struct stat info;
        if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
            now - info.st_mtime <= kind->minimumAgeSeconds)
            continue;
        removed += ::unlink(path.constData()) == 0 ? 1 : 0;
    }
    return removed;
}
