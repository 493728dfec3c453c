#pragma once

#include "state/FlagFilterStep.h"
#include "state/FormatFilterStep.h"
#include "state/LabelFilterStep.h"
#include "state/ShootingDataFilterStep.h"
#include "state/SortStep.h"
#include "state/StarFilterStep.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <array>
#include <optional>

class QThreadPool;

// The list the grid shows and the viewer steps through, made from a folder's
// images by an ordered list of steps (the filters, then the sort), and what
// the filter bars offer: the formats, ratings, cameras and lenses among all
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
    using ShootingField = ShootingDataFilterStep::Field;

    // A camera or lens among the images, and how many images show it.
    struct ValueCount
    {
        QString value; // empty: the files name none
        qsizetype count = 0;
        friend bool operator==(const ValueCount &, const ValueCount &) = default;
    };

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
    // shootingData: what has been read of a path's shooting data; without it
    // nothing is known.
    ImageListPipeline(StarFilterStep::RatingLookup rating, QThreadPool &discards,
                      FlagFilterStep::MarkLookup mark = {},
                      SortStep::ShootingDataLookup shootingData = {});

    // Inputs.
    Changes setImages(const QList<ImageItem> &images);
    // The same with `imagesPerPath` (how many items of `images` show each
    // path, from countImagesPerPath) counted by the caller off the UI thread.
    Changes setImages(const QList<ImageItem> &images, QHash<QString, int> imagesPerPath);
    Changes setStarFilter(int stars);
    Changes setFormatFilter(std::optional<FormatCategory> format);
    Changes setFlagFilter(FlagFilter filter);
    Changes setLabelFilter(std::optional<ColourLabel> label);
    // No value: every camera (lens); an empty text: the images without one.
    Changes setShootingFilter(ShootingField field, const std::optional<QString> &value);
    Changes setSortOrder(const SortOrder &order);
    // The store changed the rating of one file.
    Changes ratingChanged(const QString &path, int oldRating, int newRating);
    // The store changed many ratings at once.
    Changes ratingsReplaced();
    // The store changed the flag or label of these files.
    Changes marksChanged(const QStringList &paths);
    // More shooting data is known (the background read completed).
    Changes shootingDataChanged();

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
    const std::optional<QString> &shootingFilter(ShootingField field) const;
    const SortOrder &sortOrder() const { return m_sortStep.order(); }
    // The categories among all images, in declaration order.
    QList<FormatCategory> availableFormats() const;
    // The ratings 0 to 5 among all images, ascending.
    QList<int> availableStarRatings() const;
    // The cameras or lenses among the images whose data is known, by name,
    // the images naming none last. Counted on each call: for a menu.
    QList<ValueCount> shootingValues(ShootingField field) const;

private:
    Changes runSteps();
    Changes recountRatings();
    Changes recountRejects();
    Changes trackRejects(const QStringList &paths);
    bool readsRatings() const;
    bool readsMarks() const;
    bool readsShootingData() const;

    StarFilterStep::RatingLookup m_rating;
    SortStep::ShootingDataLookup m_shootingData;
    QThreadPool &m_discards;
    QList<ImageItem> m_images;
    QHash<QString, int> m_imagesPerPath;
    std::array<qsizetype, 6> m_ratingCounts{}; // images per rating 0..5

    StarFilterStep m_starStep;
    FormatFilterStep m_formatStep;
    FlagFilterStep m_flagStep;
    LabelFilterStep m_labelStep;
    ShootingDataFilterStep m_cameraStep;
    ShootingDataFilterStep m_lensStep;
    SortStep m_sortStep; // last: it then orders the fewest items
    const std::array<const ImageListStep *, 7> m_steps{&m_starStep,  &m_formatStep, &m_flagStep,
                                                       &m_labelStep, &m_cameraStep, &m_lensStep,
                                                       &m_sortStep}; // in order

    QList<ImageItem> m_filteredImages;
    QSet<QString> m_rejectedPaths;
};
