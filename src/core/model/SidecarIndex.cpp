#include "model/SidecarIndex.h"

#include "model/SupportedFormats.h"

namespace {

const QString kSidecarExtension = QStringLiteral(".xmp");

// Where the name's extension begins, or -1; a dot of a folder does not count.
qsizetype extensionDot(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > path.lastIndexOf(QLatin1Char('/')) ? dot : -1;
}

} // namespace

SidecarIndex::SidecarIndex(const QStringList &files)
{
    for (const QString &file : files) {
        if (file.endsWith(kSidecarExtension, Qt::CaseInsensitive))
            m_sidecars[file.toLower()].append(file);
        else if (isRaw(file))
            ++m_rawFilesPerStem[stemOf(file).toLower()];
    }
    for (QStringList &spellings : m_sidecars)
        spellings.sort();
}

QString SidecarIndex::stemOf(const QString &path)
{
    const qsizetype dot = extensionDot(path);
    return dot < 0 ? path : path.left(dot);
}

bool SidecarIndex::isRaw(const QString &path)
{
    const qsizetype dot = extensionDot(path);
    return dot >= 0 && SupportedFormats::rawExtensions().contains(path.mid(dot + 1).toLower());
}

QString SidecarIndex::fullNameSidecar(const QString &photo)
{
    return photo + kSidecarExtension;
}

QString SidecarIndex::stemSidecar(const QString &photo)
{
    return stemOf(photo) + kSidecarExtension;
}

QStringList SidecarIndex::sidecarsOf(const QString &photo) const
{
    QStringList found = m_sidecars.value(fullNameSidecar(photo).toLower());
    if (extensionDot(photo) >= 0)
        found += m_sidecars.value(stemSidecar(photo).toLower());
    return found;
}

QString SidecarIndex::newSidecarFor(const QString &photo) const
{
    if (isRaw(photo) && m_rawFilesPerStem.value(stemOf(photo).toLower()) <= 1)
        return stemSidecar(photo);
    return fullNameSidecar(photo);
}
