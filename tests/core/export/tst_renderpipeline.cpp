#include "PixelProbe.h"
#include "export/FrameRenderer.h"
#include "export/RenderPipeline.h"
#include "export/WatermarkRenderer.h"

#include <QLinearGradient>
#include <QPainter>
#include <QTest>

// Mode "both" paints the watermark onto the photo inside the framed canvas;
// it must give the same pixels as watermarking the photo and framing the copy.
class TestRenderPipeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    static QImage gradientPhoto(QSize size, QImage::Format format)
    {
        QImage photo(size, format);
        photo.fill(Qt::transparent);
        QPainter painter(&photo);
        QLinearGradient gradient(0, 0, size.width(), size.height());
        gradient.setColorAt(0, QColor(30, 90, 200, format == QImage::Format_RGB32 ? 255 : 180));
        gradient.setColorAt(1, QColor(240, 180, 40));
        painter.fillRect(photo.rect(), gradient);
        return photo;
    }

    void bothEqualsWatermarkThenFrame_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<WatermarkConfig::Kind>("kind");
        QTest::addColumn<bool>("border");
        QTest::newRow("opaque photo, text")
            << QImage::Format_RGB32 << WatermarkConfig::Kind::text << false;
        QTest::newRow("opaque photo, tiled, border")
            << QImage::Format_RGB32 << WatermarkConfig::Kind::tiled << true;
        QTest::newRow("translucent photo, text")
            << QImage::Format_ARGB32_Premultiplied << WatermarkConfig::Kind::text << false;
    }

    void bothEqualsWatermarkThenFrame()
    {
        QFETCH(QImage::Format, format);
        QFETCH(WatermarkConfig::Kind, kind);
        QFETCH(bool, border);
        const QImage photo = gradientPhoto(QSize(1200, 800), format);
        RenderInputs inputs;
        inputs.mode = EditMode::both;
        inputs.exif.cameraMake = QStringLiteral("FUJIFILM");
        inputs.exif.cameraModel = QStringLiteral("X-T5");
        inputs.exif.focalLength = QStringLiteral("35mm");
        inputs.rightMainText = inputs.exif.parameterLine();
        inputs.style.borderEnabled = border;
        inputs.style.borderWidth = 3.0;
        inputs.watermark.kind = kind;
        inputs.watermark.text = QStringLiteral("© 测试 Kelvane");
        inputs.watermark.position = WatermarkConfig::Position::bottomLeft;
        const auto frame = [&inputs](const QImage &image) {
            return FrameRenderer::composeFramedImage(image, inputs.exif, inputs.style, inputs.logo,
                                                     inputs.rightMainText)
                .value();
        };

        const QImage inPlace = RenderPipeline::render(photo, inputs);
        const QImage expected = frame(WatermarkRenderer::apply(photo, inputs.watermark).value());
        QCOMPARE(inPlace.size(), expected.size());
        QCOMPARE(PixelProbe::differingPixels(inPlace, expected, 2), 0);
        // And the watermark is really there: the photo area differs from the bare photo.
        QVERIFY(PixelProbe::differingPixels(inPlace, frame(photo), 2) > 0);
    }

    // One mode alone leaves the rest of the photo as it is.
    void singleModesKeepThePhotoPixels()
    {
        const QImage photo = gradientPhoto(QSize(600, 400), QImage::Format_RGB32);
        RenderInputs inputs;
        inputs.mode = EditMode::frame;
        const QImage framed = RenderPipeline::render(photo, inputs);
        QCOMPARE(framed.size(), QSize(600, 400 + int(0.08 * 600)));
        // The photo sits unscaled at the top-left corner, pixel for pixel.
        QCOMPARE(framed.copy(0, 0, 600, 400).convertToFormat(QImage::Format_RGB32), photo);
        // The bar below it is the background colour.
        QCOMPARE(QColor(framed.pixel(5, 400 + 2)), FrameStyle().backgroundColor);

        inputs.mode = EditMode::watermark;
        const QImage watermarked = RenderPipeline::render(photo, inputs);
        QCOMPARE(watermarked, WatermarkRenderer::apply(photo, inputs.watermark).value());
        QVERIFY(watermarked != photo);
    }
};

QTEST_MAIN(TestRenderPipeline)
#include "tst_renderpipeline.moc"
