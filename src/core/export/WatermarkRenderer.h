#pragma once

#include "export/TextLine.h"
#include "export/WatermarkConfig.h"

#include <QImage>
#include <QSizeF>
#include <optional>

class QPainter;

// Paints a text, logo or tiled watermark onto a copy of a photo. Pure functions
// of their arguments, safe on any thread; the logo file is read on every call.
class WatermarkRenderer
{
public:
    WatermarkRenderer() = delete;

    // The watermarked copy (same pixel size; RGB32 for opaque photos, else ARGB32
    // premultiplied), or nothing
    // when the photo is null or no canvas can be allocated; the caller then keeps
    // the unwatermarked photo. Missing logos and empty texts draw nothing (tiles
    // fall back from the logo to the text) but still return a copy.
    static std::optional<QImage> apply(const QImage &image, const WatermarkConfig &config);

    // Paints the watermark of a photo of `photoSize` pixels with `ctx`, whose
    // origin is the photo's top-left corner (and which should clip to it).
    // Lets a caller watermark a photo already placed in a larger canvas
    // without a copy of its own; source-over blending makes the result equal
    // to watermarking the photo first.
    static void paint(QPainter &ctx, const QSizeF &photoSize, const WatermarkConfig &config);

    // The part of a photo of `photoSize` pixels (y-down, its own pixels)
    // outside which paint() changes nothing: around the text's ink for the
    // text kind, empty without a text, the whole photo for the other kinds.
    static QRectF paintedBounds(const QSizeF &photoSize, const WatermarkConfig &config);

    // The tile of the tiled kind, rotated, transparent around the content;
    // nothing when there is neither a loadable logo nor a text, or when the
    // tile is too large to be kept as one bitmap (drawTiled then draws it in
    // place). Exposed for tests.
    static std::optional<QImage> makeRotatedTile(const WatermarkConfig &config,
                                                 const QSizeF &canvas);

private:
    // One tile's content and geometry: unrotated size (tw, th), rotated bounds
    // (RW, RH) and the whole pixels they take (width, height).
    struct Tile
    {
        QImage logo;
        std::optional<TextLine> line;
        qreal tw = 0, th = 0, RW = 0, RH = 0;
        qreal width = 0, height = 0;
        qreal degrees = 0;
    };
    static std::optional<Tile> makeTile(const WatermarkConfig &config, const QSizeF &canvas);
    // Paints the rotated tile with the top-left corner of its bounds at `topLeft`.
    static void paintTile(QPainter &ctx, const Tile &tile, const QPointF &topLeft);
    // The tile as one bitmap, or nothing when it is too large for one.
    static std::optional<QImage> renderTile(const Tile &tile);

    static void drawText(QPainter &ctx, const WatermarkConfig &config, const QSizeF &canvas);
    static void drawImage(QPainter &ctx, const WatermarkConfig &config, const QSizeF &canvas);
    static void drawTiled(QPainter &ctx, const WatermarkConfig &config, const QSizeF &canvas);
    static TextLine makeTextLine(const QString &text, qreal fontSize, const QColor &color);
};
