#include "FrameRenderer.h"

#include "JpegEncoder.h"
#include "NoReplaceFileWriter.h"
#include "TextLine.h"
#include "YUpCanvas.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const QColor kLightGray = QColor::fromRgbF(2.0 / 3, 2.0 / 3, 2.0 / 3);

bool hasBitmap(const QImage &image)
{
    return !image.isNull() && image.width() > 0 && image.height() > 0;
}

// A canvas side truncated to whole pixels, or 0 when it cannot be a bitmap side.
int canvasSide(double side)
{
    if (!std::isfinite(side) || side < 1 || side > double(INT_MAX))
        return 0;
    return int(side);
}

QString baseNameWithoutLastExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? fileName.left(dot) : fileName;
}

bool nameTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

std::optional<QImage> FrameRenderer::composeFramedImage(const QImage &image, const EXIFData &exif,
                                                        const FrameStyle &style,
                                                        const QImage &logoImage,
                                                        const std::optional<QString> &rightMainText)
{
    if (!hasBitmap(image))
        return std::nullopt;

    const double W = image.width();
    const double H = image.height();
    const double M = std::max(W, H);
    const double b = style.borderEnabled ? (W / 1000) * style.borderWidth : 0;
    const double barH = style.barHeight * M;
    const double pad = style.padding * W;
    if (!std::isfinite(b) || b < 0 || !std::isfinite(barH) || barH < 0)
        return std::nullopt;

    const int CW = canvasSide(W + 2 * b);
    const int CH = canvasSide(barH + H + 3 * b);
    if (CW == 0 || CH == 0)
        return std::nullopt;
    // An opaque photo on an opaque background needs no alpha channel; skipping
    // it makes every blit of a 24 MP canvas a plain copy.
    const bool opaque = !image.hasAlphaChannel() && style.backgroundColor.alpha() == 255;
    QImage canvas(CW, CH, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return std::nullopt;
    canvas.fill(style.backgroundColor);

    const YUpCanvas yUp(CH);
    QPainter ctx(&canvas);
    ctx.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
    ctx.drawImage(yUp.rect(b, barH + 2 * b, W, H).topLeft(), image);

    if (style.borderEnabled && b > 0) {
        QPen pen(kLightGray, b, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        QColor stroke = kLightGray;
        stroke.setAlphaF(0.3f);
        pen.setColor(stroke);
        ctx.setPen(pen);
        ctx.setBrush(Qt::NoBrush);
        ctx.drawRect(yUp.rect(b - b / 2, barH + 2 * b - b / 2, W + b, H + b));
    }

    drawBarContent(ctx, yUp, QRectF(b, b, W, barH), exif, style, pad, logoImage, rightMainText);
    ctx.end();
    return canvas;
}

// `rect` is the bar in y-up canvas coordinates.
void FrameRenderer::drawBarContent(QPainter &ctx, const YUpCanvas &canvas, const QRectF &rect,
                                   const EXIFData &exif, const FrameStyle &style, qreal padding,
                                   const QImage &logoImage,
                                   const std::optional<QString> &rightMainText)
{
    const qreal h = rect.height();
    const qreal minX = rect.left();
    const qreal maxX = rect.right();
    const qreal minY = rect.top(); // y-up: the bar's lower edge
    const qreal midY = rect.center().y();

    const qreal p = 0.28 * h;
    const qreal s = 0.2 * h;
    const auto primary = [&](const QString &text) {
        return TextLine(text, p, style.textColor, TextLine::Weight::Medium);
    };
    const auto secondary = [&](const QString &text) {
        return TextLine(text, s, style.secondaryTextColor, TextLine::Weight::Regular);
    };
    const auto drawAt = [&](const TextLine &line, qreal x, qreal baselineY) {
        line.draw(ctx, canvas.point(x, baselineY));
    };

    // Left block: brand (logo or make), separator, then model and lens.
    qreal x = minX + padding;
    std::optional<qreal> brandWidth;
    if (hasBitmap(logoImage)) {
        const qreal lh = 0.5 * h * style.logoScale;
        const qreal lw = lh * (qreal(logoImage.width()) / logoImage.height());
        ctx.drawImage(canvas.rect(x, midY - lh / 2, lw, lh), logoImage);
        brandWidth = lw;
    } else if (!exif.cameraMake.isEmpty()) {
        const TextLine make = primary(exif.cameraMake);
        drawAt(make, x, midY - 0.35 * p);
        brandWidth = make.width();
    }
    if (brandWidth) {
        const qreal sx = x + *brandWidth + 0.8 * padding;
        QPen pen(kLightGray, 0.02 * h, Qt::SolidLine, Qt::FlatCap);
        ctx.setPen(pen);
        ctx.drawLine(canvas.point(sx, minY + 0.2 * h), canvas.point(sx, minY + 0.8 * h));
        x = sx + 0.8 * padding;
    }

    if (!exif.cameraModel.isEmpty()) {
        const qreal baseline = exif.lensModel.isEmpty() ? midY - 0.35 * p : midY + 0.1 * s;
        drawAt(primary(exif.cameraModel), x, baseline);
    }
    if (!exif.lensModel.isEmpty())
        drawAt(secondary(exif.lensModel), x, midY - 0.6 * p - 0.2 * s);

    // Right block, right-aligned at maxX - padding.
    const QString mainText = rightMainText.value_or(exif.parameterLine());
    if (mainText.isEmpty())
        return;
    QString secondaryText;
    for (const QString *candidate : {&exif.author, &exif.dateTaken, &exif.location}) {
        if (!candidate->isEmpty()) {
            secondaryText = *candidate;
            break;
        }
    }
    const TextLine main = primary(mainText);
    if (!secondaryText.isEmpty()) {
        const TextLine second = secondary(secondaryText);
        drawAt(main, maxX - padding - main.width(), midY + 0.1 * s);
        drawAt(second, maxX - padding - second.width(), midY - 0.6 * p - 0.2 * s);
    } else {
        drawAt(main, maxX - padding - main.width(), midY - 0.35 * p);
    }
}

bool FrameRenderer::exportAsJPEG(const QImage &image, const QString &path, double quality)
{
    if (path.isEmpty())
        return false;
    const QByteArray jpeg = JpegEncoder::encode(image, quality);
    return !jpeg.isEmpty() && NoReplaceFileWriter::write(jpeg, path);
}

QString FrameRenderer::outputURL(const QString &sourcePath)
{
    const QFileInfo source(sourcePath);
    const QString folder = source.absolutePath() + QStringLiteral("/图片边框");
    QDir().mkpath(folder);

    const QString base =
        folder + QLatin1Char('/') + baseNameWithoutLastExtension(source.fileName());
    QString candidate = base + QStringLiteral("_framed.jpg");
    for (int counter = 1; nameTaken(candidate); ++counter)
        candidate = base + QStringLiteral("_framed_%1.jpg").arg(counter);
    return candidate;
}

QString FrameRenderer::exportToOutputFolder(const QImage &image, const QString &sourcePath,
                                            double quality)
{
    const QByteArray jpeg = JpegEncoder::encode(image, quality);
    if (jpeg.isEmpty())
        return {};
    return NoReplaceFileWriter::writeUnderFreeName(jpeg, [&] { return outputURL(sourcePath); });
}
