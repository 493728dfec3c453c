#include "PixelProbe.h"
#include "export/FrameRenderer.h"
#include "export/TextLine.h"

#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QTest>
#include <QTextLayout>

using namespace PixelProbe;

namespace {

const QColor kPhoto(30, 60, 200);
const QColor kLogo(230, 20, 20);

// 1500 x 1000 photo: bar 120 px high (rows 1000..1119 without border), padding
// 30 px, primary text 33.6 px, secondary 24 px.
constexpr int kW = 1500, kH = 1000;
constexpr qreal kBarH = 120, kPad = 30, kP = 33.6, kS = 24, kBarTop = kH;
constexpr qreal kBarMid = kBarTop + kBarH / 2;

QImage framed(const EXIFData &exif, const FrameStyle &style = {}, const QImage &logo = {},
              const std::optional<QString> &right = std::nullopt, int w = kW, int h = kH)
{
    const auto result =
        FrameRenderer::composeFramedImage(plainImage(w, h, kPhoto), exif, style, logo, right);
    return result.value_or(QImage());
}

QRect barInk(const QImage &image, int fromX, int toX, int top = int(kBarTop), int rows = kBarH)
{
    return changedBounds(image, QRect(QPoint(fromX, top), QPoint(toX, top + rows - 1)), Qt::white,
                         40);
}

// The light-gray vertical line: columns gray over the bar's whole middle half.
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

// Runs of columns with black ink in rows [top, bottom] (not the logo or separator).
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

private Q_SLOTS:
    // Photo, border, canvas. The bar comes from the longer side, the border from
    // the width; a fractional border (b = 0.6: 601.2 x 449.8) is truncated.
    void canvasAndBands()
    {
        const std::tuple<QSize, bool, QSize> rows[] = {{{6000, 4000}, false, {6000, 4480}},
                                                       {{1000, 1500}, true, {1002, 1623}},
                                                       {{600, 400}, true, {601, 449}}};
        for (const auto &[photo, border, canvas] : rows) {
            FrameStyle style;
            style.borderEnabled = border;
            QCOMPARE(framed({}, style, {}, std::nullopt, photo.width(), photo.height()).size(),
                     canvas);
        }
        // W = 600, borderWidth 10 -> b = 6: canvas 612 x (48 + 400 + 18).
        FrameStyle style;
        style.borderEnabled = true;
        style.borderWidth = 10;
        const QImage result = framed({}, style, {}, QString(), 600, 400);
        QCOMPARE(result.size(), QSize(612, 466));
        QCOMPARE(colourBounds(result, result.rect(), kPhoto, 2), QRect(6, 6, 600, 400));
        // Light gray around the photo (the last point between photo and bar), but
        // not beside and below the bar, nor the empty bar.
        for (const QPoint at : {QPoint(3, 200), QPoint(609, 200), QPoint(300, 2), QPoint(300, 409),
                                QPoint(3, 430), QPoint(300, 463), QPoint(300, 440)})
            QVERIFY2(near(result.pixel(at),
                          (at.y() > 409 ? Qt::white : QColor(230, 230, 230)).rgb(),
                          at.y() > 409 ? 0 : 3),
                     qPrintable(QString::number(at.y())));
    }

