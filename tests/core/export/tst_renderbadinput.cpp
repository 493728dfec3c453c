#include "PixelProbe.h"
#include "export/FrameRenderer.h"
#include "export/WatermarkRenderer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

using namespace PixelProbe;

namespace {

const QColor kPhoto(40, 90, 160);

EXIFData fullExif()
{
    EXIFData exif;
    exif.cameraMake = "SONY";
    exif.cameraModel = "ILCE-7M4";
    exif.lensModel = "FE 24-70mm F2.8 GM II";
    exif.focalLength = "35mm";
    exif.aperture = "f/2.8";
    exif.shutterSpeed = "1/250s";
    exif.iso = "ISO 200";
    exif.author = "李四";
    return exif;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(bytes);
    return file.fileName();
}

// Every byte of a literal, embedded NULs included, without its terminator.
template <std::size_t N>
QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, qsizetype(N - 1));
}

} // namespace

// Broken or extreme inputs: the renderers fall back (nothing, or an
// undecorated copy) and never crash.
class TestRenderBadInput : public QObject
{
    Q_OBJECT

private slots:
    void nullAndEmptyPhotos();
    void corruptAndMissingLogos();
    void veryLongAndEmptyTexts();
    void extremeSliderValues_data();
    void extremeSliderValues();
    void impossibleFrameStyles_data();
    void impossibleFrameStyles();
    void tinyPhotos();
};

void TestRenderBadInput::nullAndEmptyPhotos()
{
    for (const QImage &photo :
         {QImage(), QImage(0, 0, QImage::Format_RGB32), QImage(0, 100, QImage::Format_ARGB32)}) {
        QVERIFY(!FrameRenderer::composeFramedImage(photo, fullExif(), FrameStyle()));
        for (auto kind : WatermarkConfig::allKinds) {
            WatermarkConfig config;
            config.kind = kind;
            QVERIFY(!WatermarkRenderer::apply(photo, config));
        }
    }
}

void TestRenderBadInput::corruptAndMissingLogos()
{
    QTemporaryDir dir;
    const QString corrupt = writeFile(dir, "logo.png", bytes("\x89PNG\r\n\x1a\n garbage"));
    const QString truncated = writeFile(dir, "cut.jpg", bytes("\xff\xd8\xff\xe0\x00\x10JFIF"));
    const QString empty = writeFile(dir, "empty.png", {});
    const QImage photo = plainImage(300, 200, kPhoto);

    for (const QString &logo :
         {corrupt, truncated, empty, dir.filePath("missing.png"), dir.path()}) {
        WatermarkConfig image;
        image.kind = WatermarkConfig::Kind::image;
        image.imageURL = logo;
        const auto plain = WatermarkRenderer::apply(photo, image);
        QVERIFY(plain);
        QVERIFY(changedBounds(*plain, kPhoto, 0).isEmpty());

        WatermarkConfig tiled = image;
        tiled.kind = WatermarkConfig::Kind::tiled;
        WatermarkConfig textTiles = tiled;
        textTiles.imageURL.clear();
        QCOMPARE(WatermarkRenderer::apply(photo, tiled),
                 WatermarkRenderer::apply(photo, textTiles));
    }
    // A null logo image in the frame is no logo.
    const auto framed = FrameRenderer::composeFramedImage(photo, fullExif(), FrameStyle(),
                                                          QImage(0, 5, QImage::Format_ARGB32));
    QCOMPARE(framed, FrameRenderer::composeFramedImage(photo, fullExif(), FrameStyle()));
}

void TestRenderBadInput::veryLongAndEmptyTexts()
{
    const QImage photo = plainImage(400, 300, kPhoto);
    const QString longText = QString("很长的文字 Long text ").repeated(2000);
    EXIFData exif = fullExif();
    exif.cameraModel = longText;
    exif.lensModel = longText;
    const auto framed = FrameRenderer::composeFramedImage(photo, exif, FrameStyle(), {}, longText);
    QVERIFY(framed);
    QCOMPARE(framed->size(), QSize(400, 332));

    QCOMPARE(FrameRenderer::composeFramedImage(photo, EXIFData(), FrameStyle())->size(),
             QSize(400, 332));

    for (auto kind : {WatermarkConfig::Kind::text, WatermarkConfig::Kind::tiled}) {
        WatermarkConfig config;
        config.kind = kind;
        config.text = longText;
        const auto result = WatermarkRenderer::apply(photo, config);
        QVERIFY(result);
        QCOMPARE(result->size(), photo.size());
    }
    // A tile that would need gigabytes is not made as a bitmap; it is drawn in
    // place (here its line passes beside the photo, which is kept as is).
    WatermarkConfig tiled;
    tiled.kind = WatermarkConfig::Kind::tiled;
    tiled.text = QString("W").repeated(200000);
    QVERIFY(!WatermarkRenderer::makeRotatedTile(tiled, photo.size()));
    QVERIFY(changedBounds(*WatermarkRenderer::apply(photo, tiled), kPhoto, 0).isEmpty());
}

