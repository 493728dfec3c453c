#include "export/FramedCanvas.h"

#include "export/YUpCanvas.h"
#include "imaging/ImageBuffer.h"

#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <future>
#include <memory>
#include <system_error>
#include <vector>

namespace {

const QColor kLightGray = QColor::fromRgbF(2.0 / 3, 2.0 / 3, 2.0 / 3);

// Pixels of slack around painted shapes for antialiasing.
constexpr int kSlack = 2;

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

// Where QPainter puts an unscaled image drawn at `origin`: it blits it at
// whole pixels, each coordinate rounded with qRound.
QPoint blitPosition(const QPointF &origin)
{
    return {qRound(origin.x()), qRound(origin.y())};
}

// Whether drawing `photo` at `origin` is exactly a copy of its rows: same
// pixel format, opaque photo, its columns inside the canvas (rows outside are
// clipped). A plain copy of a 24 MP photo is several times faster than
// QPainter's general blit, and it is the same in every band of the canvas.
bool canCopyPixels(const QImage &photo, QImage::Format format, const QSize &canvas,
                   const QPointF &origin)
{
    const QPoint at = blitPosition(origin);
    return photo.format() == format && !photo.hasAlphaChannel() && photo.depth() == 32 &&
           at.x() >= 0 && at.x() + photo.width() <= canvas.width();
}

// Copies the photo rows that fall into `target` when the photo's top-left
// corner is at `origin` in the target's pixels (y may lie outside it).
void copyPixels(const QImage &photo, QImage &target, const QPoint &origin)
{
    const size_t rowBytes = size_t(photo.width()) * 4;
    const int first = std::max(0, -origin.y());
    const int last = std::min(photo.height(), target.height() - origin.y());
    for (int row = first; row < last; ++row) {
        std::memcpy(target.scanLine(origin.y() + row) + size_t(origin.x()) * 4,
                    photo.constScanLine(row), rowBytes);
    }
}

// Fills every pixel of a 32-bit opaque image outside `hole` with `color`.
// Whole rows after the first are copies of it (a bulk copy beats a pixel loop).
void fillAround(QImage &target, const QRect &hole, const QColor &color)
{
    const quint32 pixel = color.rgb() | 0xff000000u;
    const size_t rowBytes = size_t(target.width()) * 4;
    const quint32 *filledRow = nullptr;
    for (int y = 0; y < target.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(target.scanLine(y));
        if (y < hole.top() || y > hole.bottom()) {
            if (filledRow) {
                std::memcpy(line, filledRow, rowBytes);
            } else {
                std::fill_n(line, target.width(), pixel);
                filledRow = line;
            }
            continue;
        }
        std::fill_n(line, hole.left(), pixel);
        std::fill(line + hole.right() + 1, line + target.width(), pixel);
    }
}

// Canvas rows [top, bottom) painted into one image.
struct PaintedRows
{
    int top = 0;
    int bottom = 0;
    QImage pixels;

    bool holds(int row) const { return row >= top && row < bottom; }
};
using Piece = std::shared_ptr<const PaintedRows>;

// Null when the pixels cannot be allocated.
Piece paintRows(const FramedCanvas &canvas, int top, int bottom)
{
    auto piece = std::make_shared<PaintedRows>();
    piece->top = top;
    piece->bottom = bottom;
    piece->pixels =
        ImageBuffer::allocate(QSize(canvas.size().width(), bottom - top), canvas.format());
    if (piece->pixels.isNull())
        return {};
    canvas.paint(piece->pixels, top);
    return piece;
}

// What rows() hands out: painted pieces stay alive until a call no longer
// needs them (the encoder reads a call's rows until the next call).
struct RowState
{
    FramedCanvas canvas;
    QList<QRect> bands;
    // The bands, painted on a thread of their own while the encoder works
    // through the rows above them (bar and watermark lie low in most photos);
    // taken when the first band row is asked for.
    std::future<std::vector<Piece>> bandsAhead;
    std::vector<Piece> bandPieces;
    std::vector<Piece> live;

    Piece band(qsizetype index)
    {
        if (bandsAhead.valid())
            bandPieces = bandsAhead.get();
        bandPieces.resize(size_t(bands.size()));
        Piece &piece = bandPieces[size_t(index)];
        if (!piece) // not painted ahead: now
            piece = paintRows(canvas, bands.at(index).top(), bands.at(index).bottom() + 1);
        return piece;
    }
};

} // namespace

