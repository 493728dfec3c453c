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

// A tile is one stamp of text or logo; anything beyond 256 MB of pixels comes
// from an absurd text length or size and would only fail to allocate.
constexpr qreal kMaxTilePixels = 64.0 * 1024 * 1024;

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

std::optional<QImage> WatermarkRenderer::makeRotatedTile(const WatermarkConfig &config,
                                                         const QSizeF &canvas)
{
    const qreal W = canvas.width();
    const qreal M = std::max(W, canvas.height());

    // Content and its unrotated size: the logo when it loads, else the text.
    const QImage logo = loadLogo(config.imageURL);
    std::optional<TextLine> line;
    qreal tw = 0;
    qreal th = 0;
    if (!logo.isNull()) {
        tw = W * config.imageScale;
        th = tw * (qreal(logo.height()) / logo.width());
    } else {
        line = makeTextLine(config.text, M * config.fontSize, config.textColor);
        if (line->isEmpty())
            return std::nullopt;
        tw = std::ceil(line->width());
        th = std::ceil(line->ascent() + line->descent());
    }
    if (!isUsableSize(tw) || !isUsableSize(th))
        return std::nullopt;

    const qreal a = config.tileRotationDegrees * M_PI / 180;
    if (!std::isfinite(a))
        return std::nullopt;
    const qreal RW = tw * std::abs(std::cos(a)) + th * std::abs(std::sin(a));
    const qreal RH = tw * std::abs(std::sin(a)) + th * std::abs(std::cos(a));
    const qreal tileW = std::max(1.0, std::ceil(RW));
    const qreal tileH = std::max(1.0, std::ceil(RH));
    if (!isUsableSize(tileW) || !isUsableSize(tileH) || tileW * tileH > kMaxTilePixels)
        return std::nullopt;

    QImage tile(int(tileW), int(tileH), QImage::Format_ARGB32_Premultiplied);
    if (tile.isNull())
        return std::nullopt;
    tile.fill(Qt::transparent);

    const YUpCanvas yUp(tile.height());
    QPainter ctx(&tile);
    ctx.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
    ctx.translate(yUp.point(RW / 2, RH / 2));
    ctx.rotate(YUpCanvas::painterDegrees(config.tileRotationDegrees));
    // The content's own y-up frame, (0, 0) at its lower-left corner.
    const YUpCanvas content(th);
    ctx.translate(-tw / 2, -th / 2);
    if (!logo.isNull())
        ctx.drawImage(content.rect(0, 0, tw, th), logo);
    else
        line->draw(ctx, content.point(0, line->descent()));
    ctx.end();
    return tile;
}

void WatermarkRenderer::drawTiled(QPainter &ctx, const WatermarkConfig &config,
                                  const QSizeF &canvas)
{
    const std::optional<QImage> tile = makeRotatedTile(config, canvas);
    if (!tile)
        return;
    const qreal W = canvas.width();
    const qreal H = canvas.height();
    const qreal M = std::max(W, H);
    const qreal TW = tile->width();
    const qreal TH = tile->height();

    const qreal sx = 0.04 * M + TW;
    const qreal sy = config.tileSpacing * M + TH;
    if (!std::isfinite(sx) || !std::isfinite(sy) || sx <= 0 || sy <= 0)
        return;

    const YUpCanvas yUp(H);
    qreal y = -TH;
    for (int r = 0; y < H + TH; ++r, y += sy) {
        for (qreal x = (r % 2 == 0) ? -TW : sx / 2 - TW; x < W + TW; x += sx)
            ctx.drawImage(yUp.rect(x, y, TW, TH).topLeft(), *tile);
    }
}
