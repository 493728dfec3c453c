#pragma once

#include "imaging/ShootingData.h"
#include "state/ImageListStep.h"
#include "state/SortOrder.h"

#include <functional>

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
    void setOrder(const SortOrder &order) { m_order = order; }

    bool isActive() const override { return !m_order.isScannerOrder(); }
    bool readsRatings() const override { return m_order.key == SortOrder::Key::rating; }
    bool readsShootingData() const override;
    QList<ImageItem> apply(const QList<ImageItem> &input) const override;

private:
    // The key of one item as a number, empty when unknown.
    std::optional<qint64> keyOf(const ImageItem &item) const;

    RatingLookup m_rating;
    ShootingDataLookup m_shootingData;
    SortOrder m_order;
};
