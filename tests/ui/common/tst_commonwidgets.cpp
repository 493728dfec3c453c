#include "ImagingFixtures.h"
#include "common/DesktopFileRevealer.h"
#include "common/FocusAreaOverlay.h"
#include "common/StarRatingView.h"
#include "common/ZoomableImageView.h"
#include "model/WorkQueues.h"

#include <QApplication>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

using namespace ImagingFixtures;

namespace {

// The desktop's two services, as a session with or without them answers.
struct StandInDesktop : DesktopFileRevealer::Desktop
{
    bool fileManagerAnswers = false, folderHandlerAnswers = false;
    QStringList *calls = nullptr;
    void showInFileManager(const QString &path, std::function<void(bool)> answered) override
    {
        calls->append(QStringLiteral("show ") + path);
        answered(fileManagerAnswers);
    }
    bool openFolder(const QString &folder) override
    {
        calls->append(QStringLiteral("open ") + folder);
        return folderHandlerAnswers;
    }
};

} // namespace

class TestCommonWidgets : public QObject
{
    Q_OBJECT

    WorkQueues m_queues;
    std::unique_ptr<ZoomableImageView> m_view;

    void sendWheel(QPoint pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers = {})
    {
        const QPointF at(600, 400);
        QWheelEvent event(at, m_view->mapToGlobal(at), pixelDelta, angleDelta, Qt::NoButton,
                          modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_view.get(), &event);
    }
    bool screenShows(QPoint at, QColor colour)
    {
        return colourNear(m_view->grab().toImage().pixel(at), colour, 10);
    }

private Q_SLOTS:
    void init()
    {
        m_view = std::make_unique<ZoomableImageView>(m_queues);
        m_view->resize(1200, 800);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void cleanup() { m_view.reset(); }

    void fitsLargeAndSmallImages_data()
    {
        QTest::addColumn<QSize>("pixels");
        QTest::addColumn<QSizeF>("fitted");
        QTest::newRow("6000x4000 shrinks") << QSize(6000, 4000) << QSizeF(1200, 800);
        QTest::newRow("300x200 enlarges") << QSize(300, 200) << QSizeF(1200, 800);
        QTest::newRow("portrait") << QSize(4000, 6000) << QSizeF(4000 * 800.0 / 6000, 800);
    }
    void fitsLargeAndSmallImages()
    {
        QFETCH(QSize, pixels);
        QFETCH(QSizeF, fitted);
        QImage image(pixels, QImage::Format_RGB32);
        image.fill(Qt::red);
        image.setDevicePixelRatio(2.0); // counted in pixels all the same
        m_view->setImage(image);
        QCOMPARE(m_view->imagePixelSize(), QSizeF(pixels));
        QCOMPARE(m_view->fittedSize(), fitted);
        // Centred on the smaller axis, black on both sides.
        const QRectF shown = m_view->imageRectInView();
        QCOMPARE(shown.center(), QPointF(600, 400));
        QVERIFY(screenShows(QPoint(600, 400), Qt::red));
        QCOMPARE(screenShows(QPoint(100, 400), Qt::black), fitted.width() < 1200);
    }

    void zoomInputs_data()
    {
        // Each input once at the centre: w wheel pixel delta (angle 8x),
        // n mouse notch (angle only), h horizontal wheel, d zoomByWheelDelta, p pinch.
        QTest::addColumn<QChar>("input");
        QTest::addColumn<qreal>("value");
        QTest::addColumn<qreal>("expected");
        const qreal least = ZoomableImageView::minimumMagnification;
        const qreal most = ZoomableImageView::maximumMagnification;
        QTest::newRow("wheel +5") << QChar(u'w') << 5.0 << 1.1;
        QTest::newRow("wheel +1") << QChar(u'w') << 1.0 << 1.02;
        QTest::newRow("notch") << QChar(u'n') << 120.0 << 1.1;
        QTest::newRow("horizontal does not zoom") << QChar(u'h') << 7.0 << 1.0;
        QTest::newRow("tiny delta") << QChar(u'd') << 0.005 << 1.0;
        QTest::newRow("past -50 stops at the minimum") << QChar(u'd') << -80.0 << least;
        QTest::newRow("pinch") << QChar(u'p') << 0.5 << 1.5;
        QTest::newRow("huge pinch") << QChar(u'p') << 100.0 << most;
    }
    void zoomInputs()
    {
        QFETCH(QChar, input);
        QFETCH(qreal, value);
        QFETCH(qreal, expected);
        m_view->setImage(quadrantPicture(600, 400));
        QSignalSpy changed(m_view.get(), &ZoomableImageView::magnificationChanged);
        const QPointF at(600, 400);
        const int delta = int(value);
        QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(),
                                  2, at, at, m_view->mapToGlobal(at), value, QPointF());
        if (input == u'w')
            sendWheel(QPoint(0, delta), QPoint(0, delta * 8));
        else if (input == u'n')
            sendWheel(QPoint(), QPoint(0, delta));
        else if (input == u'h')
            sendWheel(QPoint(delta, 0), QPoint(delta * 8, 0));
        else if (input == u'd')
            m_view->zoomByWheelDelta(value, at);
        else
            QApplication::sendEvent(m_view.get(), &pinch);
        QVERIFY2(qFuzzyCompare(m_view->magnification(), expected),
                 qPrintable(QString::number(m_view->magnification())));
        QCOMPARE(changed.isEmpty(), expected == 1.0);
        if (expected == 1.0)
            QCOMPARE(m_view->scrollOrigin(), QPointF(0, 0));
    }

