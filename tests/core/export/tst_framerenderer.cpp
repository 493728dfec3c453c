#include "PixelProbe.h"
#include "export/FrameRenderer.h"
#include "export/TextLine.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QRawFont>
#include <QTest>
#include <QTextLayout>

using namespace PixelProbe;

namespace {

const QColor kPhoto(30, 60, 200);
const QColor kLogo(230, 20, 20);
const QColor kBarWhite(Qt::white);

// 1500 x 1000 photo: bar 120 px high, padding 30 px, primary 33.6 px,
// secondary 24 px; without border the bar occupies rows 1000..1119.
constexpr int kW = 1500;
constexpr int kH = 1000;
constexpr qreal kBarH = 120;
constexpr qreal kPad = 30;
constexpr qreal kBarTop = kH; // y-down
constexpr qreal kBarMid = kBarTop + kBarH / 2;

QImage framed(const EXIFData &exif, const FrameStyle &style = {}, const QImage &logo = {},
              const std::optional<QString> &right = std::nullopt, int w = kW, int h = kH)
{
    const auto result =
        FrameRenderer::composeFramedImage(plainImage(w, h, kPhoto), exif, style, logo, right);
    return result.value_or(QImage());
}

QImage logo(int w, int h)
{
    return plainImage(w, h, kLogo, QImage::Format_ARGB32);
}

QRect barInk(const QImage &image, int fromX, int toX)
{
    return changedBounds(image, QRect(QPoint(fromX, int(kBarTop)), QPoint(toX, image.height() - 1)),
                         kBarWhite, 40);
}

// The light-gray vertical line in the bar: columns that are gray over the
// middle half of the bar (anti-aliased glyph edges are gray only here and there).
QRect separatorBounds(const QImage &image)
{
    const QColor gray(170, 170, 170);
    QRect bounds;
    for (int x = 0; x < image.width(); ++x) {
        const QRect column(x, int(kBarTop + kBarH / 4), 1, int(kBarH / 2));
        int grayRows = 0;
        for (int y = column.top(); y <= column.bottom(); ++y)
            grayRows += near(image.pixel(x, y), gray.rgb(), 12) ? 1 : 0;
        if (grayRows == column.height())
            bounds |= colourBounds(image, QRect(x, int(kBarTop), 1, int(kBarH)), gray, 12);
    }
    return bounds;
}

// Runs of columns holding dark (primary black) ink in rows [top, bottom] from
// `fromX` on; the red logo and the light-gray separator are not dark.
QList<QPair<int, int>> darkRuns(const QImage &image, int top, int bottom, int fromX)
{
    QList<QPair<int, int>> runs;
    for (int x = fromX; x < image.width(); ++x) {
        bool dark = false;
        for (int y = top; y <= bottom && !dark; ++y) {
            const QRgb pixel = image.pixel(x, y);
            dark = std::max({qRed(pixel), qGreen(pixel), qBlue(pixel)}) < 110;
        }
        if (!dark)
            continue;
        if (!runs.isEmpty() && runs.last().second == x - 1)
            runs.last().second = x;
        else
            runs.append({x, x});
    }
    return runs;
}

} // namespace

class TestFrameRenderer : public QObject
{
    Q_OBJECT

private slots:
    void canvasSize_data();
    void canvasSize();
    void photoAndBorderBands();
    void logoSizeAndPlacement_data();
    void logoSizeAndPlacement();
    void separatorFollowsBrandBlock();
    void noBrandBlockStartsAtPadding();
    void makeTextIsBrandWhenNoLogo();
    void modelCentredWithoutLens();
    void lensAloneIsLowerLine();
    void rightBlockAlignedAtPadding();
    void emptyRightMainTextHidesRightBlock();
    void rightSecondaryTextPrecedence();
    void portraitBarShrinksBothBlocksApart();
    void exportFontsCoverChinese();
};

