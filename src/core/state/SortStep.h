#pragma once

#include "imaging/ShootingData.h"
#include "state/ImageListStep.h"
#include "state/SortOrder.h"

#include <functional>
#include <vector>

// Orders the images by a SortOrder. Equal keys keep their input order (the
// file names), and images whose key is unknown (no shooting data read yet)
// follow the known ones in either direction, so a partly read folder never
// shuffles them. File name ascending leaves the list as it comes.
class SortStep final : public ImageListStep
{
public:
    // The shooting data of a path; nullptr while unknown.
    using ShootingDataLookup = std::function<const ShootingData *(const QString &path)>;
    using RatingLookup = std::function<int(const QString &path)>;

    SortStep(RatingLookup rating, ShootingDataLookup shootingData);

    const SortOrder &order() const { return m_order; }
    void setOrder(const SortOrder &order);

    // The keys are looked up once per folder and kept in the order of its
    // images: an input is always these images or a filtered part of them,
    // in their order. These calls forget the kept keys where they may differ.
    void setFolderImages(const QList<ImageItem> &images);
    void ratingsChanged();
    void shootingDataChanged();

    bool isActive() const override { return !m_order.isScannerOrder(); }
    bool readsRatings() const override { return m_order.key == SortOrder::Key::rating; }
    bool readsShootingData() const override;
    QList<ImageItem> apply(const QList<ImageItem> &input) const override;

private:
    void forgetKeys();

    struct Key
    {
        qint64 value = 0;
        bool known = false;
    };

    // The key of one item, unknown without data.
    Key keyOf(const ImageItem &item) const;
    // The keys of `input`'s items, from the kept keys of the folder's images.
    std::vector<Key> keysOf(const QList<ImageItem> &input) const;

    RatingLookup m_rating;
    ShootingDataLookup m_shootingData;
    SortOrder m_order;
    QList<ImageItem> m_folderImages;
    mutable std::vector<Key> m_folderKeys; // empty until the first sort needs them
};