std::optional<FramedCanvas> FramedCanvas::plan(const QImage &photo, const EXIFData &exif,
                                               const FrameStyle &style, const QImage &logo,
                                               const std::optional<QString> &rightMainText,
                                               const Overlay &overlay)
{
    if (!hasBitmap(photo))
        return std::nullopt;

    const double W = photo.width();
    const double H = photo.height();
    const double M = std::max(W, H);
    const double b = style.borderEnabled ? (W / 1000) * style.borderWidth : 0;
    const double barH = style.barHeight * M;
    if (!std::isfinite(b) || b < 0 || !std::isfinite(barH) || barH < 0)
        return std::nullopt;

    FramedCanvas canvas;
    canvas.m_width = canvasSide(W + 2 * b);
    canvas.m_height = canvasSide(barH + H + 3 * b);
    if (canvas.m_width == 0 || canvas.m_height == 0)
        return std::nullopt;
    canvas.m_photo = photo;
    canvas.m_exif = exif;
    canvas.m_style = style;
    canvas.m_logo = logo;
    canvas.m_rightMainText = rightMainText;
    canvas.m_overlay = overlay;
    canvas.m_border = b;
    canvas.m_barHeight = barH;
    canvas.m_padding = style.padding * W;
    // An opaque photo on an opaque background needs no alpha channel; skipping
    // it makes every blit of a 24 MP canvas a plain copy.
    const bool opaque = !photo.hasAlphaChannel() && style.backgroundColor.alpha() == 255;
    canvas.m_format = opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
    const YUpCanvas yUp(canvas.m_height);
    canvas.m_photoOrigin = yUp.rect(b, barH + 2 * b, W, H).topLeft();
    canvas.m_copiesPhoto =
        canCopyPixels(photo, canvas.m_format, canvas.size(), canvas.m_photoOrigin);
    return canvas;
}

QRect FramedCanvas::overlayRect() const
{
    if (!m_overlay.paint)
        return {};
    const QRectF photo(QPointF(0, 0), m_photo.size());
    const QRectF &bounds = m_overlay.bounds;
    const bool finite = std::isfinite(bounds.x()) && std::isfinite(bounds.y()) &&
                        std::isfinite(bounds.width()) && std::isfinite(bounds.height());
    // Bounds that are no numbers (settings out of range) give no promise.
    const QRectF onPhoto = finite ? bounds & photo : photo;
    if (onPhoto.isEmpty())
        return {};
    return onPhoto.translated(m_photoOrigin)
        .toAlignedRect()
        .adjusted(-kSlack, -kSlack, kSlack, kSlack);
}

QRect FramedCanvas::borderRect() const
{
    if (!m_style.borderEnabled || m_border <= 0)
        return {};
    // The stroke covers the band of width b around the photo.
    const YUpCanvas yUp(m_height);
    return yUp
        .rect(0, m_barHeight + m_border, m_photo.width() + 2 * m_border,
              m_photo.height() + 2 * m_border)
        .toAlignedRect()
        .adjusted(-kSlack, -kSlack, kSlack, kSlack);
}

QRect FramedCanvas::barRect() const
{
    const YUpCanvas yUp(m_height);
    return yUp.rect(m_border, m_border, m_photo.width(), m_barHeight)
        .toAlignedRect()
        .adjusted(-kSlack, -kSlack, kSlack, kSlack);
}

void FramedCanvas::paint(QImage &target, int top) const
{
    const QRect region(0, top, m_width, target.height());
    if (m_copiesPhoto) {
        // Every pixel is written once: background around the photo, then the photo.
        const QPoint origin = blitPosition(m_photoOrigin) - QPoint(0, top);
        fillAround(target, QRect(origin, m_photo.size()), m_style.backgroundColor);
        copyPixels(m_photo, target, origin);
    } else {
        target.fill(m_style.backgroundColor);
    }
    QPainter ctx(&target);
    if (top != 0)
        ctx.translate(0, -top);
    ctx.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                       QPainter::SmoothPixmapTransform);
    if (!m_copiesPhoto)
        ctx.drawImage(m_photoOrigin, m_photo);
    if (m_overlay.paint && overlayRect().intersects(region)) {
        ctx.save();
        ctx.translate(m_photoOrigin);
        ctx.setClipRect(QRectF(QPointF(0, 0), m_photo.size()));
        m_overlay.paint(ctx, QSizeF(m_photo.size()));
        ctx.restore();
    }

    const double b = m_border;
    const double W = m_photo.width();
    const double H = m_photo.height();
    const YUpCanvas yUp(m_height);
    if (borderRect().intersects(region)) {
        QPen pen(kLightGray, b, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        QColor stroke = kLightGray;
        stroke.setAlphaF(0.3f);
        pen.setColor(stroke);
        ctx.setPen(pen);
        ctx.setBrush(Qt::NoBrush);
        ctx.drawRect(yUp.rect(b - b / 2, m_barHeight + 2 * b - b / 2, W + b, H + b));
    }
    if (barRect().intersects(region)) {
        FrameRenderer::drawBarContent(ctx, yUp, QRectF(b, b, W, m_barHeight), m_exif, m_style,
                                      m_padding, m_logo, m_rightMainText);
    }
    ctx.end();
}

