#include "imaging/ImageLoadError.h"

#include <utility>

ImageLoadError::ImageLoadError(Kind kind, QString formatName)
    : m_kind(kind)
    , m_formatName(std::move(formatName))
    , m_what(errorDescription().toUtf8())
{}

ImageLoadError ImageLoadError::unsupportedFormat(QString name)
{
    return ImageLoadError(Kind::unsupportedFormat, std::move(name));
}

ImageLoadError ImageLoadError::sourceCreationFailed()
{
    return ImageLoadError(Kind::sourceCreationFailed, {});
}

ImageLoadError ImageLoadError::decodeFailed()
{
    return ImageLoadError(Kind::decodeFailed, {});
}

QString ImageLoadError::errorDescription() const
{
    switch (m_kind) {
    case Kind::unsupportedFormat:
        return QStringLiteral("不支持的格式: ") + m_formatName;
    case Kind::sourceCreationFailed:
        return QStringLiteral("无法读取图片文件");
    case Kind::decodeFailed:
        return QStringLiteral("图片解码失败");
    }
    return {};
}

const char *ImageLoadError::what() const noexcept
{
    return m_what.constData();
}