void TestRenderBadInput::extremeSliderValues_data()
{
    QTest::addColumn<WatermarkConfig::Kind>("kind");
    QTest::addColumn<double>("fontSize");
    QTest::addColumn<double>("tileSpacing");
    QTest::addColumn<double>("rotation");
    QTest::addColumn<double>("opacity");
    const auto tiled = WatermarkConfig::Kind::tiled;
    QTest::newRow("largest font") << tiled << 0.1 << 0.15 << -30.0 << 0.85;
    QTest::newRow("densest rows") << tiled << 0.035 << 0.05 << -30.0 << 0.85;
    QTest::newRow("rotation +90") << tiled << 0.1 << 0.05 << 90.0 << 0.1;
    QTest::newRow("rotation -90") << tiled << 0.1 << 0.05 << -90.0 << 0.1;
    QTest::newRow("faint text") << WatermarkConfig::Kind::text << 0.1 << 0.05 << 0.0 << 0.1;
    // Values no slider offers: nothing drawn, no endless tiling.
    QTest::newRow("zero font") << tiled << 0.0 << 0.15 << 0.0 << 1.0;
    QTest::newRow("negative spacing") << tiled << 0.035 << -1.0 << 0.0 << 1.0;
    QTest::newRow("nan") << tiled << std::numeric_limits<double>::quiet_NaN()
                         << std::numeric_limits<double>::quiet_NaN()
                         << std::numeric_limits<double>::infinity()
                         << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("huge font") << tiled << 1e12 << 0.15 << 0.0 << 1.0;
    QTest::newRow("huge text") << WatermarkConfig::Kind::text << 1e12 << 0.15 << 0.0 << 1.0;
    QTest::newRow("large text") << WatermarkConfig::Kind::text << 20.0 << 0.15 << 0.0 << 1.0;
}

void TestRenderBadInput::extremeSliderValues()
{
    QFETCH(WatermarkConfig::Kind, kind);
    QFETCH(double, fontSize);
    QFETCH(double, tileSpacing);
    QFETCH(double, rotation);
    QFETCH(double, opacity);
    WatermarkConfig config;
    config.kind = kind;
    config.fontSize = fontSize;
    config.tileSpacing = tileSpacing;
    config.tileRotationDegrees = rotation;
    config.opacity = opacity;
    const QImage photo = plainImage(600, 400, kPhoto);
    const auto result = WatermarkRenderer::apply(photo, config);
    QVERIFY(result);
    QCOMPARE(result->size(), photo.size());
}

void TestRenderBadInput::impossibleFrameStyles_data()
{
    QTest::addColumn<double>("barHeight");
    QTest::addColumn<double>("borderWidth");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("bar taller than any bitmap") << 1e9 << 1.0;
    QTest::newRow("border wider than any bitmap") << 0.08 << 1e12;
    QTest::newRow("nan bar") << nan << 1.0;
    QTest::newRow("nan border") << 0.08 << nan;
    QTest::newRow("negative bar") << -5.0 << 1.0;
    QTest::newRow("infinite border") << 0.08 << std::numeric_limits<double>::infinity();
}

void TestRenderBadInput::impossibleFrameStyles()
{
    QFETCH(double, barHeight);
    QFETCH(double, borderWidth);
    FrameStyle style;
    style.barHeight = barHeight;
    style.borderWidth = borderWidth;
    style.borderEnabled = true;
    QVERIFY(!FrameRenderer::composeFramedImage(plainImage(100, 80, kPhoto), fullExif(), style));
}

void TestRenderBadInput::tinyPhotos()
{
    for (const QSize size : {QSize(1, 1), QSize(1, 5000), QSize(3000, 1)}) {
        const QImage photo = plainImage(size.width(), size.height(), kPhoto);
        FrameStyle style;
        style.borderEnabled = true;
        const auto framed = FrameRenderer::composeFramedImage(photo, fullExif(), style);
        QVERIFY(framed);
        QVERIFY(framed->width() >= size.width());
        for (auto kind : WatermarkConfig::allKinds) {
            WatermarkConfig config;
            config.kind = kind;
            const auto result = WatermarkRenderer::apply(photo, config);
            QVERIFY(result);
            QCOMPARE(result->size(), size);
        }
    }
}

QTEST_MAIN(TestRenderBadInput)
#include "tst_renderbadinput.moc"
