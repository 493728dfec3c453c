#include "PixelProbe.h"
#include "export/WatermarkRenderer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace PixelProbe;

namespace {

const QColor kPhoto(20, 30, 60);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

QImage watermarked(const QImage &photo, const WatermarkConfig &config)
{
    return WatermarkRenderer::apply(photo, config).value_or(QImage());
}

// Fully opaque text so the ink box is measured, not its faint edges.
WatermarkConfig opaqueText()
{
    WatermarkConfig config;
    config.opacity = 1;
    return config;
}

QString writeLogo(const QTemporaryDir &dir, int w, int h, const QString &name = "logo.png")
{
    const QString path = dir.filePath(name);
    plainImage(w, h, kRed, QImage::Format_ARGB32).save(path);
    return path;
}

// Share of each of n x n blocks whose pixels are lit well above `plain`.
QList<qreal> coverage(const QImage &image, QColor plain, int n)
{
    QList<qreal> shares(n * n, 0);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if (qGray(line[x]) > qGray(plain.rgb()) + 40)
                shares[(y * n / rgb.height()) * n + x * n / rgb.width()] += 1;
        }
    }
    const qreal perBlock = qreal(rgb.width()) * rgb.height() / (n * n);
    for (qreal &share : shares)
        share /= perBlock;
    return shares;
}

} // namespace

class TestWatermarkRenderer : public QObject
{
    Q_OBJECT

private slots:
    void configDefaultsAndRawValues();
    void textInkBoxAtMarginLargePhoto();
    void textInkBoxPlacement_data();
    void textInkBoxPlacement();
    void logoWidthFractionOfPhotoWidth();
    void opacityScalesOpaqueLogo_data();
    void opacityScalesOpaqueLogo();
    void tileSizeFollowsRotation_data();
    void tileSizeFollowsRotation();
    void tilesAreStaggered();
    void tilesFallBackToTextWhenLogoGone();
    void hugeTilesReachTheExportLikeThePreview();
    void nothingToDrawStillCopies();
    void sourcePixelsUntouched();
};

void TestWatermarkRenderer::configDefaultsAndRawValues()
{
    const WatermarkConfig config;
    QCOMPARE(config.kind, WatermarkConfig::Kind::text);
    QCOMPARE(config.text, QStringLiteral("© Kelvane"));
    QCOMPARE(config.position, WatermarkConfig::Position::bottomRight);
    QCOMPARE(config.textColor, QColor(Qt::white));
    QVERIFY(config.imageURL.isEmpty());

    WatermarkConfig changed = config;
    QVERIFY(changed == config);
    changed.textColor = QColor(255, 255, 255, 128);
    QVERIFY(!(changed == config));

    const QStringList kinds{"text", "image", "tiled"};
    for (std::size_t i = 0; i < WatermarkConfig::allKinds.size(); ++i) {
        QCOMPARE(WatermarkConfig::rawValue(WatermarkConfig::allKinds[i]), kinds[int(i)]);
        QCOMPARE(WatermarkConfig::kindFromRawValue(kinds[int(i)]), WatermarkConfig::allKinds[i]);
    }
    const QStringList positions{"topLeft",  "topCenter",  "topRight",     "midLeft",    "midCenter",
                                "midRight", "bottomLeft", "bottomCenter", "bottomRight"};
    for (int i = 0; i < 9; ++i) {
        const auto position = WatermarkConfig::allPositions[std::size_t(i)];
        QCOMPARE(WatermarkConfig::rawValue(position), positions[i]);
        QCOMPARE(WatermarkConfig::positionFromRawValue(positions[i]), position);
        QCOMPARE(WatermarkConfig::column(position), i % 3);
        QCOMPARE(WatermarkConfig::row(position), i / 3);
    }
    QVERIFY(!WatermarkConfig::kindFromRawValue(u"Text"));
    QVERIFY(!WatermarkConfig::positionFromRawValue(u"center"));
}