void TestFrameRenderer::canvasSize_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<bool>("border");
    QTest::addColumn<QSize>("canvas");
    QTest::newRow("24MP landscape") << QSize(6000, 4000) << false << QSize(6000, 4480);
    QTest::newRow("24MP landscape, border") << QSize(6000, 4000) << true << QSize(6012, 4498);
    // Bar from the longer side (6000 * 0.08), border from the width.
    QTest::newRow("portrait") << QSize(400, 600) << false << QSize(400, 648);
    QTest::newRow("portrait, border") << QSize(1000, 1500) << true << QSize(1002, 1623);
    // b = 0.6: 601.2 x 449.8 truncated.
    QTest::newRow("fractional border truncated") << QSize(600, 400) << true << QSize(601, 449);
}

void TestFrameRenderer::canvasSize()
{
    QFETCH(QSize, photo);
    QFETCH(bool, border);
    QFETCH(QSize, canvas);
    FrameStyle style;
    style.borderEnabled = border;
    const QImage result = framed({}, style, {}, std::nullopt, photo.width(), photo.height());
    QCOMPARE(result.size(), canvas);
}

void TestFrameRenderer::photoAndBorderBands()
{
    // W = 600, borderWidth 10 -> b = 6: canvas 612 x (48 + 400 + 18).
    FrameStyle style;
    style.borderEnabled = true;
    style.borderWidth = 10;
    const QImage result = framed({}, style, {}, QString(), 600, 400);
    QCOMPARE(result.size(), QSize(612, 466));

    QCOMPARE(colourBounds(result, result.rect(), kPhoto, 2), QRect(6, 6, 600, 400));
    // Stroke of light gray at 30 % over white covers the band around the photo...
    const QColor stroked(230, 230, 230);
    QVERIFY(near(result.pixel(3, 200), stroked.rgb(), 3));
    QVERIFY(near(result.pixel(609, 200), stroked.rgb(), 3));
    QVERIFY(near(result.pixel(300, 2), stroked.rgb(), 3));
    QVERIFY(near(result.pixel(300, 409), stroked.rgb(), 3)); // between photo and bar
    // ...but not the bands beside and below the bar.
    QCOMPARE(result.pixel(3, 430), QColor(Qt::white).rgb());
    QCOMPARE(result.pixel(300, 463), QColor(Qt::white).rgb());
    QCOMPARE(result.pixel(300, 440), QColor(Qt::white).rgb()); // empty bar
}

void TestFrameRenderer::logoSizeAndPlacement_data()
{
    QTest::addColumn<double>("scale");
    QTest::newRow("1.0") << 1.0;
    QTest::newRow("0.5") << 0.5;
    QTest::newRow("1.5") << 1.5;
}

void TestFrameRenderer::logoSizeAndPlacement()
{
    QFETCH(double, scale);
    FrameStyle style;
    style.logoScale = scale;
    const QImage result = framed({}, style, logo(200, 100), QString());

    const qreal lh = 0.5 * kBarH * scale; // half the bar at scale 1
    const qreal lw = 2 * lh;
    const QRect red = colourBounds(result, result.rect(), kLogo, 10);
    QVERIFY2(std::abs(red.left() - kPad) <= 1, qPrintable(QString::number(red.left())));
    QVERIFY(std::abs(red.width() - lw) <= 1);
    QVERIFY(std::abs(red.height() - lh) <= 1);
    QVERIFY(std::abs((red.top() + red.height() / 2.0) - kBarMid) <= 1);
}

