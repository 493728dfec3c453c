#include "common/StarRatingView.h"

#include <QSignalSpy>
#include <QTest>

// The interactive star row of the viewer's status bar.
class TestStarRatingView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void clickingAStarAsksForItsRating_data();
    void clickingAStarAsksForItsRating();
    void displayOnlyIgnoresClicks();
    void keepsItsRatingUntilTheOwnerSetsIt();
    void sizeFollowsStarsAndSpacing();

private:
    static QPoint centreOf(const StarRatingView &view, int star)
    {
        const qreal pitch = view.starSize() + StarRatingView::starSpacing;
        return QPoint(int((star - 1) * pitch + view.starSize() / 2), view.height() / 2);
    }
};

void TestStarRatingView::clickingAStarAsksForItsRating_data()
{
    QTest::addColumn<int>("rating");
    QTest::addColumn<int>("star");
    QTest::addColumn<int>("asked");
    QTest::newRow("lit top star clears") << 3 << 3 << 0;
    QTest::newRow("higher star") << 3 << 5 << 5;
    QTest::newRow("lower star") << 3 << 1 << 1;
    QTest::newRow("first star from none") << 0 << 1 << 1;
    QTest::newRow("fifth star clears five") << 5 << 5 << 0;
}

void TestStarRatingView::clickingAStarAsksForItsRating()
{
    QFETCH(int, rating);
    QFETCH(int, star);
    QFETCH(int, asked);
    StarRatingView view(rating, 5, 12);
    view.setInteractive(true);
    view.resize(view.sizeHint());
    QSignalSpy spy(&view, &StarRatingView::rateRequested);
    QTest::mouseClick(&view, Qt::LeftButton, {}, centreOf(view, star));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toInt(), asked);
}

void TestStarRatingView::displayOnlyIgnoresClicks()
{
    StarRatingView view(2, 5, 12);
    view.resize(view.sizeHint());
    QSignalSpy spy(&view, &StarRatingView::rateRequested);
    QTest::mouseClick(&view, Qt::LeftButton, {}, centreOf(view, 4));
    QCOMPARE(spy.count(), 0);
}

void TestStarRatingView::keepsItsRatingUntilTheOwnerSetsIt()
{
    StarRatingView view(1, 5, 12);
    view.setInteractive(true);
    view.resize(view.sizeHint());
    QTest::mouseClick(&view, Qt::LeftButton, {}, centreOf(view, 4));
    QCOMPARE(view.rating(), 1);
    view.setRating(4);
    QCOMPARE(view.rating(), 4);
    // Every point of the row belongs to a star, the spacing included.
    QCOMPARE(view.starAt(QPointF(12.5, 5)), 1);
    QCOMPARE(view.starAt(QPointF(14.5, 5)), 2);
    QCOMPARE(view.starAt(QPointF(view.sizeHint().width() + 3, 5)), 0);
}

void TestStarRatingView::sizeFollowsStarsAndSpacing()
{
    const StarRatingView five(0, 5, 12);
    QCOMPARE(five.sizeHint().width(), 5 * 12 + 4 * 2);
    const StarRatingView one(0, 0, 20); // at least one star
    QCOMPARE(one.maxRating(), 1);
    QCOMPARE(one.sizeHint().width(), 20);
}

QTEST_MAIN(TestStarRatingView)
#include "tst_starratingview.moc"
