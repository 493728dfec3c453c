// The compare screen's panes: zoom in step, a step keeping the view, the
// active pane, Z. The session's rules are tst_appstate's, the window's
// wiring tst_mainwindow's.
#include "BrowseFixtures.h"
#include "ImagingFixtures.h"
#include "common/StarRatingView.h"
#include "compare/ComparePane.h"
#include "compare/CompareView.h"
#include "compare/CompareZoomView.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "state/CompareSession.h"

#include <QApplication>
#include <QNativeGestureEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

using namespace ImagingFixtures;

class TestCompareView : public QObject
{
    Q_OBJECT

    WorkQueues m_queues;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<CompareView> m_view;

    // Landscape or portrait JPEGs, in the list in this order.
    void showPhotos(const QList<QSize> &sizes)
    {
        QList<ImageItem> items;
        for (const QSize size : sizes) {
            const QString name = QStringLiteral("IMG_%1.jpg").arg(items.size());
            items << ImageItem(
                writeJpeg(m_dir->filePath(name), quadrantPicture(size.width(), size.height())));
        }
        m_state->setImages(items);
    }
    void compare(const QList<int> &indexes)
    {
        for (const int index : indexes)
            m_state->toggleSelection(m_state->images()[index].id());
        QVERIFY(m_state->compare().openSelection());
        QTRY_VERIFY(std::ranges::all_of(m_view->panes(), [](ComparePane *pane) {
            return pane->showsPicture() && !pane->picture().isLoading();
        }));
    }
    CompareZoomView *zoom(int pane) const { return m_view->panes()[pane]->zoomView(); }
    static bool near(QPointF a, QPointF b) { return (a - b).manhattanLength() < 0.003; }
    static void wheel(QWidget *target, QPointF at, int notches, Qt::KeyboardModifiers modifiers)
    {
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_state = BrowseFixtures::makeState(m_queues, m_dir->path());
        m_view = std::make_unique<CompareView>(*m_state, m_queues);
        m_view->resize(1200, 600);
        m_view->show();
    }
    void cleanup() { m_view.reset(), m_state.reset(), m_dir.reset(); }

