#include "common/StarRatingView.h"

#include <QSignalSpy>
#include <QTest>

// The interactive star row of the viewer's status bar.
class TestStarRatingView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void clickingAStarAsksForItsRating_data()
    {
        QTest::addColumn<bool>("interactive");
        QTest::addColumn<int>("rating");
        QTest::addColumn<int>("star");
        QTest::addColumn<QVariantList>("asked");
        QTest::newRow("lit top star clears") << true << 3 << 3 << QVariantList{0};
        QTest::newRow("higher star") << true << 3 << 5 << QVariantList{5};
        QTest::newRow("lower star") << true << 3 << 1 << QVariantList{1};
        QTest::newRow("first star from none") << true << 0 << 1 << QVariantList{1};
        QTest::newRow("fifth star clears five") << true << 5 << 5 << QVariantList{0};
        QTest::newRow("display only") << false << 2 << 4 << QVariantList{};
    }
    void clickingAStarAsksForItsRating()
    {
        QFETCH(bool, interactive);
        QFETCH(int, rating);
        QFETCH(int, star);
        QFETCH(QVariantList, asked);
        StarRatingView view(rating, 5, 12);
        view.setInteractive(interactive);
        view.resize(view.sizeHint());
        QCOMPARE(view.sizeHint().width(), 5 * 12 + 4 * StarRatingView::starSpacing);
        QSignalSpy spy(&view, &StarRatingView::rateRequested);
        const qreal pitch = view.starSize() + StarRatingView::starSpacing;
        const QPoint centre(int((star - 1) * pitch + view.starSize() / 2), view.height() / 2);
        QTest::mouseClick(&view, Qt::LeftButton, {}, centre);
        QCOMPARE(spy.count(), asked.size());
        if (!asked.isEmpty())
            QCOMPARE(spy.first(), asked);
        QCOMPARE(view.rating(), rating); // the owner sets it
    }

    void everyPointOfTheRowBelongsToAStar()
    {
        StarRatingView view(1, 5, 12);
        // Every point of the row belongs to a star, the spacing included.
        QCOMPARE(view.starAt(QPointF(12.5, 5)), 1);
        QCOMPARE(view.starAt(QPointF(14.5, 5)), 2);
        QCOMPARE(view.starAt(QPointF(view.sizeHint().width() + 3, 5)), 0);
        QCOMPARE(StarRatingView(0, 0, 20).maxRating(), 1); // at least one star
    }
};

QTEST_MAIN(TestStarRatingView)
#include "tst_starratingview.moc"
