#include "state/ImageListPipeline.h"

#include <QThreadPool>
#include <algorithm>
#include <utility>

namespace {

// Lists of items compare by identity, element by element.
bool sameItems(const QList<ImageItem> &a, const QList<ImageItem> &b)
{
    return a.size() == b.size() && std::equal(a.cbegin(), a.cend(), b.cbegin());
}

// Drops the last reference to `value` on `pool`. Containers of items are
// implicitly shared, so whoever else still holds them keeps them alive.
// Freeing 100,000 items takes a while; the scanner's thread does it between
// scans, which also keeps the next scan's allocations from contending with a
// concurrent free for the same malloc arena.
template <typename T>
void discardLater(QThreadPool &pool, T &&value)
{
    if (value.size() < 10000)
        return;
    pool.start([doomed = std::move(value)]() mutable { T().swap(doomed); });
}

int clampedRating(int rating)
{
    return std::clamp(rating, 0, 5);
}

} // namespace

ImageListPipeline::Changes &ImageListPipeline::Changes::operator|=(const Changes &other)
{
    images |= other.images;
    ratingCounts |= other.ratingCounts;
    filtered |= other.filtered;
    rejects |= other.rejects;
    return *this;
}

namespace {

FlagFilterStep::MarkLookup orUnmarked(FlagFilterStep::MarkLookup mark)
{
    if (mark)
        return mark;
    return [](const QString &) { return CullingMark(); };
}

SortStep::ShootingDataLookup orUnknown(SortStep::ShootingDataLookup shootingData)
{
    if (shootingData)
        return shootingData;
    return [](const QString &) -> const ShootingData * { return nullptr; };
}

} // namespace

ImageListPipeline::ImageListPipeline(StarFilterStep::RatingLookup rating, QThreadPool &discards,
                                     FlagFilterStep::MarkLookup mark,
                                     SortStep::ShootingDataLookup shootingData)
    : m_rating(rating)
    , m_shootingData(orUnknown(std::move(shootingData)))
    , m_discards(discards)
    , m_starStep(rating)
    , m_flagStep(orUnmarked(mark))
    , m_labelStep(orUnmarked(mark))
    , m_cameraStep(ShootingField::camera, m_shootingData)
    , m_lensStep(ShootingField::lens, m_shootingData)
    , m_sortStep(std::move(rating), m_shootingData)
{}

ImageListPipeline::Changes ImageListPipeline::setImages(const QList<ImageItem> &images)
{
    if (sameItems(m_images, images))
        return {};
    return setImages(images, countImagesPerPath(images));
}

ImageListPipeline::Changes ImageListPipeline::setImages(const QList<ImageItem> &images,
                                                        QHash<QString, int> imagesPerPath)
{
    if (sameItems(m_images, images))
        return {};
    discardLater(m_discards, std::exchange(m_images, images));
    discardLater(m_discards, std::exchange(m_imagesPerPath, std::move(imagesPerPath)));
    m_sortStep.setFolderImages(m_images);
    m_cameraStep.setFolderImages(m_images);
    m_lensStep.setFolderImages(m_images);
    Changes changes = recountRatings();
    changes |= recountRejects();
    changes.images = true;
    return changes |= runSteps();
}

QHash<QString, int> ImageListPipeline::countImagesPerPath(const QList<ImageItem> &images)
{
    QHash<QString, int> counts;
    counts.reserve(images.size());
    for (const ImageItem &item : images)
        ++counts[item.path()];
    return counts;
}

ImageListPipeline::Changes ImageListPipeline::setStarFilter(int stars)
{
    if (m_starStep.stars() == stars)
        return {};
    m_starStep.setStars(stars);
    return runSteps();
}

ImageListPipeline::Changes ImageListPipeline::setFormatFilter(std::optional<FormatCategory> format)
{
    if (m_formatStep.format() == format)
        return {};
    m_formatStep.setFormat(format);
    return runSteps();
}

ImageListPipeline::Changes ImageListPipeline::setFlagFilter(FlagFilter filter)
{
    if (m_flagStep.filter() == filter)
        return {};
    m_flagStep.setFilter(filter);
    return runSteps();
}

ImageListPipeline::Changes ImageListPipeline::setLabelFilter(std::optional<ColourLabel> label)
{
    if (m_labelStep.label() == label)
        return {};
    m_labelStep.setLabel(label);
    return runSteps();
}

ImageListPipeline::Changes ImageListPipeline::setShootingFilter(ShootingField field,
                                                                const std::optional<QString> &value)
{
    ShootingDataFilterStep &step = field == ShootingField::camera ? m_cameraStep : m_lensStep;
    if (step.value() == value)
        return {};
    step.setValue(value);
    return runSteps();
}

ImageListPipeline::Changes ImageListPipeline::setSortOrder(const SortOrder &order)
{
    if (m_sortStep.order() == order)
        return {};
    m_sortStep.setOrder(order);
    return runSteps();
}

ImageListPipeline::Changes ImageListPipeline::shootingDataChanged()
{
    m_sortStep.shootingDataChanged();
    m_cameraStep.shootingDataChanged();
    m_lensStep.shootingDataChanged();
    return readsShootingData() ? runSteps() : Changes{};
}

