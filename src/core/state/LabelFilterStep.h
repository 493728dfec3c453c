#pragma once

#include "model/CullingMark.h"
#include "state/ImageListStep.h"

#include <functional>
#include <optional>

// Keeps the images of one colour label; ColourLabel::none keeps those without
// a label, no value keeps every image.
class LabelFilterStep final : public ImageListStep
{
public:
    // The stored mark of a file path, empty when none.
    using MarkLookup = std::function<CullingMark(const QString &path)>;

    explicit LabelFilterStep(MarkLookup mark)
        : m_mark(std::move(mark))
    {}

    std::optional<ColourLabel> label() const { return m_label; }
    void setLabel(std::optional<ColourLabel> label) { m_label = label; }

    bool isActive() const override { return m_label.has_value(); }
    bool readsMarks() const override { return true; }
    QList<ImageItem> apply(const QList<ImageItem> &input) const override
    {
        return keepIf(input,
                      [&](const ImageItem &item) { return m_mark(item.path()).label == *m_label; });
    }

private:
    MarkLookup m_mark;
    std::optional<ColourLabel> m_label;
};
