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
    void keepsItsRatingUntilTheOwnerSetsIt();

private:
    static QPoint centreOf(const StarRatingView &view, int star)
    {
        const qreal pitch = view.starSize() + StarRatingView::starSpacing;
        return QPoint(int((star - 1) * pitch + view.starSize() / 2), view.height() / 2);
    }
};

void TestStarRatingView::clickingAStarAsksForItsRating_data()
{
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<int>("rating");
    QTest::addColumn<int>("star");
    QTest::addColumn<int>("asked"); // -1: nothing asked
    QTest::newRow("lit top star clears") << true << 3 << 3 << 0;
    QTest::newRow("higher star") << true << 3 << 5 << 5;
    QTest::newRow("lower star") << true << 3 << 1 << 1;
    QTest::newRow("first star from none") << true << 0 << 1 << 1;
    QTest::newRow("fifth star clears five") << true << 5 << 5 << 0;
    QTest::newRow("display only") << false << 2 << 4 << -1;
}

void TestStarRatingView::clickingAStarAsksForItsRating()
{
    QFETCH(bool, interactive);
    QFETCH(int, rating);
    QFETCH(int, star);
    QFETCH(int, asked);
    StarRatingView view(rating, 5, 12);
    view.setInteractive(interactive);
    view.resize(view.sizeHint());
    QCOMPARE(view.sizeHint().width(), 5 * 12 + 4 * StarRatingView::starSpacing);
    QSignalSpy spy(&view, &StarRatingView::rateRequested);
    QTest::mouseClick(&view, Qt::LeftButton, {}, centreOf(view, star));
    QCOMPARE(spy.count(), asked < 0 ? 0 : 1);
    if (asked >= 0)
        QCOMPARE(spy.first().first().toInt(), asked);
    QCOMPARE(view.rating(), rating); // the owner sets it
}

void TestStarRatingView::keepsItsRatingUntilTheOwnerSetsIt()
{
    StarRatingView view(1, 5, 12);
    view.setRating(4);
    QCOMPARE(view.rating(), 4);
    // Every point of the row belongs to a star, the spacing included.
    QCOMPARE(view.starAt(QPointF(12.5, 5)), 1);
    QCOMPARE(view.starAt(QPointF(14.5, 5)), 2);
    QCOMPARE(view.starAt(QPointF(view.sizeHint().width() + 3, 5)), 0);
    const StarRatingView one(0, 0, 20); // at least one star
    QCOMPARE(one.maxRating(), 1);
}

QTEST_MAIN(TestStarRatingView)
#include "tst_starratingview.moc"