void TestFrameRenderer::separatorFollowsBrandBlock()
{
    EXIFData exif;
    exif.cameraModel = QStringLiteral("Z8");
    const QImage result = framed(exif, {}, logo(200, 100), QString());

    // sx = pad + lw + 0.8 pad, from 20 % to 80 % of the bar, 2.4 px wide.
    const qreal sx = kPad + 120 + 0.8 * kPad;
    const QRect separator = separatorBounds(result);
    QVERIFY2(!separator.isEmpty(), "no separator");
    QVERIFY(std::abs(separator.center().x() - sx) <= 2);
    QVERIFY(separator.width() <= 4);
    QVERIFY(std::abs(separator.top() - (kBarTop + 0.2 * kBarH)) <= 1);
    QVERIFY(std::abs(separator.bottom() + 1 - (kBarTop + 0.8 * kBarH)) <= 1);

    // The model starts 0.8 * padding after the separator.
    const QRect model = barInk(result, int(sx) + 3, kW / 2);
    QVERIFY(!model.isEmpty());
    QVERIFY(model.left() >= sx + 0.8 * kPad - 1);
    QVERIFY(model.left() <= sx + 0.8 * kPad + 0.15 * 33.6);
}

void TestFrameRenderer::noBrandBlockStartsAtPadding()
{
    EXIFData exif;
    exif.cameraModel = QStringLiteral("Z8");
    exif.lensModel = QStringLiteral("NIKKOR Z 50mm f/1.8 S");
    const QImage result = framed(exif, {}, {}, QString());

    QVERIFY(separatorBounds(result).isEmpty());
    const QRect ink = barInk(result, 0, kW / 2);
    QVERIFY(ink.left() >= kPad - 1);
    QVERIFY(ink.left() <= kPad + 0.15 * 33.6);
}

void TestFrameRenderer::makeTextIsBrandWhenNoLogo()
{
    EXIFData exif;
    exif.cameraMake = QStringLiteral("NIKON");
    exif.cameraModel = QStringLiteral("Z8");

    const QImage withMake = framed(exif, {}, {}, QString());
    const QRect separator = separatorBounds(withMake);
    QVERIFY2(!separator.isEmpty(), "separator missing after make text");
    const QRect make = barInk(withMake, 0, separator.left() - 2);
    QVERIFY(make.left() >= kPad - 1 && make.left() <= kPad + 6);
    QVERIFY(separator.left() > make.right());
    // The logo, when given, replaces the make text.
    const QImage withLogo = framed(exif, {}, logo(200, 100), QString());
    QVERIFY(!colourBounds(withLogo, withLogo.rect(), kLogo, 10).isEmpty());
    QVERIFY(separatorBounds(withLogo).left() != separator.left());
    // A null logo is no logo.
    QCOMPARE(framed(exif, {}, QImage(), QString()), withMake);
}

void TestFrameRenderer::modelCentredWithoutLens()
{
    EXIFData exif;
    exif.cameraModel = QStringLiteral("ZEH"); // capitals only: ink = cap height
    const QImage single = framed(exif, {}, {}, QString());
    const QRect ink = barInk(single, 0, kW / 2);
    // Baseline 0.35 p below the middle: the capitals straddle it. Glyphs sit on
    // whole-pixel baselines with one anti-aliased row: 2 px tolerance.
    const qreal baseline = kBarMid + 0.35 * 33.6;
    QVERIFY(std::abs(ink.bottom() + 1 - baseline) <= 2);
    QVERIFY(std::abs(ink.center().y() - kBarMid) <= 0.1 * 33.6);

    exif.lensModel = QStringLiteral("LENS");
    const QImage twoLines = framed(exif, {}, {}, QString());
    const QRect upper =
        changedBounds(twoLines, QRect(0, int(kBarTop), kW / 2, int(kBarH / 2)), kBarWhite, 40);
    // Upper line sits on midY + 0.1 s (y-up), i.e. 2.4 px above the middle.
    QVERIFY2(std::abs(upper.bottom() + 1 - (kBarMid - 0.1 * 24)) <= 2,
             qPrintable(QString::number(upper.bottom())));
}

void TestFrameRenderer::lensAloneIsLowerLine()
{
    EXIFData exif;
    exif.lensModel = QStringLiteral("LENS");
    const QImage result = framed(exif, {}, {}, QString());
    const QRect ink = barInk(result, 0, kW / 2);
    QVERIFY(!ink.isEmpty());
    QVERIFY(ink.top() > kBarMid);
    const qreal baseline = kBarMid + 0.6 * 33.6 + 0.2 * 24;
    QVERIFY(std::abs(ink.bottom() + 1 - baseline) <= 2);
    // Secondary style: gray, not the primary black.
    const QRect dark = colourBounds(result, ink, Qt::black, 40);
    QVERIFY(dark.isEmpty());
}

