#pragma once

#include "export/FrameRenderer.h"
#include "export/JpegEncoder.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <optional>

// The canvas of FrameRenderer::composeFramedImage, painted a band of rows at a
// time: painting rows [top, top + n) gives exactly those rows of the whole
// canvas. An export streams it to the encoder that way, so no full-size canvas
// is allocated, and rows that hold nothing but the photo are handed out
// straight from the photo's own pixels. A value; any thread, one at a time.
class FramedCanvas
{
public:
    // What is painted over the photo (FrameRenderer::PhotoPainter) and the
    // part of the photo, in its own pixels, outside which it changes nothing.
    struct Overlay
    {
        FrameRenderer::PhotoPainter paint;
        QRectF bounds;
    };

    // The frame around `photo` (see composeFramedImage); nothing when the
    // photo is null or the geometry is not a canvas.
    static std::optional<FramedCanvas> plan(const QImage &photo, const EXIFData &exif,
                                            const FrameStyle &style, const QImage &logo = {},
                                            const std::optional<QString> &rightMainText = {},
                                            const Overlay &overlay = {});

    QSize size() const { return {m_width, m_height}; }
    QImage::Format format() const { return m_format; }

    // Paints canvas rows [top, top + target.height()) into `target`, an image
    // of the canvas's width and format().
    void paint(QImage &target, int top) const;
    // The whole canvas at once; null when it cannot be allocated.
    QImage render() const;
    // The canvas's rows for JpegEncoder::encodeRows. The overlay and the bar
    // are each painted as one band, on a thread of their own while the rows
    // above them are encoded (so the overlay's painter must own what it
    // uses); the rest in small bands or, where a row is the photo's own, not
    // at all. A photo with alpha makes the whole canvas one band.
    JpegEncoder::RowSupplier rows() const;

private:
    FramedCanvas() = default;

    bool isPhotoRow(int row) const;
    // Canvas rows painted in one piece (overlay, bar), sorted, not overlapping.
    QList<QRect> bands() const;
    QRect overlayRect() const;
    QRect borderRect() const;
    QRect barRect() const;

    QImage m_photo;
    EXIFData m_exif;
    FrameStyle m_style;
    QImage m_logo;
    std::optional<QString> m_rightMainText;
    Overlay m_overlay;

    int m_width = 0;
    int m_height = 0;
    double m_border = 0; // b
    double m_barHeight = 0;
    double m_padding = 0;
    QPointF m_photoOrigin; // y-down canvas pixels
    QImage::Format m_format = QImage::Format_RGB32;
    bool m_copiesPhoto = false; // the photo goes in by a plain copy of its rows
};