    void wheelZoomsAboutThePointerOrScrollsAndADragPans()
    {
        m_view->setImage(quadrantPicture(6000, 4000)); // fitted at 0.2
        m_view->setMagnification(4.0, QPointF(0, 0));
        QCOMPARE(m_view->scrollOrigin(), QPointF(0, 0));
        sendWheel(QPoint(), QPoint(0, -120), Qt::ShiftModifier);
        QCOMPARE(m_view->magnification(), 4.0);
        QVERIFY(m_view->scrollOrigin().x() > 0);
        QCOMPARE(m_view->scrollOrigin().y(), 0.0);
        sendWheel(QPoint(0, -30), QPoint(0, -240), Qt::ControlModifier);
        QCOMPARE(m_view->magnification(), 4.0);
        QCOMPARE(m_view->scrollOrigin().y(), 30.0);
        // Zooming keeps the point of the picture under the pointer.
        const QPointF pointer(250, 180);
        const auto pictureFraction = [&] {
            const QRectF shown = m_view->imageRectInView();
            return QPointF((pointer.x() - shown.x()) / shown.width(),
                           (pointer.y() - shown.y()) / shown.height());
        };
        const QPointF before = pictureFraction();
        m_view->zoomByWheelDelta(10, pointer);
        const QPointF after = pictureFraction();
        QVERIFY(qAbs(before.x() - after.x()) < 1e-9 && qAbs(before.y() - after.y()) < 1e-9);

        // A drag pans, a double click animates back to the fitted size.
        m_view->setImage(quadrantPicture(6000, 4000));
        m_view->setMagnification(4.0, QPointF(600, 400));
        const QPointF start = m_view->scrollOrigin();
        const auto send = [this](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, m_view->mapToGlobal(at), Qt::LeftButton, buttons, {});
            QApplication::sendEvent(m_view.get(), &event);
        };
        send(QEvent::MouseButtonPress, QPointF(600, 400), Qt::LeftButton);
        QVERIFY(m_view->isDragging());
        send(QEvent::MouseMove, QPointF(500, 350), Qt::LeftButton);
        send(QEvent::MouseMove, QPointF(450, 340), Qt::LeftButton);
        // The picture follows the pointer: the view moves the other way.
        QCOMPARE(m_view->scrollOrigin(), start + QPointF(150, 60));
        send(QEvent::MouseButtonRelease, QPointF(450, 340), Qt::NoButton);
        QVERIFY(!m_view->isDragging());
        // Held inside the picture's edges.
        send(QEvent::MouseButtonPress, QPointF(10, 10), Qt::LeftButton);
        send(QEvent::MouseMove, QPointF(100000, 100000), Qt::LeftButton);
        QCOMPARE(m_view->scrollOrigin(), QPointF(0, 0));
        send(QEvent::MouseButtonRelease, QPointF(100000, 100000), Qt::NoButton);
        QTest::mouseDClick(m_view.get(), Qt::LeftButton, {}, QPoint(600, 400));
        QVERIFY(m_view->isAnimating() && m_view->magnification() > 1.0 && !m_view->isDragging());
        QTRY_COMPARE(m_view->magnification(), 1.0);
        QCOMPARE(m_view->imageRectInView(), QRectF(0, 0, 1200, 800));
    }

    void refitsOnResizeOnlyWhenFittedAndKeepsZoomForTheSameImage()
    {
        const QImage picture = quadrantPicture(6000, 4000);
        m_view->setImage(picture);
        m_view->resize(600, 600);
        QCOMPARE(m_view->fittedSize(), QSizeF(600, 400));
        m_view->setMagnification(2.0, QPointF(300, 300));
        m_view->resize(1000, 900);
        QCOMPARE(m_view->fittedSize(), QSizeF(600, 400));
        QCOMPARE(m_view->imageRectInView().size(), QSizeF(1200, 800));
        // Back at exactly 1.0 counts as fitted again.
        m_view->setMagnification(1.0, QPointF(0, 0));
        m_view->resize(1200, 800);
        QCOMPARE(m_view->fittedSize(), QSizeF(1200, 800));
        // The same picture again keeps the zoom, a new one is fitted.
        m_view->setMagnification(2.5, QPointF(100, 100));
        m_view->scrollBy(QPointF(40, 30));
        const QPointF origin = m_view->scrollOrigin();
        m_view->setImage(QImage(picture)); // a shared copy: the same cache key
        QCOMPARE(m_view->magnification(), 2.5);
        QCOMPARE(m_view->scrollOrigin(), origin);
        m_view->setImage(quadrantPicture(6000, 4000));
        QCOMPARE(m_view->magnification(), 1.0);
        QCOMPARE(m_view->imageRectInView(), QRectF(0, 0, 1200, 800));
    }

    // Z: one picture pixel per device pixel, at the pointer when it is over
    // the picture, else with the given point in the middle; then fitted again.
    void actualPixelsToggleKeepsThePointOrCentresTheGivenOne_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPointF>("anchor"); // where the picture's point stays or goes
        QTest::addColumn<QPointF>("pointOfPicture");
        QTest::newRow("over the picture")
            << QPoint(300, 500) << QPointF(300, 500) << QPointF(0.2, 0.625);
        QTest::newRow("outside the view")
            << QPoint(-40, 300) << QPointF(600, 400) << QPointF(0.6, 0.4);
        QTest::newRow("on the black beside it")
            << QPoint(1150, 400) << QPointF(600, 400) << QPointF(0.6, 0.4);
    }
    void actualPixelsToggleKeepsThePointOrCentresTheGivenOne()
    {
        QFETCH(QPoint, pointer);
        QFETCH(QPointF, anchor);
        QFETCH(QPointF, pointOfPicture);
        // 4000 x 3200 fits at 1000 x 800: black bands of 100 at the sides.
        m_view->setImage(quadrantPicture(4000, 3200));
        QTest::mouseMove(m_view.get(), pointer);
        m_view->toggleActualPixels(QPointF(0.6, 0.4));
        const qreal ratio = m_view->devicePixelRatioF();
        QCOMPARE(m_view->imageRectInView().width() * ratio, 4000.0);
        QCOMPARE(m_view->imageRectInView().height() * ratio, 3200.0);
        const QPointF shown = m_view->relativePointAt(anchor);
        QVERIFY2(std::abs(shown.x() - pointOfPicture.x()) < 1e-3 &&
                     std::abs(shown.y() - pointOfPicture.y()) < 1e-3,
                 qPrintable(QStringLiteral("%1, %2").arg(shown.x()).arg(shown.y())));
        // Any zoom counts as zoomed: Z fits at once.
        m_view->zoomByWheelDelta(5, anchor);
        m_view->toggleActualPixels();
        QVERIFY(m_view->isFitted() && !m_view->isAnimating());
        QCOMPARE(m_view->imageRectInView(), QRectF(100, 0, 1000, 800));
    }

    // Outlines over the picture where its fractions lie, following zoom and pan.
    void focusAreasAreDrawnWhereThePictureIs()
    {
        m_view->setImage(filled(QSize(1200, 800), QColor(60, 60, 60)));
        FocusAreaOverlay overlay(*m_view);
        overlay.setFocusPoints(
            {{{QRectF(0.5, 0.5, 0.1, 0.1), true}, {QRectF(0.45, 0.45, 0.02, 0.02), false}}});
        overlay.show();
        // At 2x the picture's middle is at the view's: fraction f lies at 600 + (f - 0.5) x 2400.
        m_view->showRelativePoint(2.0, QPointF(0.5, 0.5), QPointF(600, 400));
        const auto near = [this](QPoint at, QColor colour) {
            return colourNear(m_view->grab().toImage().pixel(at), colour, 30);
        };
        const QColor inFocus = FocusAreaOverlay::inFocusColour();
        QVERIFY(near(QPoint(600, 500), inFocus) && near(QPoint(839, 500), inFocus));
        QVERIFY(near(QPoint(700, 500), QColor(60, 60, 60))); // inside: the picture
        const QColor dimLine = m_view->grab().toImage().pixel(QPoint(480, 336));
        QVERIFY2(dimLine.green() > 140 && dimLine.green() < 230 && dimLine.red() == dimLine.green(),
                 qPrintable(dimLine.name()));
        m_view->scrollBy(QPointF(100, 60));
        QVERIFY(near(QPoint(500, 440), inFocus) && !near(QPoint(600, 500), inFocus));
        QCOMPARE(overlay.areasInView().first(), QRectF(500, 340, 240, 160));
        // A file that marks no area in focus gives where the camera focused.
        overlay.setFocusPoints({{{QRectF(0.5, 0.5, 0.1, 0.1), false}}});
        QVERIFY(near(QPoint(500, 440), inFocus));
    }

    void paintsThePictureAndBuildsRenditionsAndAStandInGivesWay()
    {
        m_view->setImage(quadrantPicture(6000, 4000));
        QTRY_VERIFY(m_view->hasExactRendition());
        QVERIFY(hasUprightQuadrants(m_view->grab().toImage(), 10));
        // Letterboxed: the rendition lies where the fitted picture is, on black.
        m_view->setImage(quadrantPicture(6000, 2000));
        QTRY_VERIFY(m_view->hasExactRendition());
        QVERIFY(screenShows(QPoint(300, 250), Qt::red) &&
                screenShows(QPoint(900, 550), Qt::white) &&
                screenShows(QPoint(600, 100), Qt::black));
        m_view->setImage(quadrantPicture(6000, 4000));
        QTRY_VERIFY(m_view->hasExactRendition());
        // Zoomed to 2x at the centre: a new rendition of the visible part follows.
        m_view->setMagnification(2.0, QPointF(600, 400));
        QVERIFY(!m_view->hasExactRendition());
        QTRY_VERIFY(m_view->hasExactRendition());
        QVERIFY(screenShows(QPoint(300, 200), Qt::red) && screenShows(QPoint(900, 600), Qt::white));
        // Zoomed in past the pixel size no rendition is needed.
        m_view->setMagnification(10.0, QPointF(600, 400));
        QVERIFY(m_view->hasExactRendition());
        // 21.6 pixels wide when fitted: the rounded rendition counts as exact.
        QImage narrow(1080, 40000, QImage::Format_RGB32);
        narrow.fill(Qt::gray);
        m_view->setImage(narrow);
        QCOMPARE(m_view->fittedSize().width(), 21.6);
        QTRY_VERIFY(m_view->hasExactRendition());
        // A quarter-size stand-in of a new picture gives way to it in place.
        m_view->setStandIn(quadrantPicture(1500, 1000), QSize(6000, 4000));
        QCOMPARE(m_view->imagePixelSize(), QSizeF(6000, 4000));
        QVERIFY(hasUprightQuadrants(m_view->grab().toImage(), 10));
        // Zoomed and panned before the full picture arrives: the quadrants meet
        // at document (1200, 800), which is widget (860, 570) from origin (340, 230).
        m_view->setMagnification(2.0, QPointF(300, 200));
        m_view->scrollBy(QPointF(40, 30));
        QCOMPARE(m_view->scrollOrigin(), QPointF(340, 230));
        const auto showsQuadrantCorner = [this] {
            return screenShows(QPoint(850, 560), Qt::red) &&
                   screenShows(QPoint(870, 580), Qt::white);
        };
        QVERIFY(showsQuadrantCorner());
        QSignalSpy zoomed(m_view.get(), &ZoomableImageView::magnificationChanged);
        m_view->setImage(quadrantPicture(6000, 4000));
        QVERIFY(!m_view->showsStandIn());
        QCOMPARE(m_view->magnification(), 2.0);
        QCOMPARE(m_view->scrollOrigin(), QPointF(340, 230));
        QCOMPARE(zoomed.count(), 0);
        QTRY_VERIFY(m_view->hasExactRendition());
        QVERIFY(showsQuadrantCorner());
        // A picture of another size is a new picture, fitted afresh.
        m_view->setStandIn(quadrantPicture(1000, 1000), QSize(4000, 4000));
        m_view->setImage(quadrantPicture(3000, 2000));
        QCOMPARE(m_view->magnification(), 1.0);
        QCOMPARE(m_view->imagePixelSize(), QSizeF(3000, 2000));
    }

    void clickingAStarAsksForItsRating()
    {
        const struct
        {
            bool interactive;
            int rating, star;
            QVariantList asked;
        } cases[] = {{true, 3, 5, {5}}, {true, 0, 1, {1}}, {true, 5, 5, {0}}, {false, 2, 4, {}}};
        for (const auto &[interactive, rating, star, asked] : cases) {
            StarRatingView view(rating, 5, 12);
            view.setInteractive(interactive);
            view.resize(view.sizeHint());
            QSignalSpy spy(&view, &StarRatingView::rateRequested);
            const qreal pitch = view.starSize() + StarRatingView::starSpacing;
            const QPoint centre(int((star - 1) * pitch + view.starSize() / 2), view.height() / 2);
            QTest::mouseClick(&view, Qt::LeftButton, {}, centre);
            QCOMPARE(spy.count(), asked.size());
            if (!asked.isEmpty())
                QCOMPARE(spy.first(), asked);
            QCOMPARE(view.rating(), rating); // the owner sets it
        }
        // Every point of the row belongs to a star, the spacing included.
        StarRatingView view(1, 5, 12);
        QCOMPARE(view.starAt(QPointF(14.5, 5)), 2);
        QCOMPARE(view.starAt(QPointF(view.sizeHint().width() + 3, 5)), 0);
        QCOMPARE(StarRatingView(0, 0, 20).maxRating(), 1); // at least one star
    }

    // Shows the file, else opens its folder, else tells the user.
    void fallsBackToTheFolderThenTellsTheUser()
    {
        const QString show = QStringLiteral("show /photos/day 1/IMG_0001.JPG");
        const QString open = QStringLiteral("open /photos/day 1");
        const struct
        {
            bool fileManager, folderHandler;
            QStringList calls;
            QString told;
        } cases[] = {{true, true, {show}, {}},
                     {false, true, {show, open}, {}},
                     {false, false, {show, open}, QStringLiteral("无法打开文件所在的文件夹")}};
        for (const auto &[fileManager, folderHandler, calls, told] : cases) {
            QStringList made;
            QString toast;
            auto desktop = std::make_unique<StandInDesktop>();
            desktop->fileManagerAnswers = fileManager;
            desktop->folderHandlerAnswers = folderHandler;
            desktop->calls = &made;
            DesktopFileRevealer revealer([&](const QString &text) { toast = text; },
                                         std::move(desktop));
            revealer.reveal(QStringLiteral("/photos/day 1/IMG_0001.JPG"));
            QCOMPARE(made, calls);
            QCOMPARE(toast, told);
        }
    }
};

QTEST_MAIN(TestCommonWidgets)
#include "tst_commonwidgets.moc"
