#include "export/WatermarkRenderer.h"

#include "export/TextLine.h"
#include "export/YUpCanvas.h"

#include <QImageReader>
#include <QPainter>
#include <QtMath>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// The logo file, read anew on every call; null when absent or unreadable.
QImage loadLogo(const QString &path)
{
    if (path.isEmpty())
        return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage logo = reader.read();
    if (logo.isNull() || logo.width() <= 0 || logo.height() <= 0)
        return {};
    return logo;
}

// Lower-left corner (y-up) of a single watermark of size (w, h).
QPointF placement(const WatermarkConfig &config, const QSizeF &canvas, qreal w, qreal h)
{
    const qreal W = canvas.width();
    const qreal H = canvas.height();
    const qreal marginPx = std::min(W, H) * config.margin;

    qreal x = 0;
    switch (WatermarkConfig::column(config.position)) {
    case 0:
        x = marginPx;
        break;
    case 1:
        x = (W - w) / 2;
        break;
    default:
        x = W - w - marginPx;
        break;
    }
    qreal y = 0;
    switch (WatermarkConfig::row(config.position)) {
    case 0:
        y = H - h - marginPx;
        break;
    case 1:
        y = (H - h) / 2;
        break;
    default:
        y = marginPx;
        break;
    }
    return {x, y};
}

// Tiles up to this size are rendered once and stamped (about 64 MB); larger
// ones, which a long text at a large font on a big photo makes, are drawn
// straight onto the photo at every place instead, so no giant bitmap is needed.
constexpr qreal kMaxTileBitmapPixels = 16.0 * 1024 * 1024;
// Beyond this no slider setting reaches (a 32,767-character text at the largest
// font on a 200 MP photo stays below it); QPainter's fixed-point rasteriser
// would overflow.
constexpr qreal kMaxTileSide = 16.0 * 1024 * 1024;

bool isUsableSize(qreal side)
{
    return std::isfinite(side) && side > 0 && side < double(INT_MAX);
}

} // namespace

std::optional<QImage> WatermarkRenderer::apply(const QImage &image, const WatermarkConfig &config)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return std::nullopt;
    // Opaque photos stay opaque (no alpha channel to blend through).
    QImage canvas = image.convertToFormat(
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (canvas.isNull())
        return std::nullopt;
    canvas.setDevicePixelRatio(1);
    // Make sure painting never writes into the caller's pixels.
    if (canvas.constBits() == image.constBits())
        canvas.detach();
    if (canvas.isNull() || canvas.constBits() == image.constBits())
        return std::nullopt;

    QPainter ctx(&canvas);
    paint(ctx, QSizeF(canvas.width(), canvas.height()), config);
    ctx.end();
    return canvas;
}

void WatermarkRenderer::paint(QPainter &ctx, const QSizeF &size, const WatermarkConfig &config)
{
    ctx.save();
    ctx.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
    ctx.setOpacity(std::isfinite(config.opacity) ? config.opacity : 1.0);
    switch (config.kind) {
    case WatermarkConfig::Kind::text:
        drawText(ctx, config, size);
        break;
    case WatermarkConfig::Kind::image:
        drawImage(ctx, config, size);
        break;
    case WatermarkConfig::Kind::tiled:
        drawTiled(ctx, config, size);
        break;
    }
    ctx.restore();
}

QRectF WatermarkRenderer::paintedBounds(const QSizeF &photoSize, const WatermarkConfig &config)
{
    if (config.kind != WatermarkConfig::Kind::text)
        return QRectF(QPointF(0, 0), photoSize);
    if (config.text.isEmpty())
        return {};
    // As drawText places the line, with room for antialiasing around the ink.
    const qreal M = std::max(photoSize.width(), photoSize.height());
    const TextLine line = makeTextLine(config.text, M * config.fontSize, config.textColor);
    const QRectF ink = line.inkBounds();
    if (line.isEmpty() || ink.isEmpty())
        return {};
    const QPointF xy = placement(config, photoSize, ink.width(), ink.height());
    const qreal slack = 2 + 0.1 * line.pixelSize();
    return YUpCanvas(photoSize.height())
        .rect(xy.x(), xy.y(), ink.width(), ink.height())
        .adjusted(-slack, -slack, slack, slack);
}

TextLine WatermarkRenderer::makeTextLine(const QString &text, qreal fontSize, const QColor &color)
{
    return TextLine(text, fontSize, color, TextLine::Weight::Medium);
}

void WatermarkRenderer::drawText(QPainter &ctx, const WatermarkConfig &config, const QSizeF &canvas)
{
    if (config.text.isEmpty())
        return;
    const qreal M = std::max(canvas.width(), canvas.height());
    const TextLine line = makeTextLine(config.text, M * config.fontSize, config.textColor);
    const QRectF ink = line.inkBounds();
    if (line.isEmpty() || ink.isEmpty())
        return;

    const qreal bx = ink.x();
    const qreal by = ink.y();
    const QPointF xy = placement(config, canvas, ink.width(), ink.height());
    const YUpCanvas yUp(canvas.height());
    line.draw(ctx, yUp.point(xy.x() - bx, xy.y() - by));
}

