#include "model/SidecarIndex.h"

#include "model/FolderListing.h"
#include "model/LocalFileName.h"
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
        if (file.endsWith(kSidecarExtension, Qt::CaseInsensitive)) {
            m_sidecars[file.toLower()].append(file);
            continue;
        }
        const QString stem = stemOf(file).toLower();
        m_filesPerStem[stem].append(file);
        if (isRaw(file))
            ++m_rawFilesPerStem[stem];
    }
    for (QStringList &spellings : m_sidecars)
        spellings.sort();
}

std::optional<SidecarIndex> SidecarIndex::ofFolder(const QString &folder)
{
    const auto names = FolderListing::names(LocalFileName::encode(folder));
    if (!names)
        return std::nullopt;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    QStringList files;
    files.reserve(names->size());
    for (const QByteArray &name : *names)
        files.append(prefix + LocalFileName::decode(name));
    return SidecarIndex(files);
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

bool SidecarIndex::hasRawWithStemOf(const QString &photo) const
{
    return m_rawFilesPerStem.value(stemOf(photo).toLower()) > 0;
}

QString SidecarIndex::fullNameSidecar(const QString &photo)
{
    return photo + kSidecarExtension;
}

QString SidecarIndex::stemSidecar(const QString &photo)
{
    return stemOf(photo) + kSidecarExtension;
}

QStringList SidecarIndex::fullNameSidecarsOf(const QString &photo) const
{
    return m_sidecars.value(fullNameSidecar(photo).toLower());
}

QStringList SidecarIndex::stemSidecarsBeside(const QString &photo) const
{
    if (extensionDot(photo) < 0)
        return {};
    return m_sidecars.value(stemSidecar(photo).toLower());
}

QStringList SidecarIndex::stemSidecarsOf(const QString &photo) const
{
    if (!isRaw(photo) && hasRawWithStemOf(photo))
        return {};
    return stemSidecarsBeside(photo);
}

QStringList SidecarIndex::sidecarsOf(const QString &photo) const
{
    return fullNameSidecarsOf(photo) + stemSidecarsOf(photo);
}

QStringList SidecarIndex::stemOwners(const QString &photo) const
{
    const QStringList sharing = m_filesPerStem.value(stemOf(photo).toLower());
    if (!hasRawWithStemOf(photo))
        return sharing;
    QStringList raws;
    for (const QString &file : sharing) {
        if (isRaw(file))
            raws.append(file);
    }
    return raws;
}

QString SidecarIndex::newSidecarFor(const QString &photo) const
{
    if (isRaw(photo) && m_rawFilesPerStem.value(stemOf(photo).toLower()) <= 1)
        return stemSidecar(photo);
    return fullNameSidecar(photo);
}

void SidecarIndex::addSidecar(const QString &sidecar)
{
    QStringList &spellings = m_sidecars[sidecar.toLower()];
    if (!spellings.contains(sidecar)) {
        spellings.append(sidecar);
        spellings.sort();
    }
}