    // Where the border or the bar is not whole pixels, the photo sits where
    // QPainter's own drawing of it at that place puts it (not a row or column off).
    void photoAtAFractionalPlace_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<double>("borderWidth");                    // 0: no border
        QTest::newRow("bar 24.16 px") << QSize(302, 200) << 0.0;    // photo at y -0.16
        QTest::newRow("bar 84.56 px") << QSize(1057, 800) << 0.0;   // y -0.56
        QTest::newRow("border 1.25 px") << QSize(1250, 800) << 1.0; // (1.25, 0.5)
        QTest::newRow("border 2.5 px") << QSize(1000, 700) << 2.5;  // (2.5, 2)
    }

    void photoAtAFractionalPlace()
    {
        QFETCH(QSize, size);
        QFETCH(double, borderWidth);
        QImage photo(size, QImage::Format_RGB32); // every row and column its own
        for (int y = 0; y < photo.height(); ++y) {
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y, qRgb(x & 255, y & 255, (x * 7 + y * 3) & 255));
        }
        FrameStyle style;
        style.borderEnabled = borderWidth > 0;
        style.borderWidth = borderWidth;
        const QImage result = FrameRenderer::composeFramedImage(photo, {}, style).value();

        const qreal b = style.borderEnabled ? size.width() / 1000.0 * borderWidth : 0;
        const qreal barH = style.barHeight * std::max(size.width(), size.height());
        const QRectF place(b, result.height() - barH - 2 * b - size.height(), size.width(),
                           size.height());
        QImage expected(result.size(), result.format());
        expected.fill(Qt::white);
        QPainter painter(&expected);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        painter.drawImage(place.topLeft(), photo);
        painter.end();
        // Inside the border's stroke.
        const QRect inner = place.toAlignedRect().adjusted(3, 3, -3, -3);
        QCOMPARE(result.copy(inner), expected.copy(inner));
    }

    // Brand (logo or make) at the padding, then a separator from 20 % to 80 % of
    // the bar 0.8 padding after it, then the model 0.8 padding further on.
    void leftBlockStartsWithTheBrand()
    {
        // Make and logo scale (0: no logo).
        const std::pair<QString, double> rows[] = {
            {"NIKON", 0.5}, {"NIKON", 1.5}, {"NIKON", 0.0}, {"", 0.0}};
        for (const auto &[make, logoScale] : rows) {
            EXIFData exif;
            exif.cameraMake = make;
            exif.cameraModel = QStringLiteral("Z8");
            FrameStyle style;
            style.logoScale = logoScale;
            const QImage result = framed(
                exif, style, logoScale > 0 ? plainImage(200, 100, kLogo) : QImage(), QString());
            const QRect left = barInk(result, 0, kW / 2);
            QVERIFY2(left.left() >= kPad - 1 && left.left() <= kPad + 0.15 * kP,
                     qPrintable(make + QString::number(logoScale)));
            if (logoScale > 0) { // half the bar high at scale 1, centred
                const qreal lh = 0.5 * kBarH * logoScale;
                const QRect red = colourBounds(result, result.rect(), kLogo, 10);
                QVERIFY(std::abs(red.left() - kPad) <= 1);
                QVERIFY(std::abs(red.width() - 2 * lh) <= 1 && std::abs(red.height() - lh) <= 1);
                QVERIFY(std::abs((red.top() + red.height() / 2.0) - kBarMid) <= 1);
            }
            const QRect separator = separatorBounds(result);
            QCOMPARE(!separator.isEmpty(), !make.isEmpty());
            if (separator.isEmpty())
                continue;
            QVERIFY(separator.width() <= 4);
            QVERIFY(std::abs(separator.top() - (kBarTop + 0.2 * kBarH)) <= 1);
            QVERIFY(std::abs(separator.bottom() + 1 - (kBarTop + 0.8 * kBarH)) <= 1);
            const qreal sx = separator.center().x();
            const QRect brand = barInk(result, 0, separator.left() - 2);
            const qreal brandGap = sx - (brand.right() + 1);
            QVERIFY2(brandGap >= 0.8 * kPad - 2 && brandGap <= 0.8 * kPad + 0.15 * kP,
                     qPrintable(QString::number(brandGap)));
            const QRect model = barInk(result, separator.right() + 2, kW / 2);
            QVERIFY(model.left() >= sx + 0.8 * kPad - 1 &&
                    model.left() <= sx + 0.8 * kPad + 0.15 * kP);
        }
    }

    // Line 0 is the whole bar, 1 its upper, 2 its lower half; gray for the
    // secondary line. Capitals end on the baseline; one anti-aliased row: 2 px.
    void textBaselines()
    {
        const qreal single = kBarMid + 0.35 * kP, upper = kBarMid - 0.1 * kS,
                    lower = kBarMid + 0.6 * kP + 0.2 * kS;
        const QStringList parametersAndDate{"", "", "ISO 100", "2024-05-01"};
        const std::tuple<QStringList, bool, int, qreal, bool> rows[] = {
            {{"ZEH", "", "", ""}, false, 0, single, false},
            {{"ZEH", "LENS", "", ""}, false, 1, upper, false},
            {{"", "LENS", "", ""}, false, 0, lower, true},
            {{"", "", "ISO 100", ""}, true, 0, single, false},
            {parametersAndDate, true, 1, upper, false},
            {parametersAndDate, true, 2, lower, true}};
        for (const auto &[texts, right, line, baseline, gray] : rows) {
            EXIFData exif;
            std::tie(exif.cameraModel, exif.lensModel, exif.iso, exif.dateTaken) =
                std::tie(texts[0], texts[1], texts[2], texts[3]);
            const QImage result = framed(exif);
            const int top = int(line == 2 ? kBarMid + 2 : kBarTop);
            const int height = int(line == 0 ? kBarH : kBarH / 2 - (line == 2 ? 2 : 0));
            const QRect ink =
                barInk(result, right ? kW / 2 : 0, right ? kW - 1 : kW / 2, top, height);
            QVERIFY2(!ink.isEmpty() && std::abs(ink.bottom() + 1 - baseline) <= 2,
                     qPrintable(texts.join('|') + QString::number(line)));
            QCOMPARE(colourBounds(result, ink, Qt::black, 40).isEmpty(), gray);
            if (right) // right-aligned at the padding
                QVERIFY(std::abs(ink.right() + 1 - (kW - kPad - 0.075 * kP)) <= 0.075 * kP + 1);
        }
    }

    // An empty right main text hides the right block; line 2: author, date, place.
    void rightBlockTexts()
    {
        EXIFData exif;
        exif.iso = QStringLiteral("ISO 100");
        exif.author = QStringLiteral("Ada");
        QVERIFY(barInk(framed(exif, {}, {}, QString()), kW / 2, kW - 1).isEmpty());
        QVERIFY(!barInk(framed(exif, {}, {}, QStringLiteral("Custom")), kW / 2, kW - 1).isEmpty());
        exif.author.clear();
        exif.dateTaken = QStringLiteral("2024-05-01");
        exif.location = QStringLiteral("39.9042, 116.4074");
        const QImage dateWins = framed(exif);
        EXIFData dateOnly = exif;
        dateOnly.location.clear();
        QCOMPARE(framed(dateOnly), dateWins);
        exif.author = QStringLiteral("张三"); // CJK author
        const QImage authorWins = framed(exif);
        QVERIFY(authorWins != dateWins);
        exif.dateTaken.clear();
        exif.location.clear();
        QCOMPARE(framed(exif), authorWins);
        exif.author.clear();
        exif.location = QStringLiteral("39.9042, 116.4074");
        QVERIFY(framed(exif) != framed(dateOnly) && framed(exif) != authorWins);
    }

    void portraitBarShrinksBothBlocksApart()
    {
        // A Canon PowerShot SX60 HS photo held upright: 1536 x 2048, bar 163.84 px
        // high from row 2048, padding 30.72 px.
        constexpr int w = 1536, h = 2048;
        constexpr qreal pad = 0.02 * w;
        EXIFData exif;
        exif.cameraMake = QStringLiteral("Canon");
        exif.cameraModel = QStringLiteral("Canon PowerShot SX60 HS");
        const QString parameters = QStringLiteral("57mm  f/5.6  1/60s  ISO 800");
        const QImage wordmark = plainImage(240, 60, kLogo);
        const QImage both = framed(exif, {}, wordmark, parameters, w, h);
        const QImage leftAlone = framed(exif, {}, wordmark, QString(), w, h);
        const int top = h, bottom = both.height() - 1;
        // The widest gap, between model and parameter line, is at least one padding.
        const auto runs = darkRuns(both, top, bottom, 0);
        QVERIFY(runs.size() > 2);
        int gapAt = 1;
        for (int i = 2; i < runs.size(); ++i) {
            if (runs[i].first - runs[i - 1].second > runs[gapAt].first - runs[gapAt - 1].second)
                gapAt = i;
        }
        const int gap = runs[gapAt].first - runs[gapAt - 1].second - 1;
        QVERIFY2(gap >= pad - 1, qPrintable(QStringLiteral("gap %1 px").arg(gap)));
        // Still right-aligned at the padding.
        QVERIFY(std::abs(runs.last().second + 1 - (w - pad)) <= 0.15 * 0.28 * 0.08 * h);

        // Both sides shrank, by one factor.
        const auto width = [](const QList<QPair<int, int>> &r) {
            return r.last().second - r.first().first + 1;
        };
        const qreal leftFactor =
            qreal(width(runs.mid(0, gapAt))) / width(darkRuns(leftAlone, top, bottom, 0));
        const qreal rightFactor =
            qreal(width(runs.mid(gapAt))) /
            width(darkRuns(framed({}, {}, {}, parameters, w, h), top, bottom, 0));
        QVERIFY2(leftFactor < 0.97 && rightFactor < 0.97,
                 qPrintable(QStringLiteral("%1 %2").arg(leftFactor).arg(rightFactor)));
        QVERIFY(std::abs(leftFactor - rightFactor) < 0.03);
        // The logo keeps its size: 0.5 of the bar high.
        const QRect leftHalf(0, top, w / 2, bottom - top + 1);
        QCOMPARE(colourBounds(both, leftHalf, kLogo, 12).height(),
                 colourBounds(leftAlone, leftHalf, kLogo, 12).height());
        // The same texts on the landscape photo fit and are left as they are.
        const QImage landscape = framed(exif, {}, wordmark, parameters, h, w);
        const QImage landscapeRight = framed({}, {}, {}, parameters, h, w);
        QCOMPARE(darkRuns(landscape, w, landscape.height() - 1, h / 2),
                 darkRuns(landscapeRight, w, landscapeRight.height() - 1, h / 2));
    }

    void exportFontsCoverChinese()
    {
        const TextLine line(QStringLiteral("Kelvane 摄影"), 40, Qt::black,
                            TextLine::Weight::Medium);
        QTextLayout layout(line.text(), line.referenceFont());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        bool cjkCovered = false;
        for (const QGlyphRun &run : layout.glyphRuns()) {
            cjkCovered = cjkCovered || run.rawFont().supportsCharacter(QChar(0x6444));
            QVERIFY2(!run.glyphIndexes().contains(0), "missing glyph (tofu)");
        }
        QVERIFY(cjkCovered);
    }
};

QTEST_MAIN(TestFrameRenderer)
#include "tst_framerenderer.moc"
