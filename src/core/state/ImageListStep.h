#pragma once

#include "model/ImageItem.h"

#include <QList>
#include <vector>

// One step of ImageListPipeline between a folder's images and the list the
// grid shows: a filter today; a sort or a grouping fits the same shape. A step
// holds its own setting (the stars to keep, the format, a sort key) and reads
// nothing else but the items and the lookups it was built with.
class ImageListStep
{
public:
    virtual ~ImageListStep() = default;

    // False while the step would hand its input on unchanged: the pipeline
    // then skips it, and a list no step changes is shared, not copied.
    virtual bool isActive() const = 0;
    // Whether a change of an image's rating can change the step's output;
    // the pipeline then runs again when a rating changes.
    virtual bool readsRatings() const { return false; }
    // The same for a change of an image's flag or colour label.
    virtual bool readsMarks() const { return false; }
    // The same for the shooting data of the images, read in the background
    // after a folder opens.
    virtual bool readsShootingData() const { return false; }
    // The output for `input`; called only while active.
    virtual QList<ImageItem> apply(const QList<ImageItem> &input) const = 0;

protected:
    // Where each item of `input` stands in `folder`, when `input` is `folder`
    // with some items left out and the rest in their order (what the filters
    // make of a folder's images); empty otherwise. Steps that keep a value
    // per folder image find their values by it without hashing a path.
    static std::vector<qsizetype> positionsIn(const QList<ImageItem> &folder,
                                              const QList<ImageItem> &input)
    {
        std::vector<qsizetype> positions;
        positions.reserve(size_t(input.size()));
        qsizetype at = 0;
        for (const ImageItem &item : input) {
            while (at < folder.size() && folder[at] != item)
                ++at;
            if (at == folder.size())
                return {};
            positions.push_back(at++);
        }
        return positions;
    }

    // The items of `input` that `keeps` accepts, in their order.
    template <typename Predicate>
    static QList<ImageItem> keepIf(const QList<ImageItem> &input, Predicate keeps)
    {
        QList<ImageItem> kept;
        kept.reserve(input.size());
        for (const ImageItem &item : input) {
            if (keeps(item))
                kept.append(item);
        }
        return kept;
    }
};
