#pragma once

#include <QString>
#include <QStringView>
#include <array>
#include <optional>

// What the export editor applies to a photo. Declaration order is the order of
// the mode switch.
enum class EditMode { frame, watermark, both };

namespace EditModes {

inline constexpr std::array<EditMode, 3> all{EditMode::frame, EditMode::watermark, EditMode::both};

QString rawValue(EditMode mode);
std::optional<EditMode> fromRawValue(QStringView raw);
// The label of the mode switch: "边框", "水印", "边框 + 水印".
QString label(EditMode mode);

inline bool appliesFrame(EditMode mode)
{
    return mode != EditMode::watermark;
}
inline bool appliesWatermark(EditMode mode)
{
    return mode != EditMode::frame;
}

} // namespace EditModes