void WatermarkRenderer::drawImage(QPainter &ctx, const WatermarkConfig &config,
                                  const QSizeF &canvas)
{
    const QImage logo = loadLogo(config.imageURL);
    if (logo.isNull())
        return;
    const qreal w = canvas.width() * config.imageScale;
    const qreal h = w * (qreal(logo.height()) / logo.width());
    if (!isUsableSize(w) || !isUsableSize(h))
        return;
    const QPointF xy = placement(config, canvas, w, h);
    const YUpCanvas yUp(canvas.height());
    ctx.drawImage(yUp.rect(xy.x(), xy.y(), w, h), logo);
}

std::optional<WatermarkRenderer::Tile> WatermarkRenderer::makeTile(const WatermarkConfig &config,
                                                                   const QSizeF &canvas)
{
    const qreal W = canvas.width();
    const qreal M = std::max(W, canvas.height());

    // Content and its unrotated size: the logo when it loads, else the text.
    Tile tile;
    tile.logo = loadLogo(config.imageURL);
    if (!tile.logo.isNull()) {
        tile.tw = W * config.imageScale;
        tile.th = tile.tw * (qreal(tile.logo.height()) / tile.logo.width());
    } else {
        tile.line = makeTextLine(config.text, M * config.fontSize, config.textColor);
        if (tile.line->isEmpty())
            return std::nullopt;
        tile.tw = std::ceil(tile.line->width());
        tile.th = std::ceil(tile.line->ascent() + tile.line->descent());
    }
    if (!isUsableSize(tile.tw) || !isUsableSize(tile.th))
        return std::nullopt;

    tile.degrees = config.tileRotationDegrees;
    const qreal a = tile.degrees * M_PI / 180;
    if (!std::isfinite(a))
        return std::nullopt;
    tile.RW = tile.tw * std::abs(std::cos(a)) + tile.th * std::abs(std::sin(a));
    tile.RH = tile.tw * std::abs(std::sin(a)) + tile.th * std::abs(std::cos(a));
    tile.width = std::max(1.0, std::ceil(tile.RW));
    tile.height = std::max(1.0, std::ceil(tile.RH));
    if (!(tile.width <= kMaxTileSide) || !(tile.height <= kMaxTileSide))
        return std::nullopt;
    return tile;
}

void WatermarkRenderer::paintTile(QPainter &ctx, const Tile &tile, const QPointF &topLeft)
{
    // The tile's own y-up frame: its centre at (RW / 2, RH / 2) (unrounded).
    const YUpCanvas yUp(tile.height);
    ctx.save();
    ctx.translate(topLeft + yUp.point(tile.RW / 2, tile.RH / 2));
    ctx.rotate(YUpCanvas::painterDegrees(tile.degrees));
    // The content's own y-up frame, (0, 0) at its lower-left corner.
    const YUpCanvas content(tile.th);
    ctx.translate(-tile.tw / 2, -tile.th / 2);
    if (!tile.logo.isNull())
        ctx.drawImage(content.rect(0, 0, tile.tw, tile.th), tile.logo);
    else
        tile.line->draw(ctx, content.point(0, tile.line->descent()));
    ctx.restore();
}

std::optional<QImage> WatermarkRenderer::renderTile(const Tile &tile)
{
    if (tile.width * tile.height > kMaxTileBitmapPixels)
        return std::nullopt;
    QImage bitmap(int(tile.width), int(tile.height), QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull())
        return std::nullopt;
    bitmap.fill(Qt::transparent);
    QPainter ctx(&bitmap);
    ctx.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
    paintTile(ctx, tile, QPointF(0, 0));
    ctx.end();
    return bitmap;
}

std::optional<QImage> WatermarkRenderer::makeRotatedTile(const WatermarkConfig &config,
                                                         const QSizeF &canvas)
{
    const std::optional<Tile> tile = makeTile(config, canvas);
    return tile ? renderTile(*tile) : std::nullopt;
}

void WatermarkRenderer::drawTiled(QPainter &ctx, const WatermarkConfig &config,
                                  const QSizeF &canvas)
{
    const std::optional<Tile> tile = makeTile(config, canvas);
    if (!tile)
        return;
    const qreal W = canvas.width();
    const qreal H = canvas.height();
    const qreal M = std::max(W, H);
    const qreal TW = tile->width;
    const qreal TH = tile->height;

    const qreal sx = 0.04 * M + TW;
    const qreal sy = config.tileSpacing * M + TH;
    if (!std::isfinite(sx) || !std::isfinite(sy) || sx <= 0 || sy <= 0)
        return;

    // Stamped when it fits a bitmap, else drawn in place (the same geometry).
    const std::optional<QImage> bitmap = renderTile(*tile);
    const QRectF photo(0, 0, W, H);
    const YUpCanvas yUp(H);
    qreal y = -TH;
    for (int r = 0; y < H + TH; ++r, y += sy) {
        for (qreal x = (r % 2 == 0) ? -TW : sx / 2 - TW; x < W + TW; x += sx) {
            const QRectF place = yUp.rect(x, y, TW, TH);
            if (bitmap)
                ctx.drawImage(place.topLeft(), *bitmap);
            else if (place.intersects(photo))
                paintTile(ctx, *tile, place.topLeft());
        }
    }
}