void TestFrameRenderer::rightBlockAlignedAtPadding()
{
    EXIFData exif;
    exif.focalLength = QStringLiteral("50mm");
    exif.aperture = QStringLiteral("f/1.8");
    const QImage result = framed(exif);
    const QRect ink = barInk(result, kW / 2, kW - 1);
    QVERIFY2(!ink.isEmpty(), "parameter line not drawn");
    QVERIFY(ink.right() + 1 <= kW - kPad + 1);
    QVERIFY(ink.right() + 1 >= kW - kPad - 0.15 * 33.6);
    // Single line, centred like the model.
    QVERIFY(std::abs(ink.bottom() + 1 - (kBarMid + 0.35 * 33.6)) <= 2);
}

void TestFrameRenderer::emptyRightMainTextHidesRightBlock()
{
    EXIFData exif;
    exif.focalLength = QStringLiteral("50mm");
    exif.author = QStringLiteral("Ada");
    QVERIFY(barInk(framed(exif, {}, {}, QString()), kW / 2, kW - 1).isEmpty());
    QVERIFY(!barInk(framed(exif, {}, {}, std::nullopt), kW / 2, kW - 1).isEmpty());
    QVERIFY(!barInk(framed(exif, {}, {}, QStringLiteral("Custom")), kW / 2, kW - 1).isEmpty());
}

void TestFrameRenderer::rightSecondaryTextPrecedence()
{
    EXIFData exif;
    exif.iso = QStringLiteral("ISO 100");
    exif.dateTaken = QStringLiteral("2024-05-01");
    exif.location = QStringLiteral("39.9042, 116.4074");
    const QImage dateWins = framed(exif);
    const QRect lower = changedBounds(
        dateWins, QRect(kW / 2, int(kBarMid) + 2, kW / 2, int(kBarH / 2) - 2), kBarWhite, 40);
    QVERIFY2(!lower.isEmpty(), "no secondary line");

    EXIFData dateOnly = exif;
    dateOnly.location.clear();
    QCOMPARE(framed(dateOnly), dateWins);

    EXIFData withAuthor = exif;
    withAuthor.author = QStringLiteral("张三"); // CJK author
    const QImage authorWins = framed(withAuthor);
    QVERIFY(authorWins != dateWins);
    EXIFData authorOnly = withAuthor;
    authorOnly.dateTaken.clear();
    authorOnly.location.clear();
    QCOMPARE(framed(authorOnly), authorWins);

    EXIFData noSecondary = exif;
    noSecondary.dateTaken.clear();
    noSecondary.location.clear();
    const QRect single = barInk(framed(noSecondary), kW / 2, kW - 1);
    QVERIFY(std::abs(single.bottom() + 1 - (kBarMid + 0.35 * 33.6)) <= 2);
}

