#include "state/ShootingDataFilterStep.h"

ShootingDataFilterStep::ShootingDataFilterStep(Field field, ShootingDataLookup shootingData)
    : m_field(field)
    , m_shootingData(std::move(shootingData))
{}

QString ShootingDataFilterStep::valueOf(Field field, const ShootingData &data)
{
    return field == Field::camera ? data.cameraName() : data.lens;
}

void ShootingDataFilterStep::setFolderImages(const QList<ImageItem> &images)
{
    m_folderImages = images;
    shootingDataChanged();
}

void ShootingDataFilterStep::shootingDataChanged()
{
    std::vector<int>().swap(m_folderNumbers);
    m_values.clear();
}

int ShootingDataFilterStep::valueNumber(const ImageItem &item) const
{
    const ShootingData *data = m_shootingData(item.path());
    if (!data)
        return unknown;
    const QString value = valueOf(m_field, *data);
    // A folder holds a handful of cameras and lenses: a list is enough.
    qsizetype number = m_values.indexOf(value);
    if (number < 0) {
        number = m_values.size();
        m_values.append(value);
    }
    return int(number);
}

QList<ImageItem> ShootingDataFilterStep::apply(const QList<ImageItem> &input) const
{
    if (m_folderNumbers.empty() && !m_folderImages.isEmpty()) {
        m_folderNumbers.reserve(size_t(m_folderImages.size()));
        for (const ImageItem &item : m_folderImages)
            m_folderNumbers.push_back(valueNumber(item));
    }
    const std::vector<qsizetype> positions = positionsIn(m_folderImages, input);
    if (positions.size() != size_t(input.size())) {
        return keepIf(input, [&](const ImageItem &item) {
            const ShootingData *data = m_shootingData(item.path());
            return data && valueOf(m_field, *data) == *m_value;
        });
    }
    const int wanted = int(m_values.indexOf(*m_value)); // -1: no image has it
    QList<ImageItem> kept;
    for (size_t i = 0; i < positions.size(); ++i) {
        const int number = m_folderNumbers[size_t(positions[i])];
        if (wanted >= 0 && number == wanted)
            kept.append(input[qsizetype(i)]);
    }
    return kept;
}