void TestWatermarkRenderer::textInkBoxAtMarginLargePhoto()
{
    // 6000 x 4000, initial settings: text 210 px, margin 120 px.
    const QImage result = watermarked(plainImage(6000, 4000, kPhoto), opaqueText());
    const QRect ink = changedBounds(result, kPhoto, 60);
    QVERIFY(!ink.isEmpty());
    QVERIFY2(std::abs(6000 - (ink.right() + 1) - 120) <= 1,
             qPrintable(QString::number(ink.right())));
    QVERIFY2(std::abs(4000 - (ink.bottom() + 1) - 120) <= 1,
             qPrintable(QString::number(ink.bottom())));
    // "©" reaches from the baseline almost to the cap height of a 210 px font.
    QVERIFY(ink.height() > 0.6 * 210 && ink.height() < 210);
}

void TestWatermarkRenderer::textInkBoxPlacement_data()
{
    QTest::addColumn<WatermarkConfig::Position>("position");
    for (auto position : WatermarkConfig::allPositions)
        QTest::newRow(qPrintable(WatermarkConfig::rawValue(position))) << position;
}

void TestWatermarkRenderer::textInkBoxPlacement()
{
    QFETCH(WatermarkConfig::Position, position);
    // 900 x 600: text 31.5 px, margin 18 px.
    constexpr int W = 900, H = 600;
    constexpr qreal margin = 18;
    WatermarkConfig config = opaqueText();
    config.position = position;
    config.text = QStringLiteral("Ag 水印"); // descender and CJK glyphs
    const QRect ink = changedBounds(watermarked(plainImage(W, H, kPhoto), config), kPhoto, 60);
    QVERIFY(!ink.isEmpty());

    // Pixel edges of the ink: within one pixel of the exact box.
    const qreal left = ink.left(), right = ink.right() + 1;
    const qreal top = ink.top(), bottom = ink.bottom() + 1;
    switch (WatermarkConfig::column(position)) {
    case 0:
        QVERIFY(std::abs(left - margin) <= 1);
        break;
    case 1:
        QVERIFY(std::abs((left + right) / 2 - W / 2.0) <= 1);
        break;
    default:
        QVERIFY(std::abs(W - right - margin) <= 1);
        break;
    }
    switch (WatermarkConfig::row(position)) {
    case 0:
        QVERIFY(std::abs(top - margin) <= 1);
        break;
    case 1:
        QVERIFY(std::abs((top + bottom) / 2 - H / 2.0) <= 1);
        break;
    default:
        QVERIFY(std::abs(H - bottom - margin) <= 1);
        break;
    }
}

void TestWatermarkRenderer::logoWidthFractionOfPhotoWidth()
{
    QTemporaryDir dir;
    WatermarkConfig config;
    config.kind = WatermarkConfig::Kind::image;
    config.imageURL = writeLogo(dir, 200, 100);
    config.opacity = 1;
    // Portrait 400 x 600, scale 0.15: 60 x 30 regardless of the height; margin 12.
    const QImage result = watermarked(plainImage(400, 600, kBlue), config);
    const QRect logo = colourBounds(result, result.rect(), kRed, 10);
    QVERIFY(std::abs(logo.width() - 60) <= 1);
    QVERIFY(std::abs(logo.height() - 30) <= 1);
    QVERIFY(std::abs(400 - (logo.right() + 1) - 12) <= 1);
    QVERIFY(std::abs(600 - (logo.bottom() + 1) - 12) <= 1);
}

void TestWatermarkRenderer::opacityScalesOpaqueLogo_data()
{
    QTest::addColumn<double>("opacity");
    QTest::newRow("0.1") << 0.1;
    QTest::newRow("0.5") << 0.5;
    QTest::newRow("1") << 1.0;
}

void TestWatermarkRenderer::opacityScalesOpaqueLogo()
{
    QFETCH(double, opacity);
    QTemporaryDir dir;
    WatermarkConfig config;
    config.kind = WatermarkConfig::Kind::image;
    config.imageURL = writeLogo(dir, 100, 100);
    config.position = WatermarkConfig::Position::midCenter;
    config.imageScale = 0.5;
    config.opacity = opacity;
    const QImage result = watermarked(plainImage(400, 400, kBlue), config);
    const QRgb centre = result.pixel(200, 200);
    QVERIFY(std::abs(qRed(centre) - 255 * opacity) <= 2);
    QVERIFY(std::abs(qBlue(centre) - 255 * (1 - opacity)) <= 2);
    QCOMPARE(result.pixel(5, 5), kBlue.rgb());
}

