#include "export/FrameRenderer.h"

#include "export/JpegEncoder.h"
#include "export/NoReplaceFileWriter.h"
#include "export/TextLine.h"
#include "export/YUpCanvas.h"
#include "model/LocalFileName.h"

#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>

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

// Anything at the name, a dangling symlink included, by the name's own bytes.
bool nameTaken(const QString &path)
{
    struct stat info;
    return ::lstat(LocalFileName::encode(path).constData(), &info) == 0;
}

// mkdir -p by the exact bytes of the names (Qt would re-encode a name that is
// not UTF-8 and create a look-alike folder).
bool makeFolders(const QByteArray &folder)
{
    if (::mkdir(folder.constData(), 0777) == 0 || errno == EEXIST)
        return true;
    const qsizetype slash = folder.lastIndexOf('/');
    if (errno != ENOENT || slash <= 0 || !makeFolders(folder.left(slash)))
        return false;
    return ::mkdir(folder.constData(), 0777) == 0 || errno == EEXIST;
}

// `stem` + `suffix` as a name within the file system's limit of NAME_MAX
// bytes: whole characters come off the end of the stem until it fits.
QString fittedName(QString stem, const QString &suffix)
{
    const qsizetype suffixBytes = LocalFileName::encode(suffix).size();
    while (!stem.isEmpty() && LocalFileName::encode(stem).size() + suffixBytes > NAME_MAX) {
        const bool pair = stem.size() >= 2 && stem.back().isLowSurrogate() &&
                          stem.at(stem.size() - 2).isHighSurrogate();
        stem.chop(pair ? 2 : 1);
    }
    return stem + suffix;
}

// Whether drawing `photo` at `origin` is exactly a copy of its rows: same
// pixel format, whole-pixel position, opaque photo, inside the canvas. A plain
// copy of a 24 MP photo is several times faster than QPainter's general blit.
bool canCopyPixels(const QImage &photo, const QImage &canvas, const QPointF &origin)
{
    const int x = int(origin.x());
    const int y = int(origin.y());
    return photo.format() == canvas.format() && !photo.hasAlphaChannel() && photo.depth() == 32 &&
           x == origin.x() && y == origin.y() && x >= 0 && y >= 0 &&
           x + photo.width() <= canvas.width() && y + photo.height() <= canvas.height();
}

void copyPixels(const QImage &photo, QImage &canvas, const QPoint &origin)
{
    const size_t rowBytes = size_t(photo.width()) * 4;
    for (int row = 0; row < photo.height(); ++row) {
        std::memcpy(canvas.scanLine(origin.y() + row) + size_t(origin.x()) * 4,
                    photo.constScanLine(row), rowBytes);
    }
}

// Fills every pixel of a 32-bit opaque canvas outside `hole` with `color`.
void fillAround(QImage &canvas, const QRect &hole, const QColor &color)
{
    const quint32 pixel = color.rgb() | 0xff000000u;
    for (int y = 0; y < canvas.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(canvas.scanLine(y));
        if (y < hole.top() || y > hole.bottom()) {
            std::fill_n(line, canvas.width(), pixel);
            continue;
        }
        std::fill_n(line, hole.left(), pixel);
        std::fill(line + hole.right() + 1, line + canvas.width(), pixel);
    }
}

// A canvas backed by transparent huge pages where the kernel offers them: a
// 24 MP canvas then takes about fifty page faults instead of 26,000, which
// otherwise cost more than drawing the frame. Falls back to a plain QImage.
QImage allocateCanvas(int width, int height, QImage::Format format)
{
    constexpr size_t hugePage = size_t(2) << 20;
    const qsizetype bytesPerLine = qsizetype(width) * 4;
    const size_t bytes = size_t(bytesPerLine) * size_t(height);
    if (bytes < hugePage)
        return QImage(width, height, format);
    const size_t rounded = (bytes + hugePage - 1) / hugePage * hugePage;
    void *memory = std::aligned_alloc(hugePage, rounded);
    if (!memory)
        return QImage(width, height, format);
    ::madvise(memory, rounded, MADV_HUGEPAGE);
    return QImage(
        static_cast<uchar *>(memory), width, height, bytesPerLine, format,
        [](void *data) { std::free(data); }, memory);
}

} // namespace

