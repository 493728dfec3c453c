#include "export/WatermarkConfig.h"

namespace {

constexpr std::array<const char *, 3> kKindNames{"text", "image", "tiled"};
constexpr std::array<const char *, 9> kPositionNames{"topLeft",    "topCenter",    "topRight",
                                                     "midLeft",    "midCenter",    "midRight",
                                                     "bottomLeft", "bottomCenter", "bottomRight"};

template <typename Enum, std::size_t N>
std::optional<Enum> fromName(const std::array<const char *, N> &names, QStringView raw)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (raw == QLatin1String(names[i]))
            return Enum(i);
    }
    return std::nullopt;
}

} // namespace

QString WatermarkConfig::rawValue(Kind kind)
{
    return QLatin1String(kKindNames[std::size_t(kind)]);
}

std::optional<WatermarkConfig::Kind> WatermarkConfig::kindFromRawValue(QStringView raw)
{
    return fromName<Kind>(kKindNames, raw);
}

QString WatermarkConfig::rawValue(Position position)
{
    return QLatin1String(kPositionNames[std::size_t(position)]);
}

std::optional<WatermarkConfig::Position> WatermarkConfig::positionFromRawValue(QStringView raw)
{
    return fromName<Position>(kPositionNames, raw);
}