void TestWatermarkRenderer::tileSizeFollowsRotation_data()
{
    QTest::addColumn<double>("degrees");
    QTest::newRow("90") << 90.0;
    QTest::newRow("-90") << -90.0;
}

void TestWatermarkRenderer::tileSizeFollowsRotation()
{
    QFETCH(double, degrees);
    const QSizeF canvas(3000, 2000);
    WatermarkConfig config;
    config.tileRotationDegrees = 0;
    const std::optional<QImage> flat = WatermarkRenderer::makeRotatedTile(config, canvas);
    QVERIFY(flat);
    QVERIFY(flat->width() > flat->height());

    config.tileRotationDegrees = degrees;
    const std::optional<QImage> turned = WatermarkRenderer::makeRotatedTile(config, canvas);
    QVERIFY(turned);
    // Sides swap, up to one extra pixel from rounding up.
    QVERIFY(turned->width() - flat->height() >= 0 && turned->width() - flat->height() <= 1);
    QVERIFY(turned->height() - flat->width() >= 0 && turned->height() - flat->width() <= 1);

    // The text reads upwards at +90 (counter-clockwise) and downwards at -90:
    // the "©" at the start of the text is at the bottom, respectively the top.
    const QRect ink = changedBounds(*turned, Qt::transparent, 60);
    const QRect firstQuarter = changedBounds(
        *turned, QRect(0, 0, turned->width(), turned->height() / 4), Qt::transparent, 60);
    const QRect lastQuarter = changedBounds(
        *turned, QRect(0, 3 * turned->height() / 4, turned->width(), turned->height() / 4),
        Qt::transparent, 60);
    QVERIFY(!ink.isEmpty() && !firstQuarter.isEmpty() && !lastQuarter.isEmpty());
    // "©" is the widest glyph across the line: its quarter has the wider ink.
    if (degrees > 0)
        QVERIFY(lastQuarter.width() > firstQuarter.width());
    else
        QVERIFY(firstQuarter.width() > lastQuarter.width());
}

void TestWatermarkRenderer::tilesAreStaggered()
{
    // Logo tile 100 x 50 on 1000 x 500 (imageScale 0.1), no rotation:
    // sx = 40 + 100, sy = 0.15 * 1000 + 50; rows (y-up) at -50, 150, 350.
    QTemporaryDir dir;
    WatermarkConfig config;
    config.kind = WatermarkConfig::Kind::tiled;
    config.imageURL = writeLogo(dir, 200, 100);
    config.imageScale = 0.1;
    config.tileRotationDegrees = 0;
    config.opacity = 1;
    const QImage result = watermarked(plainImage(1000, 500, kBlue), config);

    // Row 2 (even, y-down 100..150): tiles from x = -100 every 140.
    for (int x : {40, 180, 320, 880})
        QVERIFY2(result.pixel(x + 50, 125) == kRed.rgb(), qPrintable(QString::number(x)));
    QCOMPARE(result.pixel(160, 125), kBlue.rgb());
    // Row 1 (odd, y-down 300..350): shifted by half a step, from x = -30.
    for (int x : {-30, 110, 250, 810})
        QVERIFY2(result.pixel(std::max(0, x + 50), 325) == kRed.rgb(),
                 qPrintable(QString::number(x)));
    QCOMPARE(result.pixel(90, 325), kBlue.rgb());
    QCOMPARE(result.pixel(975, 325), kRed.rgb()); // last tile, cut by the edge
    // Between rows (y-down 150..300) and below the last visible row: no tile.
    QVERIFY(colourBounds(result, QRect(0, 151, 1000, 148), kRed, 10).isEmpty());
    QVERIFY(colourBounds(result, QRect(0, 351, 1000, 149), kRed, 10).isEmpty());
}