std::optional<QImage> FrameRenderer::composeFramedImage(const QImage &image, const EXIFData &exif,
                                                        const FrameStyle &style,
                                                        const QImage &logoImage,
                                                        const std::optional<QString> &rightMainText,
                                                        const PhotoPainter &paintOverPhoto)
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
    QImage canvas =
        allocateCanvas(CW, CH, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return std::nullopt;

    const YUpCanvas yUp(CH);
    const QPointF photoOrigin = yUp.rect(b, barH + 2 * b, W, H).topLeft();
    const bool copied = canCopyPixels(image, canvas, photoOrigin);
    if (copied) {
        // Every pixel is written once: background around the photo, then the photo.
        fillAround(canvas, QRect(photoOrigin.toPoint(), image.size()), style.backgroundColor);
        copyPixels(image, canvas, photoOrigin.toPoint());
    } else {
        canvas.fill(style.backgroundColor);
    }
    QPainter ctx(&canvas);
    ctx.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
    if (!copied)
        ctx.drawImage(photoOrigin, image);
    if (paintOverPhoto) {
        ctx.save();
        ctx.translate(photoOrigin);
        ctx.setClipRect(QRectF(0, 0, W, H));
        paintOverPhoto(ctx, QSizeF(W, H));
        ctx.restore();
    }

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

namespace {

// The bar's right block: the main text and the first present secondary text.
struct RightBlock
{
    QString main;
    QString secondary;
};

RightBlock rightBlock(const EXIFData &exif, const std::optional<QString> &rightMainText)
{
    RightBlock block{rightMainText.value_or(exif.parameterLine()), {}};
    for (const QString *candidate : {&exif.author, &exif.dateTaken, &exif.location}) {
        if (!candidate->isEmpty()) {
            block.secondary = *candidate;
            break;
        }
    }
    return block;
}

qreal widthAt(const QString &text, qreal size, TextLine::Weight weight)
{
    return text.isEmpty() ? 0 : TextLine(text, size, Qt::black, weight).width();
}

// Widths in the bar at full text size: the logo, the fixed gaps around the
// separator, the left block's texts (make, then the wider of model and lens)
// and the right block (the wider of its two lines).
struct BarWidths
{
    qreal logo = 0;
    qreal fixed = 0;
    qreal leftText = 0;
    qreal rightText = 0;
};

// The factor for every text size of the bar so that the left and right blocks
// keep at least `padding` between them within `available` (the bar's width
// less its two paddings): 1 when they fit. Only when the logo alone leaves no
// room does it shrink too (`logoScale`, else 1).
qreal barTextScale(const BarWidths &widths, qreal available, qreal padding, qreal *logoScale)
{
    *logoScale = 1;
    const qreal text = widths.leftText + widths.rightText;
    if (widths.rightText <= 0 || text <= 0)
        return 1; // a single block cannot collide with anything
    const qreal needed = widths.fixed + widths.logo + text + padding;
    if (needed <= available)
        return 1;
    const qreal room = available - padding - widths.fixed - widths.logo;
    if (room > 0)
        return room / text;
    // Not even the logo leaves room: it shrinks with the texts.
    const qreal shared = std::max<qreal>(0, available - padding - widths.fixed);
    *logoScale = shared / (text + widths.logo);
    return *logoScale;
}

} // namespace

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
    const bool logo = hasBitmap(logoImage);
    const bool brandText = !logo && !exif.cameraMake.isEmpty();
    const RightBlock right = rightBlock(exif, rightMainText);

    // When the two blocks would run into each other (a portrait photo with a
    // long model name), every text shrinks by one factor until they are at
    // least one padding apart; the proportions between the texts stay.
    const qreal fullP = 0.28 * h;
    const qreal fullS = 0.2 * h;
    const qreal fullLogoHeight = 0.5 * h * style.logoScale;
    BarWidths widths;
    if (logo)
        widths.logo = fullLogoHeight * (qreal(logoImage.width()) / logoImage.height());
    if (logo || brandText)
        widths.fixed = 1.6 * padding;
    if (brandText)
        widths.leftText = widthAt(exif.cameraMake, fullP, TextLine::Weight::Medium);
    widths.leftText += std::max(widthAt(exif.cameraModel, fullP, TextLine::Weight::Medium),
                                widthAt(exif.lensModel, fullS, TextLine::Weight::Regular));
    if (!right.main.isEmpty()) {
        widths.rightText = std::max(widthAt(right.main, fullP, TextLine::Weight::Medium),
                                    widthAt(right.secondary, fullS, TextLine::Weight::Regular));
    }
    qreal logoFactor = 1;
    const qreal f = barTextScale(widths, maxX - minX - 2 * padding, padding, &logoFactor);

    const qreal p = f * fullP;
    const qreal s = f * fullS;
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
    if (logo) {
        const qreal lh = fullLogoHeight * logoFactor;
        const qreal lw = lh * (qreal(logoImage.width()) / logoImage.height());
        ctx.drawImage(canvas.rect(x, midY - lh / 2, lw, lh), logoImage);
        brandWidth = lw;
    } else if (brandText) {
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
    if (right.main.isEmpty())
        return;
    const TextLine main = primary(right.main);
    if (!right.secondary.isEmpty()) {
        const TextLine second = secondary(right.secondary);
        drawAt(main, maxX - padding - main.width(), midY + 0.1 * s);
        drawAt(second, maxX - padding - second.width(), midY - 0.6 * p - 0.2 * s);
    } else {
        drawAt(main, maxX - padding - main.width(), midY - 0.35 * p);
    }
}

bool FrameRenderer::exportAsJPEG(const QImage &image, const QString &path, double quality,
                                 const ExportMetadata &metadata)
{
    if (path.isEmpty())
        return false;
    const QByteArray jpeg =
        JpegEncoder::encode(image, quality, metadata.jpegSegments(image.size()));
    return !jpeg.isEmpty() && NoReplaceFileWriter::write(jpeg, path);
}

QString FrameRenderer::outputURL(const QString &sourcePath)
{
    const QFileInfo source(sourcePath);
    const QString folder = source.absolutePath() + QStringLiteral("/图片边框/");
    makeFolders(LocalFileName::encode(folder.chopped(1)));

    const QString stem = baseNameWithoutLastExtension(source.fileName());
    QString candidate = folder + fittedName(stem, QStringLiteral("_framed.jpg"));
    for (int counter = 1; nameTaken(candidate); ++counter)
        candidate = folder + fittedName(stem, QStringLiteral("_framed_%1.jpg").arg(counter));
    return candidate;
}

QString FrameRenderer::exportToOutputFolder(const QImage &image, const QString &sourcePath,
                                            double quality, const ExportMetadata &metadata)
{
    const QByteArray jpeg =
        JpegEncoder::encode(image, quality, metadata.jpegSegments(image.size()));
    if (jpeg.isEmpty())
        return {};
    return NoReplaceFileWriter::writeUnderFreeName(jpeg, [&] { return outputURL(sourcePath); });
}
