#include "model/ImageItem.h"

#include "model/RandomUuid.h"
#include "model/SupportedFormats.h"

ImageItem::FileType ImageItem::FileType::forExtension(const QString &lowerCaseExtension)
{
    FileType type;
    type.extension = lowerCaseExtension;
    type.label = ImageItem::label(lowerCaseExtension);
    type.category = ImageItem::category(lowerCaseExtension);
    type.isRAW = type.category == FormatCategory::raw;
    return type;
}

static QString extensionOf(const QString &filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a (hidden) name, not an extension.
    return dot > 0 ? filename.mid(dot + 1).toLower() : QString();
}

ImageItem::ImageItem(const QString &absolutePath)
    : ImageItem(absolutePath, absolutePath.mid(absolutePath.lastIndexOf(QLatin1Char('/')) + 1),
                FileType())
{
    m_type = FileType::forExtension(extensionOf(m_filename));
}

ImageItem::ImageItem(const QString &absolutePath, const QString &filename, const FileType &type)
    : m_id(RandomUuid::create())
    , m_path(absolutePath)
    , m_filename(filename)
    , m_type(type)
{}

ImageItem::FormatCategory ImageItem::category(const QString &ext)
{
    if (SupportedFormats::rawExtensions().contains(ext))
        return FormatCategory::raw;
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return FormatCategory::jpeg;
    if (ext == QLatin1String("png"))
        return FormatCategory::png;
    // Sony and Canon cameras name their HEIF files .HIF.
    if (ext == QLatin1String("heic") || ext == QLatin1String("heif") || ext == QLatin1String("hif"))
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
