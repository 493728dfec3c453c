// The loading rules of one shown picture, without widgets, on real files.
#include "ImagingFixtures.h"
#include "imaging/ImageLoadError.h"
#include "model/WorkQueues.h"
#include "viewing/NeighbourPrefetchCache.h"
#include "viewing/ShownImageLoader.h"
#include "viewing/ShownPicture.h"

#include <QPromise>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using State = ShownPicture::State;
using namespace ImagingFixtures;

class TestShownPicture : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<WorkQueues> m_queues;
    std::unique_ptr<ShownPicture> m_picture;
    QList<ImageItem> m_list;

    ImageItem jpeg(const QString &name, int width, int height)
    {
        return ImageItem(writeJpeg(m_dir->filePath(name), quadrantPicture(width, height)));
    }
    ImageItem file(const QString &name, const QByteArray &content)
    {
        if (!content.isNull())
            writeBytes(m_dir->filePath(name), content);
        return ImageItem(m_dir->filePath(name));
    }
    ImageItem dng(const QString &name) // 640 x 480, with a 160 x 120 preview
    {
        const QString path = m_dir->filePath(name);
        return writeDng(path, 640, 480, quadrantPicture(160, 120)) ? ImageItem(path) : ImageItem();
    }
    void waitLoaded() { QTRY_VERIFY_WITH_TIMEOUT(!m_picture->isLoading(), 20000); }
    static QString error(ImageLoadError (*make)()) { return make().errorDescription(); }

