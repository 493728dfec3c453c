#include "export/FrameRenderer.h"

#include "export/FramedCanvas.h"
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
#include <sys/stat.h>

namespace {

const QColor kLightGray = QColor::fromRgbF(2.0 / 3, 2.0 / 3, 2.0 / 3);

bool hasBitmap(const QImage &image)
{
    return !image.isNull() && image.width() > 0 && image.height() > 0;
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

} // namespace

std::optional<QImage> FrameRenderer::composeFramedImage(const QImage &image, const EXIFData &exif,
                                                        const FrameStyle &style,
                                                        const QImage &logoImage,
                                                        const std::optional<QString> &rightMainText,
                                                        const PhotoPainter &paintOverPhoto)
{
    const FramedCanvas::Overlay overlay{paintOverPhoto, QRectF(QPointF(0, 0), image.size())};
    const std::optional<FramedCanvas> canvas =
        FramedCanvas::plan(image, exif, style, logoImage, rightMainText, overlay);
    if (!canvas)
        return std::nullopt;
    QImage framed = canvas->render();
    if (framed.isNull())
        return std::nullopt;
    return framed;
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

namespace {

// Encodes while writing: the stream goes to the file as it is compressed.
NoReplaceFileWriter::Fill encodingFill(QSize size, const JpegEncoder::RowSupplier &rows,
                                       double quality, const ExportMetadata &metadata)
{
    if (size.isEmpty() || !rows || !std::isfinite(quality))
        return {};
    return [size, rows, quality, segments = metadata.jpegSegments(size)](int fd) {
        return JpegEncoder::encodeRows(fd, size, rows, quality, segments);
    };
}

} // namespace

bool FrameRenderer::exportAsJPEG(const QImage &image, const QString &path, double quality,
                                 const ExportMetadata &metadata)
{
    return exportAsJPEG(image.size(), JpegEncoder::rowsOf(image), path, quality, metadata);
}

bool FrameRenderer::exportAsJPEG(QSize size, const JpegEncoder::RowSupplier &rows,
                                 const QString &path, double quality,
                                 const ExportMetadata &metadata)
{
    if (path.isEmpty())
        return false;
    const NoReplaceFileWriter::Fill fill = encodingFill(size, rows, quality, metadata);
    return fill && NoReplaceFileWriter::write(fill, path);
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
    return exportToOutputFolder(image.size(), JpegEncoder::rowsOf(image), sourcePath, quality,
                                metadata);
}

QString FrameRenderer::exportToOutputFolder(QSize size, const JpegEncoder::RowSupplier &rows,
                                            const QString &sourcePath, double quality,
                                            const ExportMetadata &metadata)
{
    const NoReplaceFileWriter::Fill fill = encodingFill(size, rows, quality, metadata);
    if (!fill)
        return {};
    return NoReplaceFileWriter::writeUnderFreeName(fill, [&] { return outputURL(sourcePath); });
}
