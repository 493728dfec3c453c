#include "RenderPipeline.h"

#include "FrameRenderer.h"
#include "WatermarkRenderer.h"

QImage RenderPipeline::render(const QImage &photo, const RenderInputs &inputs)
{
    if (photo.isNull())
        return {};
    QImage image = photo;
    if (EditModes::appliesWatermark(inputs.mode))
        image = WatermarkRenderer::apply(image, inputs.watermark).value_or(image);
    if (EditModes::appliesFrame(inputs.mode)) {
        // The right main text is always passed, so an emptied field leaves the
        // right block empty instead of falling back to the parameter line.
        image = FrameRenderer::composeFramedImage(image, inputs.exif, inputs.style, inputs.logo,
                                                  inputs.rightMainText)
                    .value_or(image);
    }
    return image;
}

QImage RenderPipeline::previewSource(const QImage &photo, const QSize &bound)
{
    if (photo.isNull() || bound.isEmpty())
        return photo;
    if (photo.width() <= bound.width() && photo.height() <= bound.height())
        return photo;
    return photo.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}
