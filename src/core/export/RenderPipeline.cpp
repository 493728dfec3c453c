#include "export/RenderPipeline.h"

#include "export/FrameRenderer.h"
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

QImage RenderPipeline::previewSource(const QImage &photo, const QSize &bound)
{
    if (photo.isNull() || bound.isEmpty())
        return photo;
    if (photo.width() <= bound.width() && photo.height() <= bound.height())
        return photo;
    return photo.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
