#pragma once

#include "state/FlagFilterStep.h"
#include "state/FormatFilterStep.h"
#include "state/LabelFilterStep.h"
#include "state/StarFilterStep.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <array>
#include <optional>

class QThreadPool;

// The list the grid shows and the viewer steps through, made from a folder's
// images by an ordered list of steps (the star filter, then the format
// filter), and what the filter bars offer: the formats and ratings among all
// images.
//
// Lives on the UI thread. Nothing is computed on read: a grid of 100,000
// images reads these per painted cell. Each input instead returns what it
// changed, so that the owner notifies only real changes, and a changed rating
// moves the counts per rating by the items of its file without a recount.
//
// A new step: a small ImageListStep, a member here, its place in m_steps and
// a setter.
class ImageListPipeline
{
public:
    using FormatCategory = ImageItem::FormatCategory;

    // What an input changed; each flag is set only when the value differs.
    struct Changes
    {
        bool images = false;
        bool ratingCounts = false; // availableStarRatings may differ
        bool filtered = false;
        bool rejects = false; // rejectedPaths differs

        Changes &operator|=(const Changes &other);
        friend bool operator==(const Changes &, const Changes &) = default;
    };

    // discards: where large lists that were replaced are freed, off the UI thread.
    // mark: the flag and label of a path; without it every image reads as unmarked.
    ImageListPipeline(StarFilterStep::RatingLookup rating, QThreadPool &discards,
                      FlagFilterStep::MarkLookup mark = {});

    // Inputs.
    Changes setImages(const QList<ImageItem> &images);
    // The same with `imagesPerPath` (how many items of `images` show each
    // path, from countImagesPerPath) counted by the caller off the UI thread.
    Changes setImages(const QList<ImageItem> &images, QHash<QString, int> imagesPerPath);
    Changes setStarFilter(int stars);
    Changes setFormatFilter(std::optional<FormatCategory> format);
    Changes setFlagFilter(FlagFilter filter);
    Changes setLabelFilter(std::optional<ColourLabel> label);
    // The store changed the rating of one file.
    Changes ratingChanged(const QString &path, int oldRating, int newRating);
    // The store changed many ratings at once.
    Changes ratingsReplaced();
    // The store changed the flag or label of these files.
    Changes marksChanged(const QStringList &paths);

    static QHash<QString, int> countImagesPerPath(const QList<ImageItem> &images);

    // Outputs.
    const QList<ImageItem> &images() const { return m_images; }
    const QList<ImageItem> &filteredImages() const { return m_filteredImages; }
    // The paths among all images whose flag is a reject, whatever the filters.
    // Kept per changed path: a mark costs no pass over the images.
    const QSet<QString> &rejectedPaths() const { return m_rejectedPaths; }
    int starFilter() const { return m_starStep.stars(); }
    std::optional<FormatCategory> formatFilter() const { return m_formatStep.format(); }
    FlagFilter flagFilter() const { return m_flagStep.filter(); }
    std::optional<ColourLabel> labelFilter() const { return m_labelStep.label(); }
    // The categories among all images, in declaration order.
    QList<FormatCategory> availableFormats() const;
    // The ratings 0 to 5 among all images, ascending.
    QList<int> availableStarRatings() const;

private:
    Changes runSteps();
    Changes recountRatings();
    Changes recountRejects();
    Changes trackRejects(const QStringList &paths);
    bool readsRatings() const;
    bool readsMarks() const;

    StarFilterStep::RatingLookup m_rating;
    QThreadPool &m_discards;
    QList<ImageItem> m_images;
    QHash<QString, int> m_imagesPerPath;
    std::array<qsizetype, 6> m_ratingCounts{}; // images per rating 0..5

    StarFilterStep m_starStep;
    FormatFilterStep m_formatStep;
    FlagFilterStep m_flagStep;
    LabelFilterStep m_labelStep;
    const std::array<const ImageListStep *, 4> m_steps{&m_starStep, &m_formatStep, &m_flagStep,
                                                       &m_labelStep}; // in order

    QList<ImageItem> m_filteredImages;
    QSet<QString> m_rejectedPaths;
};
