#include "EditorFixtures.h"
#include "PixelProbe.h"
#include "export/FrameRenderer.h"
#include "export/RenderPipeline.h"
#include "export/WatermarkRenderer.h"

#include <QTemporaryDir>
#include <QTest>
#include <limits>

using namespace PixelProbe;

namespace {

const QColor kPhoto(40, 90, 160);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const EXIFData kFullExif{
    "SONY", "ILCE-7M4", "FE 24-70mm F2.8 GM II", "35mm", "f/2.8", "1/250s", "ISO 200", {},
    {},     "李四"};

WatermarkConfig watermark(WatermarkConfig::Kind kind, const QString &logo = {},
                          const QString &text = QStringLiteral("© Kelvane"))
{
    return {.kind = kind, .text = text, .imageURL = logo};
}

} // namespace

class TestRenderBadInput : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        const std::pair<const char *, QByteArray> files[] = {
            {"corrupt.png", QByteArray("\x89PNG\r\n\x1a\n garbage")},
            {"cut.jpg", QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF", 10)},
            {"empty.png", {}}};
        for (const auto &[name, content] : files)
            QVERIFY(!EditorFixtures::writeBytes(m_dir.filePath(name), content).isEmpty());
        QVERIFY(QDir(m_dir.path()).mkdir("folder.png"));
    }

    // Photos without pixels give nothing; one pixel wide or high still renders,
    // as do very long texts.
    void extremePhotosAndTexts()
    {
        RenderInputs inputs;
        inputs.mode = EditMode::both;
        FrameStyle border;
        border.borderEnabled = true;
        for (const QImage &photo :
             {QImage(), QImage(0, 0, QImage::Format_RGB32), QImage(0, 100, QImage::Format_ARGB32),
              plainImage(1, 1, kPhoto), plainImage(1, 5000, kPhoto), plainImage(3000, 1, kPhoto)}) {
            const bool empty = photo.isNull();
            const auto framed = FrameRenderer::composeFramedImage(photo, kFullExif, border);
            QCOMPARE(bool(framed), !empty);
            QVERIFY(empty || framed->width() >= photo.width());
            for (auto kind : WatermarkConfig::allKinds) {
                const auto result = WatermarkRenderer::apply(photo, watermark(kind));
                QCOMPARE(bool(result), !empty);
                QVERIFY(empty || result->size() == photo.size());
            }
            QCOMPARE(RenderPipeline::render(photo, inputs).isNull(), empty);
        }
        const QImage photo = plainImage(400, 300, kPhoto);
        const QString longText = QString("很长的文字 Long text ").repeated(2000);
        EXIFData exif = kFullExif;
        exif.cameraModel = longText;
        exif.lensModel = longText;
        QCOMPARE(FrameRenderer::composeFramedImage(photo, exif, FrameStyle(), {}, longText)
                     .value_or(QImage())
                     .size(),
                 QSize(400, 332));
        for (auto kind : {WatermarkConfig::Kind::text, WatermarkConfig::Kind::tiled})
            QCOMPARE(WatermarkRenderer::apply(photo, watermark(kind, {}, longText))->size(),
                     photo.size());
        // A tile that would need gigabytes is not made as a bitmap; it is drawn in
        // place (here its line passes beside the photo, which is kept as is).
        const WatermarkConfig tiled =
            watermark(WatermarkConfig::Kind::tiled, {}, QString("W").repeated(200000));
        QVERIFY(!WatermarkRenderer::makeRotatedTile(tiled, photo.size()));
        QVERIFY(changedBounds(*WatermarkRenderer::apply(photo, tiled), kPhoto, 0).isEmpty());
    }

    // An unloadable logo: the single one is left out, tiles fall back to the text
    // (none: nothing drawn), the frame is as without; a null frame logo is none.
    void unusableLogos()
    {
        const QImage photo = plainImage(300, 200, kPhoto);
        RenderInputs inputs;
        inputs.mode = EditMode::both;
        for (const char *name :
             {"corrupt.png", "cut.jpg", "empty.png", "missing.png", "folder.png"}) {
            const QString path = m_dir.filePath(name);
            const auto single =
                WatermarkRenderer::apply(photo, watermark(WatermarkConfig::Kind::image, path));
            QVERIFY2(single && changedBounds(*single, kPhoto, 0).isEmpty(), name);
            QCOMPARE(WatermarkRenderer::apply(photo, watermark(WatermarkConfig::Kind::tiled, path)),
                     WatermarkRenderer::apply(photo, watermark(WatermarkConfig::Kind::tiled)));
            for (auto kind : {WatermarkConfig::Kind::image, WatermarkConfig::Kind::tiled}) {
                inputs.watermark = watermark(kind, path);
                QCOMPARE(RenderPipeline::render(photo, inputs).size(), QSize(300, 224));
            }
        }
        for (auto kind : {WatermarkConfig::Kind::text, WatermarkConfig::Kind::tiled}) {
            const auto config = watermark(kind, m_dir.filePath("missing.png"), {});
            QVERIFY(changedBounds(WatermarkRenderer::apply(photo, config).value(), kPhoto, 0)
                        .isEmpty());
        }
        QCOMPARE(FrameRenderer::composeFramedImage(photo, kFullExif, FrameStyle(),
                                                   QImage(0, 5, QImage::Format_ARGB32)),
                 FrameRenderer::composeFramedImage(photo, kFullExif, FrameStyle()));
    }

    // Watermark and frame settings up to values no slider offers, NaN,
    // negative, infinite; a bar or border beyond any bitmap gives no frame.
    void extremeSettings()
    {
        const auto tiled = WatermarkConfig::Kind::tiled, text = WatermarkConfig::Kind::text;
        // Kind, font size, tile spacing, rotation, opacity; from "zero font" on,
        // nothing drawn, no endless tiling.
        const std::tuple<WatermarkConfig::Kind, double, double, double, double> rows[] = {
            {tiled, 0.035, 0.05, -30.0, 0.85}, // densest rows
            {tiled, 0.1, 0.05, 90.0, 0.1},     {tiled, 0.1, 0.05, -90.0, 0.1},
            {text, 0.1, 0.05, 0.0, 0.1},       {tiled, 0.0, 0.15, 0.0, 1.0},
            {tiled, 0.035, -1.0, 0.0, 1.0},    {tiled, kNaN, kNaN, kInf, kNaN},
            {tiled, 1e12, 0.15, 0.0, 1.0},     {text, 1e12, 0.15, 0.0, 1.0},
            {text, 20.0, 0.15, 0.0, 1.0}};
        const QImage photo = plainImage(600, 400, kPhoto);
        for (const auto &row : rows) {
            WatermarkConfig config;
            std::tie(config.kind, config.fontSize, config.tileSpacing, config.tileRotationDegrees,
                     config.opacity) = row;
            const auto result = WatermarkRenderer::apply(photo, config);
            QVERIFY2(result && result->size() == photo.size(),
                     qPrintable(QString::number(config.fontSize)));
        }
        FrameStyle style;
        style.borderEnabled = true;
        const std::pair<double, double> barsAndBorders[] = {
            {1e9, 1.0}, {0.08, 1e12}, {kNaN, 1.0}, {0.08, kNaN}, {-5.0, 1.0}, {0.08, kInf}};
        for (const auto &[bar, border] : barsAndBorders) {
            style.barHeight = bar;
            style.borderWidth = border;
            QVERIFY2(
                !FrameRenderer::composeFramedImage(plainImage(100, 80, kPhoto), kFullExif, style),
                qPrintable(QStringLiteral("%1 %2").arg(bar).arg(border)));
        }
    }

    // Mode "both" paints the watermark onto the photo inside the framed canvas:
    // the same pixels as watermarking the photo and framing the copy.
    void bothEqualsWatermarkThenFrame()
    {
        const auto text = WatermarkConfig::Kind::text, tiled = WatermarkConfig::Kind::tiled;
        const std::tuple<QImage::Format, WatermarkConfig::Kind, bool> rows[] = {
            {QImage::Format_RGB32, text, false},
            {QImage::Format_RGB32, tiled, true}, // with a border
            {QImage::Format_ARGB32_Premultiplied, text, false}};
        for (const auto &[format, kind, border] : rows) {
            const QImage photo = EditorFixtures::photo(1200, 800, format);
            RenderInputs inputs;
            inputs.mode = EditMode::both;
            inputs.exif = kFullExif;
            inputs.rightMainText = inputs.exif.parameterLine();
            inputs.style.borderEnabled = border;
            inputs.style.borderWidth = 3.0;
            inputs.watermark.kind = kind;
            inputs.watermark.text = QStringLiteral("© 测试 Kelvane");
            inputs.watermark.position = WatermarkConfig::Position::bottomLeft;
            const auto frame = [&inputs](const QImage &image) {
                return FrameRenderer::composeFramedImage(image, inputs.exif, inputs.style,
                                                         inputs.logo, inputs.rightMainText)
                    .value();
            };
            const QImage inPlace = RenderPipeline::render(photo, inputs);
            const QImage expected =
                frame(WatermarkRenderer::apply(photo, inputs.watermark).value());
            QCOMPARE(inPlace.size(), expected.size());
            QCOMPARE(differingPixels(inPlace, expected, 2), 0);
            QVERIFY(differingPixels(inPlace, frame(photo), 2) > 0);
            inputs.mode = EditMode::frame;
            QCOMPARE(RenderPipeline::render(photo, inputs), frame(photo));
            inputs.mode = EditMode::watermark;
            QCOMPARE(RenderPipeline::render(photo, inputs),
                     WatermarkRenderer::apply(photo, inputs.watermark).value());
        }
    }
};

QTEST_MAIN(TestRenderBadInput)
#include "tst_renderbadinput.moc"
