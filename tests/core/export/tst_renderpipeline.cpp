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
    void bothEqualsWatermarkThenFrame_data();
    void bothEqualsWatermarkThenFrame();
    void frameOnlyKeepsThePhotoPixels();
};

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

static RenderInputs bothInputs(WatermarkConfig::Kind kind, bool border)
{
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
    return inputs;
}

void TestRenderPipeline::bothEqualsWatermarkThenFrame_data()
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

void TestRenderPipeline::bothEqualsWatermarkThenFrame()
{
    QFETCH(QImage::Format, format);
    QFETCH(WatermarkConfig::Kind, kind);
    QFETCH(bool, border);
    const QImage photo = gradientPhoto(QSize(1200, 800), format);
    const RenderInputs inputs = bothInputs(kind, border);

    const QImage inPlace = RenderPipeline::render(photo, inputs);
    const QImage watermarked = WatermarkRenderer::apply(photo, inputs.watermark).value();
    const QImage expected =
        FrameRenderer::composeFramedImage(watermarked, inputs.exif, inputs.style, inputs.logo,
                                          inputs.rightMainText)
            .value();

    QCOMPARE(inPlace.size(), expected.size());
    const QImage a = inPlace.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *rowA = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *rowB = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const QRgb pa = rowA[x];
            const QRgb pb = rowB[x];
            if (std::abs(qRed(pa) - qRed(pb)) > 2 || std::abs(qGreen(pa) - qGreen(pb)) > 2 ||
                std::abs(qBlue(pa) - qBlue(pb)) > 2 || std::abs(qAlpha(pa) - qAlpha(pb)) > 2)
                ++differing;
        }
    }
    QCOMPARE(differing, 0);
    // And the watermark is really there: the photo area differs from the bare photo.
    QVERIFY(inPlace.convertToFormat(QImage::Format_ARGB32) !=
            FrameRenderer::composeFramedImage(photo, inputs.exif, inputs.style, inputs.logo,
                                              inputs.rightMainText)
                ->convertToFormat(QImage::Format_ARGB32));
}

void TestRenderPipeline::frameOnlyKeepsThePhotoPixels()
{
    const QImage photo = gradientPhoto(QSize(600, 400), QImage::Format_RGB32);
    RenderInputs inputs;
    inputs.mode = EditMode::frame;
    const QImage framed = RenderPipeline::render(photo, inputs);
    QCOMPARE(framed.width(), 600);
    QCOMPARE(framed.height(), 400 + int(0.08 * 600));
    // The photo sits unscaled at the top-left corner, pixel for pixel.
    QCOMPARE(framed.copy(0, 0, 600, 400).convertToFormat(QImage::Format_RGB32), photo);
    // The bar below it is the background colour.
    QCOMPARE(QColor(framed.pixel(5, 400 + 2)), FrameStyle().backgroundColor);
}

QTEST_MAIN(TestRenderPipeline)
#include "tst_renderpipeline.moc"