    void zoomAndPanMoveInStepUnlessShiftIsHeld_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("in step") << Qt::KeyboardModifiers(Qt::NoModifier);
        QTest::newRow("shift: this pane") << Qt::KeyboardModifiers(Qt::ShiftModifier);
    }
    void zoomAndPanMoveInStepUnlessShiftIsHeld()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        showPhotos({{600, 400}, {400, 600}});
        compare({0, 1});
        QCOMPARE(QStringList({m_view->panes()[0]->roleText(), m_view->panes()[1]->roleText()}),
                 QStringList({"选定", "候选"}));
        const QPointF at(200, 150);
        wheel(zoom(0), at, 10, modifiers); // magnification 2
        QCOMPARE(zoom(0)->magnification(), 2.0);
        const bool inStep = modifiers == Qt::NoModifier;
        QCOMPARE(zoom(1)->magnification(), inStep ? 2.0 : 1.0);
        QCOMPARE(near(zoom(1)->relativePointAt(at), zoom(0)->relativePointAt(at)), inStep);
        const QPointF before = zoom(0)->relativePointAt(at);
        const QPoint to = (at + QPointF(-60, -40)).toPoint();
        const QPointF otherBefore = zoom(1)->relativePointAt(to);
        QTest::mousePress(zoom(0), Qt::LeftButton, modifiers, at.toPoint());
        QTest::mouseMove(zoom(0), to);
        QTest::mouseRelease(zoom(0), Qt::LeftButton, modifiers, to);
        QVERIFY(!near(zoom(0)->relativePointAt(at), before));
        QVERIFY(near(zoom(1)->relativePointAt(to),
                     inStep ? zoom(0)->relativePointAt(to) : otherBefore));
        // A double click fits them all.
        QTest::mouseDClick(zoom(1), Qt::LeftButton, Qt::NoModifier, at.toPoint());
        QTRY_VERIFY(zoom(0)->magnification() == 1.0 && zoom(1)->magnification() == 1.0);
        // A pinch goes in step as well.
        QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(),
                                  2, at, at, zoom(0)->mapToGlobal(at), 0.5, QPointF());
        QApplication::sendEvent(zoom(0), &pinch);
        QCOMPARE(zoom(1)->magnification(), 1.5);
    }
    void aStepKeepsTheZoomAndTheClickedPaneIsRated()
    {
        showPhotos({{600, 400}, {600, 400}, {600, 400}, {600, 400}, {600, 400}});
        QVERIFY(writeBytes(m_state->images()[4].path(), "\xFF\xD8\xFF\xE0 not a picture"));
        compare({0, 1});
        const QPointF centre = QRectF(zoom(1)->rect()).center();
        wheel(zoom(1), QPointF(100, 80), 20, Qt::ShiftModifier);
        const qreal magnification = zoom(1)->magnification();
        const QPointF looked = zoom(1)->relativePointAt(centre);
        ComparePane *candidate = m_view->panes()[1];
        // The second step is prefetched; the broken photo shows nothing of the
        // one before it, and the view waits for the next picture.
        for (const auto &[direction, name] :
             {std::pair{1, "IMG_2.jpg"}, {1, "IMG_3.jpg"}, {1, "IMG_4.jpg"}, {-1, "IMG_3.jpg"}}) {
            m_state->compare().step(direction);
            QCOMPARE(candidate->filenameText(), QString::fromLatin1(name));
            QTRY_VERIFY(!candidate->picture().isLoading());
            const bool broken = qstrcmp(name, "IMG_4.jpg") == 0;
            QCOMPARE(candidate->showsPicture(), !broken);
            if (broken)
                continue;
            QCOMPARE(zoom(1)->magnification(), magnification);
            QVERIFY(near(zoom(1)->relativePointAt(centre), looked));
        }
        QCOMPARE(zoom(0)->magnification(), 1.0);

        QTest::mouseClick(zoom(1), Qt::LeftButton);
        QCOMPARE(m_state->compare().activePane(), 1);
        QVERIFY(candidate->isActive() && !m_view->panes()[0]->isActive());
        QVERIFY(CompareSession::handleKey(*m_state, Qt::Key_4, "4"));
        QCOMPARE(candidate->stars()->rating(), 4);
        QVERIFY(CompareSession::handleKey(*m_state, Qt::Key_P, "p"));
        QVERIFY(CompareSession::handleKey(*m_state, Qt::Key_9, "9"));
        QCOMPARE(candidate->shownMark(), (CullingMark{CullingFlag::pick, ColourLabel::blue}));
        QVERIFY(m_view->panes()[0]->shownMark().isEmpty());
        StarRatingView *stars = m_view->panes()[0]->stars();
        QTest::mouseClick(stars, Qt::LeftButton, {}, stars->rect().center()); // the third star
        QCOMPARE(m_state->rating(m_state->images()[0]), 3);
        QCOMPARE(m_state->compare().activePane(), 0);
    }
    void zTogglesEveryPaneBetweenFittedAndActualPixels()
    {
        showPhotos({{3000, 2000}, {2000, 3000}, {3000, 2000}});
        compare({0, 1, 2});
        QCOMPARE(m_view->panes()[0]->roleText(), QString());
        QVERIFY(zoom(2)->mapTo(m_view.get(), QPoint()).y() > zoom(0)->height()); // 2 x 2
        const auto pressZ = [this] {
            m_view->toggleActualPixels();
            return true;
        };
        const auto atActualPixels = [this](int pane) {
            return qFuzzyCompare(zoom(pane)->magnification(),
                                 zoom(pane)->actualPixelsMagnification());
        };
        // No pointer, no focus point known: the centre of each photo.
        QVERIFY(pressZ());
        for (int pane = 0; pane < 3; ++pane) {
            QVERIFY(atActualPixels(pane));
            QVERIFY(
                near(zoom(pane)->relativePointAt(QRectF(zoom(pane)->rect()).center()), {0.5, 0.5}));
        }
        QVERIFY(pressZ());
        QTRY_VERIFY(zoom(0)->magnification() == 1.0 && zoom(1)->magnification() == 1.0);
        // The point under the pointer stays there, in every pane.
        const QPoint at(150, 100);
        QTest::mouseMove(zoom(0), at);
        const QPointF pointed = zoom(0)->relativePointAt(at);
        QVERIFY(pressZ());
        for (int pane = 0; pane < 3; ++pane)
            QVERIFY(atActualPixels(pane) && near(zoom(pane)->relativePointAt(at), pointed));
    }
};

QTEST_MAIN(TestCompareView)
#include "tst_compareview.moc"
