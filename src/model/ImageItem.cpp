#include "ImageItem.h"

#include "SupportedFormats.h"

ImageItem::ImageItem(const QString &absolutePath)
    : m_id(QUuid::createUuid())
    , m_path(absolutePath)
{
    const qsizetype slash = m_path.lastIndexOf(QLatin1Char('/'));
    m_filename = m_path.mid(slash + 1);
    const qsizetype dot = m_filename.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a (hidden) name, not an extension.
    if (dot > 0)
        m_fileExtension = m_filename.mid(dot + 1).toLower();
    m_isRAW = SupportedFormats::rawExtensions().contains(m_fileExtension);
    m_formatLabel = label(m_fileExtension);
}

ImageItem::FormatCategory ImageItem::formatCategory() const
{
    const QString &ext = m_fileExtension;
    if (m_isRAW)
        return FormatCategory::raw;
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return FormatCategory::jpeg;
    if (ext == QLatin1String("png"))
        return FormatCategory::png;
    if (ext == QLatin1String("heic") || ext == QLatin1String("heif"))
        return FormatCategory::heic;
    if (ext == QLatin1String("gif"))
        return FormatCategory::gif;
    if (ext == QLatin1String("tiff") || ext == QLatin1String("tif"))
        return FormatCategory::tiff;
    return FormatCategory::other;
}

QString ImageItem::label(const QString &ext)
{
    if (ext == QLatin1String("jpeg"))
        return QStringLiteral("JPG");
    if (ext == QLatin1String("heif"))
        return QStringLiteral("HEIC");
    if (ext == QLatin1String("tif"))
        return QStringLiteral("TIFF");
    return ext.toUpper();
}

QString ImageItem::displayName(FormatCategory category)
{
    switch (category) {
    case FormatCategory::raw:
        return QStringLiteral("RAW");
    case FormatCategory::jpeg:
        return QStringLiteral("JPG");
    case FormatCategory::png:
        return QStringLiteral("PNG");
    case FormatCategory::heic:
        return QStringLiteral("HEIC");
    case FormatCategory::gif:
        return QStringLiteral("GIF");
    case FormatCategory::tiff:
        return QStringLiteral("TIFF");
    case FormatCategory::other:
        return QStringLiteral("其他");
    }
    return {};
}
