#pragma once

#include "state/ImageListStep.h"

#include <optional>

// Keeps the images of one format category; none keeps every image.
class FormatFilterStep final : public ImageListStep
{
public:
    using FormatCategory = ImageItem::FormatCategory;

    std::optional<FormatCategory> format() const { return m_format; }
    void setFormat(std::optional<FormatCategory> format) { m_format = format; }

    bool isActive() const override { return m_format.has_value(); }
    QList<ImageItem> apply(const QList<ImageItem> &input) const override
    {
        return keepIf(input,
                      [&](const ImageItem &item) { return item.formatCategory() == *m_format; });
    }

private:
    std::optional<FormatCategory> m_format;
};