void TestFrameRenderer::portraitBarShrinksBothBlocksApart()
{
    // A Canon PowerShot SX60 HS photo held upright: 1536 x 2048, bar 163.84 px
    // high from row 2048, padding 30.72 px.
    constexpr int w = 1536, h = 2048;
    constexpr qreal pad = 0.02 * w;
    EXIFData exif;
    exif.cameraMake = QStringLiteral("Canon");
    exif.cameraModel = QStringLiteral("Canon PowerShot SX60 HS");
    const QString parameters = QStringLiteral("57mm  f/5.6  1/60s  ISO 800");
    const QImage wordmark = logo(240, 60);
    const QImage both = framed(exif, {}, wordmark, parameters, w, h);
    const QImage leftAlone = framed(exif, {}, wordmark, QString(), w, h);
    const QImage rightAlone = framed(EXIFData(), {}, {}, parameters, w, h);
    QVERIFY(!both.isNull());
    const int top = h, bottom = both.height() - 1;

    // Left of the widest gap the model, right of it the parameter line; the
    // gap is at least one padding.
    const auto runs = darkRuns(both, top, bottom, 0);
    QVERIFY(runs.size() > 2);
    int gapAt = 1;
    for (int i = 2; i < runs.size(); ++i) {
        if (runs[i].first - runs[i - 1].second > runs[gapAt].first - runs[gapAt - 1].second)
            gapAt = i;
    }
    const int gap = runs[gapAt].first - runs[gapAt - 1].second - 1;
    QVERIFY2(gap >= pad - 1, qPrintable(QStringLiteral("gap %1 px").arg(gap)));
    const int leftWidth = runs[gapAt - 1].second - runs.first().first + 1;
    const int rightWidth = runs.last().second - runs[gapAt].first + 1;
    // Still right-aligned at the padding.
    QVERIFY(std::abs(runs.last().second + 1 - (w - pad)) <= 0.15 * 0.28 * 0.08 * h);

    // Both sides shrank, by one factor.
    const auto fullLeft = darkRuns(leftAlone, top, bottom, 0);
    const auto fullRight = darkRuns(rightAlone, top, bottom, 0);
    const qreal leftFactor =
        qreal(leftWidth) / (fullLeft.last().second - fullLeft.first().first + 1);
    const qreal rightFactor =
        qreal(rightWidth) / (fullRight.last().second - fullRight.first().first + 1);
    QVERIFY2(leftFactor < 0.97 && rightFactor < 0.97,
             qPrintable(QStringLiteral("%1 %2").arg(leftFactor).arg(rightFactor)));
    QVERIFY(std::abs(leftFactor - rightFactor) < 0.03);
    // The logo keeps its size: 0.5 of the bar high.
    QCOMPARE(colourBounds(both, QRect(0, top, w / 2, bottom - top + 1), kLogo, 12).height(),
             colourBounds(leftAlone, QRect(0, top, w / 2, bottom - top + 1), kLogo, 12).height());

    // The same texts on the landscape photo fit and are left as they are.
    const QImage landscape = framed(exif, {}, wordmark, parameters, h, w);
    const QImage landscapeRight = framed(EXIFData(), {}, {}, parameters, h, w);
    const auto wide = darkRuns(landscape, w, landscape.height() - 1, h / 2);
    const auto wideAlone = darkRuns(landscapeRight, w, landscapeRight.height() - 1, h / 2);
    QCOMPARE(wide, wideAlone);
}

void TestFrameRenderer::exportFontsCoverChinese()
{
    const TextLine line(QStringLiteral("Kelvane 摄影"), 40, Qt::black, TextLine::Weight::Medium);
    QTextLayout layout(line.text(), line.referenceFont());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    bool cjkCovered = false;
    for (const QGlyphRun &run : layout.glyphRuns()) {
        if (run.rawFont().supportsCharacter(QChar(0x6444)))
            cjkCovered = true;
        QVERIFY2(!run.glyphIndexes().contains(0), "missing glyph (tofu)");
    }
    QVERIFY(cjkCovered);
    // Latin text in Helvetica Neue where installed, else in Liberation Sans
    // (not in whatever fontconfig substitutes for the missing family).
    const QString expected = QFontDatabase::hasFamily(QStringLiteral("Helvetica Neue"))
                                 ? QStringLiteral("Helvetica Neue")
                                 : QStringLiteral("Liberation Sans");
    QCOMPARE(QFontInfo(line.referenceFont()).family(), expected);
    QVERIFY(line.width() > 0);
    // Proportional metrics: twice the size, twice the advance.
    const TextLine twice(line.text(), 80, Qt::black, TextLine::Weight::Medium);
    QCOMPARE(twice.width(), 2 * line.width());
}

QTEST_MAIN(TestFrameRenderer)
#include "tst_framerenderer.moc"
