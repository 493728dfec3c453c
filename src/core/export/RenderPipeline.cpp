#include "export/RenderPipeline.h"

#include "export/FrameRenderer.h"
#include "export/FramedCanvas.h"
#include "export/WatermarkRenderer.h"

QImage RenderPipeline::render(const QImage &photo, const RenderInputs &inputs)
{
    if (photo.isNull())
        return {};
    const bool watermark = EditModes::appliesWatermark(inputs.mode);
    if (!EditModes::appliesFrame(inputs.mode))
        return watermark ? WatermarkRenderer::apply(photo, inputs.watermark).value_or(photo)
                         : photo;

    // With both, the watermark is painted onto the photo inside the framed
    // canvas: the same pixels as watermarking first, without a second 24 MP copy.
    FrameRenderer::PhotoPainter paintWatermark;
    if (watermark) {
        paintWatermark = [&inputs](QPainter &ctx, const QSizeF &photoSize) {
            WatermarkRenderer::paint(ctx, photoSize, inputs.watermark);
        };
    }
    // The right main text is always passed, so an emptied field leaves the
    // right block empty instead of falling back to the parameter line.
    if (auto framed = FrameRenderer::composeFramedImage(
            photo, inputs.exif, inputs.style, inputs.logo, inputs.rightMainText, paintWatermark))
        return *framed;
    return watermark ? WatermarkRenderer::apply(photo, inputs.watermark).value_or(photo) : photo;
}

namespace {

// The decorated picture as the encoder reads it: its size and its rows.
struct EncodableRows
{
    QSize size;
    JpegEncoder::RowSupplier rows;
};

EncodableRows decoratedRows(const QImage &photo, const RenderInputs &inputs)
{
    if (photo.isNull())
        return {};
    // A framed photo is painted in bands where the watermark, if any, keeps
    // to a known part of it (a text); a logo or tiles take the whole photo.
    const bool watermark = EditModes::appliesWatermark(inputs.mode);
    if (EditModes::appliesFrame(inputs.mode) &&
        (!watermark || inputs.watermark.kind == WatermarkConfig::Kind::text)) {
        FramedCanvas::Overlay overlay;
        if (watermark) {
            overlay.paint = [config = inputs.watermark](QPainter &ctx, const QSizeF &photoSize) {
                WatermarkRenderer::paint(ctx, photoSize, config);
            };
            overlay.bounds =
                WatermarkRenderer::paintedBounds(QSizeF(photo.size()), inputs.watermark);
        }
        if (const auto canvas = FramedCanvas::plan(photo, inputs.exif, inputs.style, inputs.logo,
                                                   inputs.rightMainText, overlay))
            return {canvas->size(), canvas->rows()};
    }
    const QImage decorated = RenderPipeline::render(photo, inputs);
    return {decorated.size(), JpegEncoder::rowsOf(decorated)};
}

} // namespace

QString RenderPipeline::exportToOutputFolder(const QImage &photo, const RenderInputs &inputs,
                                             const QString &sourcePath, double quality,
                                             const ExportMetadata &metadata)
{
    const EncodableRows picture = decoratedRows(photo, inputs);
    if (!picture.rows)
        return {};
    return FrameRenderer::exportToOutputFolder(picture.size, picture.rows, sourcePath, quality,
                                               metadata);
}

bool RenderPipeline::exportAsJPEG(const QImage &photo, const RenderInputs &inputs,
                                  const QString &path, double quality,
                                  const ExportMetadata &metadata)
{
    const EncodableRows picture = decoratedRows(photo, inputs);
    return picture.rows &&
           FrameRenderer::exportAsJPEG(picture.size, picture.rows, path, quality, metadata);
}

QImage RenderPipeline::previewSource(const QImage &photo, const QSize &bound)
{
    if (photo.isNull() || bound.isEmpty())
        return photo;
    if (photo.width() <= bound.width() && photo.height() <= bound.height())
        return photo;
    return photo.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
