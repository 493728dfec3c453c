#pragma once

#include "imaging/ShootingData.h"
#include "state/ImageListStep.h"

#include <functional>
#include <optional>

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

    ShootingDataFilterStep(Field field, ShootingDataLookup shootingData)
        : m_field(field)
        , m_shootingData(std::move(shootingData))
    {}

    static QString valueOf(Field field, const ShootingData &data)
    {
        return field == Field::camera ? data.cameraName() : data.lens;
    }

    const std::optional<QString> &value() const { return m_value; }
    void setValue(const std::optional<QString> &value) { m_value = value; }

    bool isActive() const override { return m_value.has_value(); }
    bool readsShootingData() const override { return true; }
    QList<ImageItem> apply(const QList<ImageItem> &input) const override
    {
        return keepIf(input, [&](const ImageItem &item) {
            const ShootingData *data = m_shootingData(item.path());
            return data && valueOf(m_field, *data) == *m_value;
        });
    }

private:
    Field m_field;
    ShootingDataLookup m_shootingData;
    std::optional<QString> m_value;
};