const std::optional<QString> &ImageListPipeline::shootingFilter(ShootingField field) const
{
    return field == ShootingField::camera ? m_cameraStep.value() : m_lensStep.value();
}

ImageListPipeline::Changes ImageListPipeline::marksChanged(const QStringList &paths)
{
    Changes changes = trackRejects(paths);
    if (!readsMarks())
        return changes;
    const bool anyShown = std::any_of(paths.cbegin(), paths.cend(), [this](const QString &path) {
        return m_imagesPerPath.contains(path);
    });
    return anyShown ? changes |= runSteps() : changes;
}

ImageListPipeline::Changes ImageListPipeline::ratingChanged(const QString &path, int oldRating,
                                                            int newRating)
{
    const int shown = m_imagesPerPath.value(path, 0);
    const int from = clampedRating(oldRating);
    const int to = clampedRating(newRating);
    if (shown == 0 || from == to)
        return {};
    m_ratingCounts[from] -= shown;
    m_ratingCounts[to] += shown;
    m_sortStep.ratingsChanged();
    Changes changes{.ratingCounts = true};
    if (readsRatings())
        changes |= runSteps();
    return changes;
}

ImageListPipeline::Changes ImageListPipeline::ratingsReplaced()
{
    m_sortStep.ratingsChanged();
    Changes changes = recountRatings();
    if (readsRatings())
        changes |= runSteps();
    return changes;
}

ImageListPipeline::Changes ImageListPipeline::runSteps()
{
    QList<ImageItem> list = m_images; // shares the data, no copy
    for (const ImageListStep *step : m_steps) {
        if (step->isActive())
            list = step->apply(list);
    }
    if (sameItems(list, m_filteredImages))
        return {};
    discardLater(m_discards, std::exchange(m_filteredImages, std::move(list)));
    return {.filtered = true};
}

bool ImageListPipeline::readsRatings() const
{
    return std::any_of(m_steps.cbegin(), m_steps.cend(), [](const ImageListStep *step) {
        return step->isActive() && step->readsRatings();
    });
}

bool ImageListPipeline::readsMarks() const
{
    return std::any_of(m_steps.cbegin(), m_steps.cend(), [](const ImageListStep *step) {
        return step->isActive() && step->readsMarks();
    });
}

bool ImageListPipeline::readsShootingData() const
{
    return std::any_of(m_steps.cbegin(), m_steps.cend(), [](const ImageListStep *step) {
        return step->isActive() && step->readsShootingData();
    });
}

ImageListPipeline::Changes ImageListPipeline::recountRatings()
{
    std::array<qsizetype, 6> counts{};
    for (const ImageItem &item : std::as_const(m_images))
        ++counts[clampedRating(m_rating(item.path()))];
    if (counts == m_ratingCounts)
        return {};
    m_ratingCounts = counts;
    return {.ratingCounts = true};
}

ImageListPipeline::Changes ImageListPipeline::recountRejects()
{
    QSet<QString> rejected;
    for (auto it = m_imagesPerPath.cbegin(); it != m_imagesPerPath.cend(); ++it) {
        if (m_flagStep.mark(it.key()).flag == CullingFlag::reject)
            rejected.insert(it.key());
    }
    if (rejected == m_rejectedPaths)
        return {};
    m_rejectedPaths = std::move(rejected);
    return {.rejects = true};
}

ImageListPipeline::Changes ImageListPipeline::trackRejects(const QStringList &paths)
{
    bool changed = false;
    for (const QString &path : paths) {
        if (!m_imagesPerPath.contains(path))
            continue;
        if (m_flagStep.mark(path).flag == CullingFlag::reject) {
            const qsizetype before = m_rejectedPaths.size();
            m_rejectedPaths.insert(path);
            changed |= m_rejectedPaths.size() != before;
        } else {
            changed |= m_rejectedPaths.remove(path);
        }
    }
    return {.rejects = changed};
}

QList<ImageListPipeline::FormatCategory> ImageListPipeline::availableFormats() const
{
    std::array<bool, ImageItem::allFormatCategories.size()> present{};
    for (const ImageItem &item : m_images)
        present[size_t(item.formatCategory())] = true;
    QList<FormatCategory> formats;
    for (const FormatCategory category : ImageItem::allFormatCategories) {
        if (present[size_t(category)])
            formats << category;
    }
    return formats;
}

QList<int> ImageListPipeline::availableStarRatings() const
{
    QList<int> ratings;
    for (int stars = 0; stars <= 5; ++stars) {
        if (m_ratingCounts[stars] > 0)
            ratings << stars;
    }
    return ratings;
}

QList<ImageListPipeline::ValueCount> ImageListPipeline::shootingValues(ShootingField field) const
{
    QHash<QString, qsizetype> counts;
    for (const ImageItem &item : m_images) {
        if (const ShootingData *data = m_shootingData(item.path()))
            ++counts[ShootingDataFilterStep::valueOf(field, *data)];
    }
    QList<ValueCount> values;
    values.reserve(counts.size());
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        values.append({it.key(), it.value()});
    std::sort(values.begin(), values.end(), [](const ValueCount &a, const ValueCount &b) {
        if (a.value.isEmpty() != b.value.isEmpty())
            return b.value.isEmpty();
        return a.value.localeAwareCompare(b.value) < 0;
    });
    return values;
}
