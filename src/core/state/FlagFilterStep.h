#pragma once

#include "model/CullingMark.h"
#include "state/ImageListStep.h"

#include <functional>

// Which flags a FlagFilterStep keeps.
enum class FlagFilter : quint8 {
    all,         // every image: the step is inactive
    pick,        // picked only
    unflagged,   // neither picked nor rejected
    reject,      // rejected only
    hideRejects, // everything but the rejects
};

// Keeps the images whose culling flag the filter accepts.
class FlagFilterStep final : public ImageListStep
{
public:
    // The stored mark of a file path, empty when none.
    using MarkLookup = std::function<CullingMark(const QString &path)>;

    explicit FlagFilterStep(MarkLookup mark)
        : m_mark(std::move(mark))
    {}

    FlagFilter filter() const { return m_filter; }
    // The stored mark of `path`, as the step reads it.
    CullingMark mark(const QString &path) const { return m_mark(path); }
    void setFilter(FlagFilter filter) { m_filter = filter; }

    bool isActive() const override { return m_filter != FlagFilter::all; }
    bool readsMarks() const override { return true; }
    QList<ImageItem> apply(const QList<ImageItem> &input) const override
    {
        return keepIf(input,
                      [&](const ImageItem &item) { return accepts(m_mark(item.path()).flag); });
    }

private:
    bool accepts(CullingFlag flag) const
    {
        switch (m_filter) {
        case FlagFilter::pick:
            return flag == CullingFlag::pick;
        case FlagFilter::unflagged:
            return flag == CullingFlag::none;
        case FlagFilter::reject:
            return flag == CullingFlag::reject;
        case FlagFilter::hideRejects:
            return flag != CullingFlag::reject;
        case FlagFilter::all:
            break;
        }
        return true;
    }

    MarkLookup m_mark;
    FlagFilter m_filter = FlagFilter::all;
};
