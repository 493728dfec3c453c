#include "model/SupportedFormats.h"

#include <QMimeDatabase>

const QSet<QString> &SupportedFormats::standardExtensions()
{
    static const QSet<QString> set{
        QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("png"),
        QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("tiff"),
        QStringLiteral("tif"),  QStringLiteral("bmp"),  QStringLiteral("gif"),
        QStringLiteral("webp"),
    };
    return set;
}

const QSet<QString> &SupportedFormats::rawExtensions()
{
    static const QSet<QString> set{
        QStringLiteral("cr2"), QStringLiteral("cr3"), QStringLiteral("nef"), QStringLiteral("arw"),
        QStringLiteral("dng"), QStringLiteral("raf"), QStringLiteral("orf"), QStringLiteral("rw2"),
        QStringLiteral("pef"), QStringLiteral("srw"), QStringLiteral("3fr"),
    };
    return set;
}

const QSet<QString> &SupportedFormats::allExtensions()
{
    static const QSet<QString> set = standardExtensions() + rawExtensions();
    return set;
}

static bool mimeTypeIsImage(const QMimeType &type)
{
    if (!type.isValid())
        return false;
    const auto isImage = [](const QString &name) {
        return name.startsWith(QLatin1String("image/"));
    };
    if (isImage(type.name()))
        return true;
    const QStringList ancestors = type.allAncestors();
    return std::any_of(ancestors.cbegin(), ancestors.cend(), isImage);
}

bool SupportedFormats::isSupportedExtension(const QString &lowerCaseExtension)
{
    if (lowerCaseExtension.isEmpty())
        return false;
    if (allExtensions().contains(lowerCaseExtension))
        return true;
    // QMimeDatabase is documented as thread-safe; matching by name never opens the file.
    static const QMimeDatabase database;
    const QString probe = QStringLiteral("x.") + lowerCaseExtension;
    return mimeTypeIsImage(database.mimeTypeForFile(probe, QMimeDatabase::MatchExtension));
}

bool SupportedFormats::isSupportedFile(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    return isSupportedExtension(fileName.mid(dot + 1).toLower());
}
