#pragma once

#include "imaging/ShootingData.h"
#include "state/ImageListStep.h"

#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// Keeps the images taken with one camera, or with one lens. The value is
// compared with valueOf(): an empty value keeps the images whose files name
// none, and no value keeps every image. Images whose data is not read yet
// are left out while the step is active.
class ShootingDataFilterStep final : public ImageListStep
{
public:
    enum class Field : quint8 { camera, lens };
    // The shooting data of a path; nullptr while unknown.
    using ShootingDataLookup = std::function<const ShootingData *(const QString &path)>;

    ShootingDataFilterStep(Field field, ShootingDataLookup shootingData);

    static QString valueOf(Field field, const ShootingData &data);

    const std::optional<QString> &value() const { return m_value; }
    void setValue(const std::optional<QString> &value) { m_value = value; }

    // The values are looked up once per folder and kept in the order of its
    // images (as SortStep keeps its keys); these calls forget them.
    void setFolderImages(const QList<ImageItem> &images);
    void shootingDataChanged();

    bool isActive() const override { return m_value.has_value(); }
    bool readsShootingData() const override { return true; }
    QList<ImageItem> apply(const QList<ImageItem> &input) const override;

private:
    static constexpr int unknown = -1;
    // The number of an item's value in m_values; unknown without data.
    int valueNumber(const ImageItem &item) const;

    Field m_field;
    ShootingDataLookup m_shootingData;
    std::optional<QString> m_value;
    QList<ImageItem> m_folderImages;
    mutable QStringList m_values;             // the distinct values met so far
    mutable std::vector<int> m_folderNumbers; // per folder image; empty until needed
};
