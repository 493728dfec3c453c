#include "export/LogoCatalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

QString withoutExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? fileName.left(dot) : fileName;
}

} // namespace

LogoCatalogue::LogoCatalogue()
    : LogoCatalogue(firstExistingFolder(defaultCandidates()))
{}

LogoCatalogue::LogoCatalogue(QString folder)
    : m_folder(std::move(folder))
{}

QStringList LogoCatalogue::defaultCandidates()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString exeDir = QCoreApplication::applicationDirPath();
        candidates << exeDir + QStringLiteral("/Logos")
                   << QDir::cleanPath(exeDir + QStringLiteral("/../share/kelvane/Logos"));
    }
#ifdef KELVANE_LOGOS_SOURCE_DIR
    candidates << QStringLiteral(KELVANE_LOGOS_SOURCE_DIR);
#endif
    return candidates;
}

QString LogoCatalogue::firstExistingFolder(const QStringList &candidates)
{
    for (const QString &candidate : candidates) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isDir())
            return candidate;
    }
    return {};
}

QStringList LogoCatalogue::pngEntries() const
{
    if (m_folder.isEmpty())
        return {};
    const QDir dir(m_folder);
    if (!dir.exists())
        return {};
    QStringList pngs;
    const QStringList entries = dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &entry : entries) {
        if (QFileInfo(entry).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) == 0)
            pngs << entry;
    }
    return pngs;
}

QStringList LogoCatalogue::loadAvailableBrands() const
{
    QStringList brands;
    for (const QString &entry : pngEntries())
        brands << withoutExtension(entry);
    std::sort(brands.begin(), brands.end()); // code-point order, as the names are spelled
    return brands;
}

QString LogoCatalogue::brandForMake(const QStringList &brands, const QString &make)
{
    const QString lowerMake = make.toLower();
    for (const QString &brand : brands) {
        const QString name = brand.toLower();
        if (!name.isEmpty() && (lowerMake == name || lowerMake.contains(name)))
            return brand;
    }
    return {};
}

QImage LogoCatalogue::loadLogo(const QString &brand) const
{
    const QString key = brand.trimmed().toLower();
    if (key.isEmpty())
        return {};
    const QStringList words = key.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString firstWord = words.isEmpty() ? key : words.first();

    for (const QString &entry : pngEntries()) {
        const QString name = withoutExtension(entry).toLower();
        if (name.isEmpty())
            continue;
        if (key == name || firstWord == name || key.contains(name)) {
            QImage logo(QDir(m_folder).filePath(entry));
            return logo; // the first match wins, even when it does not load
        }
    }
    return {};
}
