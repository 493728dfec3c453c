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

void SortStep::setOrder(const SortOrder &order)
{
    if (order.key != m_order.key)
        forgetKeys();
    m_order = order;
}

void SortStep::setFolderImages(const QList<ImageItem> &images)
{
    m_folderImages = images;
    forgetKeys();
}

void SortStep::ratingsChanged()
{
    if (m_order.key == SortOrder::Key::rating)
        forgetKeys();
}

void SortStep::shootingDataChanged()
{
    if (readsShootingData())
        forgetKeys();
}

void SortStep::forgetKeys()
{
    std::vector<Key>().swap(m_folderKeys);
}

SortStep::Key SortStep::keyOf(const ImageItem &item) const
{
    if (m_order.key == SortOrder::Key::rating)
        return {m_rating(item.path()), true};
    const ShootingData *data = m_shootingData(item.path());
    if (!data)
        return {};
    const QDateTime &time =
        m_order.key == SortOrder::Key::captureTime ? data->captureTime : data->fileModified;
    if (!time.isValid())
        return {};
    return {time.toMSecsSinceEpoch(), true};
}

std::vector<SortStep::Key> SortStep::keysOf(const QList<ImageItem> &input) const
{
    if (m_folderKeys.empty() && !m_folderImages.isEmpty()) {
        // A lookup hashes a path: once per image, not once per sort.
        m_folderKeys.reserve(size_t(m_folderImages.size()));
        for (const ImageItem &item : m_folderImages)
            m_folderKeys.push_back(keyOf(item));
    }
    const std::vector<qsizetype> positions = positionsIn(m_folderImages, input);
    std::vector<Key> keys;
    keys.reserve(positions.size());
    for (const qsizetype at : positions)
        keys.push_back(m_folderKeys[size_t(at)]);
    return keys;
}

QList<ImageItem> SortStep::apply(const QList<ImageItem> &input) const
{
    if (m_order.key == SortOrder::Key::fileName) {
        QList<ImageItem> reversed(input.crbegin(), input.crend());
        return reversed;
    }

    std::vector<Key> keys = keysOf(input);
    if (keys.size() != size_t(input.size())) {
        keys.clear();
        for (const ImageItem &item : input)
            keys.push_back(keyOf(item));
    }
    struct Keyed
    {
        qint64 key;
        bool known;
        qsizetype index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        keyed.push_back({keys[i].value, keys[i].known, qsizetype(i)});
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
