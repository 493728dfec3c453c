#include "state/SortStep.h"

#include <algorithm>
#include <vector>

SortStep::SortStep(RatingLookup rating, ShootingDataLookup shootingData)
    : m_rating(std::move(rating))
    , m_shootingData(std::move(shootingData))
{}

bool SortStep::readsShootingData() const
{
    return m_order.key == SortOrder::Key::captureTime || m_order.key == SortOrder::Key::modified;
}

std::optional<qint64> SortStep::keyOf(const ImageItem &item) const
{
    if (m_order.key == SortOrder::Key::rating)
        return m_rating(item.path());
    const ShootingData *data = m_shootingData(item.path());
    if (!data)
        return std::nullopt;
    const QDateTime &time =
        m_order.key == SortOrder::Key::captureTime ? data->captureTime : data->fileModified;
    if (!time.isValid())
        return std::nullopt;
    return time.toMSecsSinceEpoch();
}

QList<ImageItem> SortStep::apply(const QList<ImageItem> &input) const
{
    if (m_order.key == SortOrder::Key::fileName) {
        QList<ImageItem> reversed(input.crbegin(), input.crend());
        return reversed;
    }

    // The keys are looked up once per item, not once per comparison: a
    // lookup hashes a path, and a sort makes n log n comparisons.
    struct Keyed
    {
        qint64 key;
        bool known;
        qsizetype index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(input.size()));
    for (qsizetype i = 0; i < input.size(); ++i) {
        const std::optional<qint64> key = keyOf(input[i]);
        keyed.push_back({key.value_or(0), key.has_value(), i});
    }
    const bool descending = m_order.descending;
    std::sort(keyed.begin(), keyed.end(), [descending](const Keyed &a, const Keyed &b) {
        if (a.known != b.known)
            return a.known;
        if (a.key != b.key)
            return descending ? a.key > b.key : a.key < b.key;
        return a.index < b.index;
    });

    QList<ImageItem> sorted;
    sorted.reserve(input.size());
    for (const Keyed &entry : keyed)
        sorted.append(input[entry.index]);
    return sorted;
}
