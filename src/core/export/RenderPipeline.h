#pragma once

#include "export/EditMode.h"
#include "export/ExportMetadata.h"
#include "export/FrameStyle.h"
#include "export/WatermarkConfig.h"
#include "imaging/EXIFData.h"

#include <QImage>
#include <QSize>
#include <QString>

// Everything a render needs besides the photo, captured once on the UI thread
// and handed by value to the background job, so the editor may change while a
// render runs.
struct RenderInputs
{
    FrameStyle style;
    EXIFData exif;
    QImage logo; // null: no logo, the brand text is drawn instead
    QString rightMainText;
    EditMode mode = EditMode::frame;
    WatermarkConfig watermark;
};

// The one decoration path shared by the preview, the single export and every
// image of a batch, so a preview looks like the file that is written. Pure
// functions; any thread.
class RenderPipeline
{
public:
    RenderPipeline() = delete;

    // Watermark first (modes watermark and both), then the frame around the
    // watermarked photo (modes frame and both). A renderer that yields nothing
    // leaves its input unchanged; a null photo gives a null image.
    static QImage render(const QImage &photo, const RenderInputs &inputs);

    // render() written as a new JPEG file (FrameRenderer::exportToOutputFolder):
    // the same pixels, but a frame is painted a band at a time as the encoder
    // asks for its rows, so no full-size canvas is made and rows that are only
    // the photo are read from the photo itself. Returns the path written,
    // empty on failure or a null photo.
    static QString exportToOutputFolder(const QImage &photo, const RenderInputs &inputs,
                                        const QString &sourcePath, double quality,
                                        const ExportMetadata &metadata);
    // The same at `path` (FrameRenderer::exportAsJPEG); whether it was written.
    static bool exportAsJPEG(const QImage &photo, const RenderInputs &inputs, const QString &path,
                             double quality, const ExportMetadata &metadata);

    // A copy of `photo` that fits in `bound` (aspect kept), for previews: every
    // geometry of the renderers is a fraction of the photo's size, so the
    // decorated copy looks like the full-size result. A photo that already
    // fits is returned as is.
    static QImage previewSource(const QImage &photo, const QSize &bound);
};