private Q_SLOTS:
    void init()
    {
        m_picture.reset(); // before the files and queues it uses
        m_list.clear();
        m_queues = std::make_unique<WorkQueues>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_picture = std::make_unique<ShownPicture>(*m_queues);
        m_picture->setView(QSizeF(1200, 800), 1.0);
        m_picture->setNeighbourhood([this](const ImageItem &shown) {
            const qsizetype i = m_list.indexOf(shown); // itself, the next, the previous
            return i < 0 ? QList<ImageItem>()
                         : QList<ImageItem>{shown} + m_list.mid(i + 1, 1) +
                               (i > 0 ? m_list.mid(i - 1, 1) : QList<ImageItem>());
        });
    }
    void loadEndsFullOrFailed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("error");
        // Fitted into 1200 x 800: a 3/8 decode (1500 x 1125) stands in first.
        QTest::newRow("large jpeg") << "large" << QSize(4000, 3000) << QString();
        QTest::newRow("raw shows its stored preview") << "dng" << QSize(160, 120) << QString();
        QTest::newRow("corrupt") << "corrupt" << QSize(0, 0)
                                 << error(&ImageLoadError::decodeFailed);
        QTest::newRow("missing") << "missing" << QSize(0, 0)
                                 << error(&ImageLoadError::sourceCreationFailed);
    }
    void loadEndsFullOrFailed()
    {
        QFETCH(QString, kind);
        QFETCH(QSize, size);
        QFETCH(QString, error);
        const ImageItem item = kind == u"large" ? jpeg(QStringLiteral("a.jpg"), 4000, 3000)
                               : kind == u"dng" ? dng(QStringLiteral("a.dng"))
                               : kind == u"corrupt"
                                   ? file(QStringLiteral("a.jpg"), "\xFF\xD8\xFF\xE0 not a jpeg")
                                   : file(QStringLiteral("gone.jpg"), QByteArray());
        QSignalSpy changed(m_picture.get(), &ShownPicture::changed);
        m_picture->show(item);
        QVERIFY(m_picture->isLoading() && m_picture->state() == State::empty);
        QList<State> states;
        QObject context;
        connect(m_picture.get(), &ShownPicture::changed, &context, [&] {
            states << m_picture->state();
            if (m_picture->state() == State::standIn) {
                QCOMPARE(m_picture->standIn().fullSize, QSize(4000, 3000));
                QVERIFY(m_picture->image().isNull() && m_picture->isLoading());
            }
        });
        waitLoaded();
        QCOMPARE(states.size() == 2 && states[0] == State::standIn, kind == u"large");
        QCOMPARE(m_picture->state(), error.isEmpty() ? State::full : State::failed);
        QCOMPARE(m_picture->image().size(), size);
        QCOMPARE(m_picture->errorMessage(), error);
        QVERIFY(changed.count() >= 2);
        m_picture->clear();
        QCOMPARE(m_picture->state(), State::empty);
        QVERIFY(m_picture->image().isNull() && !m_picture->item());
    }
    void developmentReplacesThePreviewOrSaysWhy_data()
    {
        QTest::addColumn<bool>("realRaw"); // JPEG data named .NEF: the viewer's own test
        QTest::newRow("dng") << true;
        QTest::newRow("neither a preview nor raw data") << false;
    }
    void developmentReplacesThePreviewOrSaysWhy()
    {
        QFETCH(bool, realRaw);
        const ImageItem item =
            realRaw ? dng(QStringLiteral("raw.dng")) : file(QStringLiteral("DSC_0002.NEF"), "x");
        QSignalSpy developed(m_picture.get(), &ShownPicture::developed);
        QSignalSpy failed(m_picture.get(), &ShownPicture::developmentFailed);
        m_picture->develop(); // nothing shown: nothing to develop
        m_picture->show(item);
        m_picture->develop(); // not before the preview is there
        QVERIFY(!m_picture->isDeveloping());
        waitLoaded();
        const QImage preview = m_picture->image();
        const QString previewError = m_picture->errorMessage();
        m_picture->develop();
        QVERIFY(m_picture->isDeveloping());
        QTRY_VERIFY_WITH_TIMEOUT(!m_picture->isDeveloping(), 30000);
        QCOMPARE(developed.count(), realRaw ? 1 : 0);
        QCOMPARE(m_picture->state(), realRaw ? State::developed : State::failed);
        if (!realRaw) {
            QCOMPARE(failed.count(), 1);
            QCOMPARE(failed[0][0].toString(), m_picture->errorMessage());
            QVERIFY(failed[0][0].toString() != previewError);
            QCOMPARE(m_picture->image().cacheKey(), preview.cacheKey());
            return;
        }
        QCOMPARE(m_picture->image().size(), QSize(640, 480));
        // Moving on during a development lets it go: the next does not wait for it.
        QSignalSpy discarded(m_picture.get(), &ShownPicture::staleResultDiscarded);
        m_picture->develop();
        m_picture->show(jpeg(QStringLiteral("next.jpg"), 320, 200));
        QVERIFY(!m_picture->isDeveloping());
        waitLoaded();
        QCOMPARE(m_picture->image().size(), QSize(320, 200));
        QTRY_VERIFY_WITH_TIMEOUT(discarded.count() > 0, 30000);
        QCOMPARE(developed.count(), 1);
        QCOMPARE(m_picture->state(), State::full);
    }
    void neighboursArePrefetchedWithinBounds()
    {
        for (int i = 0; i < 5; ++i)
            m_list.append(jpeg(QStringLiteral("p%1.jpg").arg(i), 640 + i, 480));
        NeighbourPrefetchCache &cache = m_picture->prefetchCache();
        m_picture->show(m_list[2]);
        waitLoaded();
        // The shown picture plus both neighbours, never more.
        QTRY_COMPARE(cache.keptCount(), 3);
        m_picture->show(m_list[3]);
        QVERIFY(!m_picture->isLoading()); // at once, from the cache
        QCOMPARE(m_picture->image().width(), 643);
        QTRY_COMPARE(cache.keptCount(), 3);
        QVERIFY(!cache.image(m_list[1]) && cache.image(m_list[4]).has_value());
        QCOMPARE(m_picture->loader().startedJobs(), 1);
        m_picture->clear();
        QCOMPARE(cache.keptCount(), 0);
    }
    void prefetchInFlightIsHandedOver_data()
    {
        QTest::addColumn<bool>("broken");
        QTest::newRow("decodes") << false;
        QTest::newRow("fails with its own error") << true;
    }
    void prefetchInFlightIsHandedOver()
    {
        QFETCH(bool, broken);
        // A budget that keeps none of these pictures: each is larger than a third.
        NeighbourPrefetchCache &cache = m_picture->prefetchCache();
        cache.setByteBudget(3 * 100'000);
        m_list = {jpeg(QStringLiteral("l0.jpg"), 640, 480),
                  broken ? file(QStringLiteral("l1.jpg"), "\xFF\xD8 not a JPEG")
                         : jpeg(QStringLiteral("l1.jpg"), 641, 480)};
        const ImageItem next = m_list[1];
        // Stepped onto right after its prefetch has started, before its result.
        connect(
            &cache, &NeighbourPrefetchCache::prefetchStarted, this,
            [this, next](const QUuid &id) {
                if (id == next.id()) {
                    m_picture->show(next);
                    QVERIFY(m_picture->isLoading());
                }
            },
            Qt::QueuedConnection);
        m_picture->show(m_list[0]);
        QTRY_VERIFY(m_picture->item() == next);
        waitLoaded();
        // The loader itself decoded only the first picture.
        QCOMPARE(m_picture->loader().startedJobs(), 1);
        QCOMPARE(m_picture->state(), broken ? State::failed : State::full);
        QCOMPARE(m_picture->errorMessage(),
                 broken ? error(&ImageLoadError::decodeFailed) : QString());
        QCOMPARE(m_picture->image().width(), broken ? 0 : 641);
        // The first picture, too large to keep, is decoded once more as a neighbour, no more.
        QTRY_VERIFY(!cache.isPrefetching(m_list[0]));
        QCOMPARE(cache.startedDecodes(), 2);
    }
    void followedDecodeIsNotWaitedFor()
    {
        // The prefetch owns a followed decode: the next picture starts at once.
        ShownImageLoader loader(*m_queues);
        QPromise<ViewPicture> decoding;
        decoding.start();
        const ImageItem followed = jpeg(QStringLiteral("a.jpg"), 320, 200);
        const ImageItem next = jpeg(QStringLiteral("b.jpg"), 321, 200);
        QSignalSpy loaded(&loader, &ShownImageLoader::loaded);
        loader.follow(followed, decoding.future());
        loader.load(next);
        QCOMPARE(loader.startedJobs(), 1);
        QTRY_COMPARE(loaded.count(), 1);
        QCOMPARE(loaded[0][0].toUuid(), next.id());
        decoding.finish();
    }
};

QTEST_MAIN(TestShownPicture)
#include "tst_shownpicture.moc"