QImage FramedCanvas::render() const
{
    QImage canvas = ImageBuffer::allocate(size(), m_format);
    if (canvas.isNull())
        return {};
    paint(canvas, 0);
    return canvas;
}

bool FramedCanvas::isPhotoRow(int row) const
{
    // Only without a border does a canvas row hold nothing but photo pixels.
    const QPoint at = blitPosition(m_photoOrigin);
    if (!m_copiesPhoto || !borderRect().isEmpty() || m_width != m_photo.width() || at.x() != 0)
        return false;
    const int photoTop = at.y();
    return row >= photoTop && row < photoTop + m_photo.height();
}

QList<QRect> FramedCanvas::bands() const
{
    const QRect canvas(QPoint(0, 0), size());
    // A photo that QPainter blends in (one with alpha) is not split: the
    // whole canvas is one band, painted exactly as in one piece.
    if (!m_copiesPhoto)
        return {canvas};
    QList<QRect> pieces;
    for (const QRect &rect : {overlayRect(), barRect()}) {
        const QRect rows = QRect(0, rect.top(), m_width, rect.height()) & canvas;
        if (!rect.isEmpty() && !rows.isEmpty())
            pieces.append(rows);
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const QRect &a, const QRect &b) { return a.top() < b.top(); });
    QList<QRect> merged;
    for (const QRect &piece : pieces) {
        if (!merged.isEmpty() && piece.top() <= merged.back().bottom() + 1)
            merged.back() = merged.back() | piece;
        else
            merged.append(piece);
    }
    return merged;
}

JpegEncoder::RowSupplier FramedCanvas::rows() const
{
    auto state = std::make_shared<RowState>(RowState{*this, bands(), {}, {}, {}});
    if (!state->bands.isEmpty()) {
        try {
            state->bandsAhead =
                std::async(std::launch::async, [canvas = *this, bands = state->bands] {
                    std::vector<Piece> pieces;
                    for (const QRect &band : bands)
                        pieces.push_back(paintRows(canvas, band.top(), band.bottom() + 1));
                    return pieces;
                });
        } catch (const std::system_error &) {
            // No thread to spare: the bands are painted when they are reached.
        }
    }
    return [state](int top, int count, const uchar **rows) {
        const FramedCanvas &canvas = state->canvas;
        if (top < 0 || count < 0 || top + count > canvas.m_height)
            return false;
        std::vector<Piece> previous = std::move(state->live);
        state->live.clear();
        const auto pieceFor = [&](int row) -> Piece {
            for (auto *list : {&state->live, &previous}) {
                for (const Piece &piece : *list) {
                    if (piece->holds(row))
                        return piece;
                }
            }
            // A band in one piece; elsewhere up to the next band, in small steps.
            int end = std::min(canvas.m_height, row + JpegEncoder::kRowsPerCall);
            for (qsizetype i = 0; i < state->bands.size(); ++i) {
                const QRect &band = state->bands.at(i);
                if (row >= band.top() && row <= band.bottom())
                    return state->band(i);
                if (band.top() > row) {
                    end = std::min(end, band.top());
                    break;
                }
            }
            return paintRows(canvas, row, end);
        };
        for (int i = 0; i < count; ++i) {
            const int row = top + i;
            if (canvas.isPhotoRow(row) &&
                std::none_of(state->bands.begin(), state->bands.end(), [row](const QRect &band) {
                    return row >= band.top() && row <= band.bottom();
                })) {
                rows[i] =
                    canvas.m_photo.constScanLine(row - blitPosition(canvas.m_photoOrigin).y());
                continue;
            }
            const Piece piece = pieceFor(row);
            if (!piece)
                return false;
            if (std::find(state->live.begin(), state->live.end(), piece) == state->live.end())
                state->live.push_back(piece);
            rows[i] = piece->pixels.constScanLine(row - piece->top);
        }
        return true;
    };
}
