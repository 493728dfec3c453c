#include "PixelProbe.h"
#include "export/WatermarkRenderer.h"

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
// Opaque text, or an opaque red logo of w x h, so that the whole ink box is measured.
WatermarkConfig opaque(WatermarkConfig::Kind kind, int w = 0, int h = 0)
{
    static const QTemporaryDir dir;
    WatermarkConfig config{.kind = kind, .imageURL = {}, .opacity = 1};
    if (w > 0) {
        config.imageURL = dir.filePath(QStringLiteral("logo.png"));
        plainImage(w, h, kRed, QImage::Format_ARGB32).save(config.imageURL);
    }
    return config;
}

// Share of each of n x n blocks whose pixels are lit well above `plain`.
QList<qreal> coverage(const QImage &image, QColor plain, int n)
{
    QList<qreal> shares(n * n, 0);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            if (qGray(rgb.pixel(x, y)) > qGray(plain.rgb()) + 40)
                shares[(y * n / rgb.height()) * n + x * n / rgb.width()] += 1;
        }
    }
    for (qreal &share : shares)
        share /= qreal(rgb.width()) * rgb.height() / (n * n);
    return shares;
}

} // namespace

class TestWatermarkRenderer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rawValuesRoundTrip()
    {
        for (auto kind : WatermarkConfig::allKinds)
            QCOMPARE(WatermarkConfig::kindFromRawValue(WatermarkConfig::rawValue(kind)), kind);
        for (auto position : WatermarkConfig::allPositions)
            QCOMPARE(WatermarkConfig::positionFromRawValue(WatermarkConfig::rawValue(position)),
                     position);
        const auto midRight = WatermarkConfig::Position::midRight;
        QCOMPARE(WatermarkConfig::column(midRight) * 10 + WatermarkConfig::row(midRight), 21);
        QVERIFY(!WatermarkConfig::kindFromRawValue(u"Text"));
        QVERIFY(!WatermarkConfig::positionFromRawValue(u"center"));
    }

    void textInkBoxPlacement()
    {
        // 900 x 600: text 31.5 px (of the longer side), margin 18 px (of the shorter).
        constexpr int W = 900, H = 600;
        constexpr qreal margin = 18, fontPx = 31.5;
        const QImage photo = plainImage(W, H, kPhoto), before = photo.copy();
        WatermarkConfig config = opaque(WatermarkConfig::Kind::text);
        config.text = QStringLiteral("Ag 水印"); // descender and CJK glyphs
        for (auto position : WatermarkConfig::allPositions) {
            config.position = position;
            const QRect ink = changedBounds(watermarked(photo, config), kPhoto, 60);
            // Pixel edges of the ink: within one pixel of the exact box.
            const qreal left = ink.left(), right = ink.right() + 1;
            const qreal top = ink.top(), bottom = ink.bottom() + 1;
            const qreal x[] = {left - margin, (left + right) / 2 - W / 2.0, W - right - margin};
            const qreal y[] = {top - margin, (top + bottom) / 2 - H / 2.0, H - bottom - margin};
            QVERIFY2(!ink.isEmpty() && ink.height() > 0.7 * fontPx && ink.height() < 1.3 * fontPx &&
                         std::abs(x[WatermarkConfig::column(position)]) <= 1 &&
                         std::abs(y[WatermarkConfig::row(position)]) <= 1,
                     qPrintable(WatermarkConfig::rawValue(position) +
                                QStringLiteral(": %1,%2 %3").arg(left).arg(top).arg(ink.height())));
        }
        QCOMPARE(photo, before); // the caller's pixels are never painted on
    }

    // Sides swap (within a pixel); at +90 the text reads upwards (its wide "©"
    // at the bottom), at -90 downwards.
    void tileSizeFollowsRotation()
    {
        WatermarkConfig config;
        config.tileRotationDegrees = 0;
        const std::optional<QImage> flat = WatermarkRenderer::makeRotatedTile(config, {3000, 2000});
        QVERIFY(flat && flat->width() > flat->height());
        for (const double degrees : {90.0, -90.0}) {
            config.tileRotationDegrees = degrees;
            const auto turned = WatermarkRenderer::makeRotatedTile(config, {3000, 2000});
            QVERIFY(unsigned(turned->width() - flat->height()) <= 1 &&
                    unsigned(turned->height() - flat->width()) <= 1);
            const int quarter = turned->height() / 4;
            const auto inkWidth = [&](int from) {
                return changedBounds(*turned, QRect(0, from, turned->width(), quarter),
                                     Qt::transparent, 60)
                    .width();
            };
            QVERIFY(inkWidth(0) > 0 && inkWidth(3 * quarter) > 0);
            QCOMPARE(inkWidth(3 * quarter) > inkWidth(0), degrees > 0);
        }
    }

    // The logo's width is a fraction of the photo's width, whatever its
    // height; its opacity scales an opaque logo's pixels. Tiles are staggered.
    void logoSizeOpacityAndTiles()
    {
        WatermarkConfig config = opaque(WatermarkConfig::Kind::image, 200, 100);
        config.position = WatermarkConfig::Position::midCenter;
        config.imageScale = 0.5;
        for (const double opacity : {0.1, 0.5, 1.0}) {
            config.opacity = opacity;
            const QImage result = watermarked(plainImage(400, 600, kBlue), config);
            QCOMPARE(changedBounds(result, kBlue, 10), QRect(100, 250, 200, 100));
            const QRgb centre = result.pixel(200, 300);
            QVERIFY2(std::abs(qRed(centre) - 255 * opacity) <= 2 &&
                         std::abs(qBlue(centre) - 255 * (1 - opacity)) <= 2,
                     qPrintable(QString::number(opacity)));
        }
        // Tiles: logo tile 100 x 50 on 1000 x 500 (imageScale 0.1), no rotation:
        // sx = 40 + 100, sy = 0.15 * 1000 + 50; rows (y-up) at -50, 150, 350.
        config.kind = WatermarkConfig::Kind::tiled; // opacity 1 from the last row above
        config.imageScale = 0.1;
        config.tileRotationDegrees = 0;
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

    void hugeTilesReachTheExportLikeThePreview()
    {
        // 45 MP, largest font, a tile of about 19,000 x 11,600 px: like the preview.
        WatermarkConfig config = opaque(WatermarkConfig::Kind::tiled);
        config.text = QStringLiteral("© Kelvane Photography 2026 · All rights reserved");
        config.fontSize = 0.1;
        const QSize full(8192, 5464), preview(1600, 1067);
        const QImage exported =
            watermarked(plainImage(full.width(), full.height(), kPhoto), config);
        const QList<qreal> inExport = coverage(
            exported.scaled(preview, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), kPhoto, 8);
        const QList<qreal> inPreview = coverage(
            watermarked(plainImage(preview.width(), preview.height(), kPhoto), config), kPhoto, 8);
        qreal total = 0;
        for (int i = 0; i < inPreview.size(); ++i) {
            QVERIFY2(std::abs(inExport[i] - inPreview[i]) < 0.08, qPrintable(QString::number(i)));
            total += inExport[i];
        }
        QVERIFY2(total / inExport.size() > 0.01, "no watermark in the export");
    }
};

QTEST_MAIN(TestWatermarkRenderer)
#include "tst_watermarkrenderer.moc"
