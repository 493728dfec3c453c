#pragma once

#include "export/ExportMetadata.h"
#include "export/FrameStyle.h"
#include "export/JpegEncoder.h"
#include "imaging/EXIFData.h"

#include <QImage>
#include <QString>
#include <functional>
#include <optional>

class QPainter;
class QRectF;
class YUpCanvas;

// Draws the camera-information frame (optional border, white bar with brand,
// model, lens and parameter line) and writes exported JPEG files.
// All operations are pure functions of their arguments and may run on any
// thread; they touch no shared state.
class FrameRenderer
{
public:
    FrameRenderer() = delete;

    // The framed image: canvas (W + 2b) x (barH + H + 3b), photo unscaled above
    // the bar. `logoImage` null means no logo; `rightMainText` absent means the
    // EXIF parameter line, present-but-empty means nothing on the right.
    // Nothing when the photo is null or the canvas cannot be allocated; the
    // caller then keeps the unframed photo.
    //
    // `paintOverPhoto`, when given, is called once the photo is on the canvas,
    // with a painter whose origin is the photo's top-left corner and which
    // clips to the photo: the way to watermark the photo without a second
    // full-size copy.
    using PhotoPainter = std::function<void(QPainter &ctx, const QSizeF &photoSize)>;
    static std::optional<QImage>
    composeFramedImage(const QImage &image, const EXIFData &exif, const FrameStyle &style,
                       const QImage &logoImage = {},
                       const std::optional<QString> &rightMainText = {},
                       const PhotoPainter &paintOverPhoto = {});

    // Writes `image` as a new JPEG file at `path` (quality 0...1, 0.95 in both
    // export flows) carrying `metadata` (the source's EXIF, and the sRGB
    // profile even without one). The bytes go to a temporary file beside
    // `path` that is moved into place only when complete and only if `path`
    // does not exist: an existing file is never replaced and a failed write
    // leaves nothing behind. Returns whether the file was written.
    static bool exportAsJPEG(const QImage &image, const QString &path, double quality = 0.95,
                             const ExportMetadata &metadata = {});
    // The same for a picture of `size` whose rows `rows` hands out as the
    // encoder asks for them (a canvas painted a band at a time).
    static bool exportAsJPEG(QSize size, const JpegEncoder::RowSupplier &rows, const QString &path,
                             double quality, const ExportMetadata &metadata);

    // Destination of an export of `sourcePath`: "<folder>/图片边框/<base>_framed.jpg",
    // else "_framed_1", "_framed_2", … the first name not taken; a base too
    // long for the name limit loses characters at its end. Creates the
    // "图片边框" folder (by the names' own bytes); a failure to create it is
    // left to the write to report.
    static QString outputURL(const QString &sourcePath);

    // exportAsJPEG to outputURL(sourcePath); when another writer takes the chosen
    // name between the choice and the write, the next free name is used.
    // Returns the path written, empty on failure.
    static QString exportToOutputFolder(const QImage &image, const QString &sourcePath,
                                        double quality = 0.95, const ExportMetadata &metadata = {});
    static QString exportToOutputFolder(QSize size, const JpegEncoder::RowSupplier &rows,
                                        const QString &sourcePath, double quality,
                                        const ExportMetadata &metadata);

private:
    friend class FramedCanvas; // paints the bar a band of the canvas at a time
    static void drawBarContent(QPainter &ctx, const YUpCanvas &canvas, const QRectF &rect,
                               const EXIFData &exif, const FrameStyle &style, qreal padding,
                               const QImage &logoImage,
                               const std::optional<QString> &rightMainText);
};
