#pragma once

#include <QColor>
#include <QString>
#include <QStringView>
#include <array>
#include <optional>

// What watermark to draw and how. Sizes are fractions of the photo's pixel
// size, so the same settings look alike at any resolution.
struct WatermarkConfig
{
    enum class Kind { text, image, tiled };

    // Row-major 3 x 3 grid, top row first.
    enum class Position {
        topLeft,
        topCenter,
        topRight,
        midLeft,
        midCenter,
        midRight,
        bottomLeft,
        bottomCenter,
        bottomRight
    };

    static constexpr std::array<Kind, 3> allKinds{Kind::text, Kind::image, Kind::tiled};
    static constexpr std::array<Position, 9> allPositions{
        Position::topLeft,    Position::topCenter,    Position::topRight,
        Position::midLeft,    Position::midCenter,    Position::midRight,
        Position::bottomLeft, Position::bottomCenter, Position::bottomRight};

    static QString rawValue(Kind kind);
    static std::optional<Kind> kindFromRawValue(QStringView raw);
    static QString rawValue(Position position);
    static std::optional<Position> positionFromRawValue(QStringView raw);

    // 0 left, 1 centre, 2 right / 0 top, 1 middle, 2 bottom.
    static int column(Position position) { return int(position) % 3; }
    static int row(Position position) { return int(position) / 3; }

    Kind kind = Kind::text;
    QString text = QStringLiteral("© Kelvane");
    double fontSize = 0.035;      // fraction of the photo's longer side
    QColor textColor = Qt::white; // alpha is honoured
    QString imageURL;             // logo file path; empty = none
    double imageScale = 0.15;     // drawn width, fraction of the photo's width
    Position position = Position::bottomRight;
    double margin = 0.03;             // fraction of the photo's shorter side
    double opacity = 0.85;            // global, 0...1
    double tileSpacing = 0.15;        // gap between tile rows, fraction of the longer side
    double tileRotationDegrees = -30; // counter-clockwise positive, as seen on the photo

    friend bool operator==(const WatermarkConfig &, const WatermarkConfig &) = default;
};