void TestWatermarkRenderer::tilesFallBackToTextWhenLogoGone()
{
    QTemporaryDir dir;
    const QSizeF canvas(1200, 800);
    WatermarkConfig textOnly;
    textOnly.kind = WatermarkConfig::Kind::tiled;
    WatermarkConfig withLogo = textOnly;
    withLogo.imageURL = writeLogo(dir, 200, 100);

    const auto logoTile = WatermarkRenderer::makeRotatedTile(withLogo, canvas);
    const auto textTile = WatermarkRenderer::makeRotatedTile(textOnly, canvas);
    QVERIFY(logoTile && textTile);
    QVERIFY(*logoTile != *textTile);

    QVERIFY(QFile::remove(withLogo.imageURL));
    const auto fallback = WatermarkRenderer::makeRotatedTile(withLogo, canvas);
    QVERIFY(fallback);
    QCOMPARE(*fallback, *textTile);

    const QImage photo = plainImage(1200, 800, kPhoto);
    const QImage result = watermarked(photo, withLogo);
    QCOMPARE(result, watermarked(photo, textOnly));
    QVERIFY(!changedBounds(result, kPhoto, 30).isEmpty());
}

void TestWatermarkRenderer::hugeTilesReachTheExportLikeThePreview()
{
    // A 45 MP photo, a long text at the largest font at -30 degrees: one tile
    // would be about 19,000 x 11,600 pixels. The preview renders from a copy
    // scaled to 1600 pixels; the export at full size must look the same.
    WatermarkConfig config = opaqueText();
    config.kind = WatermarkConfig::Kind::tiled;
    config.text = QStringLiteral("© Kelvane Photography 2026 · All rights reserved");
    config.fontSize = 0.1;
    config.tileRotationDegrees = -30;
    const QSize full(8192, 5464), preview(1600, 1067);
    const QImage exported = watermarked(plainImage(full.width(), full.height(), kPhoto), config);
    QCOMPARE(exported.size(), full);
    const QImage scaledExport =
        exported.scaled(preview, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage shown = watermarked(plainImage(preview.width(), preview.height(), kPhoto), config);

    const QList<qreal> inExport = coverage(scaledExport, kPhoto, 8);
    const QList<qreal> inPreview = coverage(shown, kPhoto, 8);
    qreal total = 0;
    for (int i = 0; i < inPreview.size(); ++i) {
        QVERIFY2(std::abs(inExport[i] - inPreview[i]) < 0.08,
                 qPrintable(QStringLiteral("block %1: export %2, preview %3")
                                .arg(i)
                                .arg(inExport[i])
                                .arg(inPreview[i])));
        total += inExport[i];
    }
    QVERIFY2(total / inExport.size() > 0.01, "no watermark in the export");
}

void TestWatermarkRenderer::nothingToDrawStillCopies()
{
    const QImage photo = plainImage(300, 200, kPhoto);
    WatermarkConfig emptyText;
    emptyText.text.clear();
    WatermarkConfig missingLogo;
    missingLogo.kind = WatermarkConfig::Kind::image;
    missingLogo.imageURL = QStringLiteral("/nonexistent/logo.png");
    WatermarkConfig noLogoNoText = emptyText;
    noLogoNoText.kind = WatermarkConfig::Kind::tiled;
    noLogoNoText.imageURL = missingLogo.imageURL;
    for (const WatermarkConfig &config : {emptyText, missingLogo, noLogoNoText}) {
        const auto result = WatermarkRenderer::apply(photo, config);
        QVERIFY(result);
        QCOMPARE(result->size(), photo.size());
        QVERIFY(changedBounds(*result, kPhoto, 0).isEmpty());
    }
}

void TestWatermarkRenderer::sourcePixelsUntouched()
{
    const QImage photo = plainImage(300, 200, kPhoto, QImage::Format_ARGB32_Premultiplied);
    const QImage before = photo.copy();
    const auto result = WatermarkRenderer::apply(photo, opaqueText());
    QVERIFY(result && *result != photo);
    QCOMPARE(photo, before);
}

QTEST_MAIN(TestWatermarkRenderer)
#include "tst_watermarkrenderer.moc"
