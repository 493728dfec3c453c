#include "BrowseFixtures.h"
#include "state/ImageListPipeline.h"

#include <QTest>
#include <QThreadPool>

using BrowseFixtures::filenames;
using Category = ImageItem::FormatCategory;
using Changes = ImageListPipeline::Changes;
Q_DECLARE_METATYPE(std::optional<Category>)

namespace {

// Names and the ratings stored for them; -1: none stored.
const QStringList kNames{"a.jpg", "b.jpg", "c.heif", "d.HEIC", "e.png", "f.jpg", "g.DNG"};
const QList<int> kRatings{2, 3, 4, 0, 3, -1, 5};

} // namespace

class TestImageListPipeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_ratings.clear();
        m_images.clear();
        for (qsizetype i = 0; i < kNames.size(); ++i) {
            m_images << ImageItem("/photos/" + kNames[i]);
            if (kRatings[i] >= 0)
                m_ratings.insert(m_images.last().path(), kRatings[i]);
        }
        m_list = std::make_unique<ImageListPipeline>(
            [this](const QString &path) { return m_ratings.value(path, 0); }, m_discards);
        m_list->setImages(m_images);
    }
    void filters_data()
    {
        QTest::addColumn<int>("stars");
        QTest::addColumn<std::optional<Category>>("format");
        QTest::addColumn<QStringList>("shown");
        const std::optional<Category> all;
        QTest::newRow("all") << 0 << all << kNames;
        QTest::newRow("unrated: 0 and none") << -1 << all << QStringList{"d.HEIC", "f.jpg"};
        QTest::newRow("exactly 3") << 3 << all << QStringList{"b.jpg", "e.png"};
        QTest::newRow("exactly 4, not 5") << 4 << all << QStringList{"c.heif"};
        QTest::newRow("no one has 1") << 1 << all << QStringList{};
        QTest::newRow("other values keep all") << -2 << all << kNames;
        QTest::newRow("heic in order")
            << 0 << std::optional(Category::heic) << QStringList{"c.heif", "d.HEIC"};
        QTest::newRow("jpeg") << 0 << std::optional(Category::jpeg)
                              << QStringList{"a.jpg", "b.jpg", "f.jpg"};
        QTest::newRow("3 and jpeg") << 3 << std::optional(Category::jpeg) << QStringList{"b.jpg"};
        QTest::newRow("unrated raw") << -1 << std::optional(Category::raw) << QStringList{};
    }
    void filters()
    {
        QFETCH(int, stars);
        QFETCH(std::optional<Category>, format);
        QFETCH(QStringList, shown);
        m_list->setStarFilter(stars);
        m_list->setFormatFilter(format);
        QCOMPARE(filenames(m_list->filteredImages()), shown);
        // Whatever the filters, the choices come from every image, in their order.
        QCOMPARE(m_list->availableStarRatings(), (QList<int>{0, 2, 3, 4, 5}));
        QCOMPARE(m_list->availableFormats(),
                 (QList<Category>{Category::raw, Category::jpeg, Category::png, Category::heic}));
    }
    void changesAreReportedOnlyWhenReal()
    {
        const QString b = m_images[1].path();
        const auto rate = [&](const QString &path, int stars) {
            const int old = m_ratings.value(path, 0);
            m_ratings[path] = stars;
            return m_list->ratingChanged(path, old, stars);
        };
        // Without a star filter a rating leaves the list alone; unfiltered, the
        // list is the images themselves, not a copy.
        QCOMPARE(rate(b, 1), (Changes{false, true, false}));
        QCOMPARE(m_list->filteredImages().constData(), m_list->images().constData());
        QCOMPARE(rate(b, 1), Changes{});
        QCOMPARE(m_list->ratingChanged("/elsewhere/b.jpg", 0, 4), Changes{});
        QCOMPARE(m_list->availableStarRatings(), (QList<int>{0, 1, 2, 3, 4, 5}));
        QCOMPARE(m_list->setStarFilter(-1), (Changes{false, false, true}));
        QCOMPARE(m_list->setStarFilter(-1), Changes{});
        QCOMPARE(rate(b, 0), (Changes{false, true, true}));
        QCOMPARE(filenames(m_list->filteredImages()), (QStringList{"b.jpg", "d.HEIC", "f.jpg"}));
        // A new rating that keeps the list as it was refilters but reports no change.
        QCOMPARE(rate(m_images[0].path(), 4), (Changes{false, true, false}));
        QCOMPARE(m_list->setFormatFilter(Category::gif), (Changes{false, false, true}));
        QCOMPARE(m_list->setFormatFilter(Category::gif), Changes{});
        // Many ratings at once: counted and filtered once.
        m_list->setFormatFilter(std::nullopt);
        m_ratings.clear();
        QCOMPARE(m_list->ratingsReplaced(), (Changes{false, true, true}));
        QCOMPARE(m_list->filteredImages().size(), m_images.size());
        QCOMPARE(m_list->availableStarRatings(), QList<int>{0});
        QCOMPARE(m_list->ratingsReplaced(), Changes{});
        // The same items again change nothing; new ones refilter and recount.
        QCOMPARE(m_list->setImages(QList<ImageItem>(m_images)), Changes{});
        m_ratings[m_images[0].path()] = 2;
        QCOMPARE(m_list->setImages(m_images.mid(0, 2)), (Changes{true, true, true}));
        QCOMPARE(filenames(m_list->filteredImages()), QStringList{"b.jpg"});
        // One rating moves the counts of every item of its file (a rescan's beside the old).
        const ImageItem twin(m_images[0].path());
        m_ratings[m_images[6].path()] = 5;
        m_list->setImages({m_images[0], twin, m_images[6]});
        m_list->setStarFilter(2);
        QCOMPARE(m_list->filteredImages(), (QList<ImageItem>{m_images[0], twin}));
        rate(twin.path(), 5);
        QCOMPARE(m_list->availableStarRatings(), QList<int>{5});
        QVERIFY(m_list->filteredImages().isEmpty());
        // Ratings beyond the range count as their nearest end.
        QCOMPARE(rate(twin.path(), 9), Changes{});
        rate(twin.path(), -3);
        QCOMPARE(m_list->availableStarRatings(), (QList<int>{0, 5}));
        QCOMPARE(m_list->setImages({}), (Changes{true, true, false})); // none shown before
        QVERIFY(m_list->availableFormats().isEmpty());
        QVERIFY(m_list->availableStarRatings().isEmpty());
    }

private:
    QThreadPool m_discards;
    QHash<QString, int> m_ratings;
    QList<ImageItem> m_images;
    std::unique_ptr<ImageListPipeline> m_list;
};

QTEST_GUILESS_MAIN(TestImageListPipeline)
#include "tst_imagelistpipeline.moc"
