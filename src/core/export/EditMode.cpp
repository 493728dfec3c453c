#include "export/EditMode.h"

namespace EditModes {

QString rawValue(EditMode mode)
{
    switch (mode) {
    case EditMode::frame:
        return QStringLiteral("frame");
    case EditMode::watermark:
        return QStringLiteral("watermark");
    case EditMode::both:
        return QStringLiteral("both");
    }
    return {};
}

std::optional<EditMode> fromRawValue(QStringView raw)
{
    for (EditMode mode : all) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

QString label(EditMode mode)
{
    switch (mode) {
    case EditMode::frame:
        return QStringLiteral("边框");
    case EditMode::watermark:
        return QStringLiteral("水印");
    case EditMode::both:
        return QStringLiteral("边框 + 水印");
    }
    return {};
}

} // namespace EditModes
