// The loading rules of one shown picture, without widgets: newest request
// wins, stand-in then full, stale results dropped, RAW development, the
// neighbour prefetch and failures, on real files written by the test.
#include "ImagingFixtures.h"
#include "imaging/ImageLoadError.h"
#include "model/WorkQueues.h"
#include "viewing/NeighbourPrefetchCache.h"
#include "viewing/ShownImageLoader.h"
#include "viewing/ShownPicture.h"

#include <QFile>
#include <QPromise>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using State = ShownPicture::State;

class TestShownPicture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void loadEndsFullOrFailed_data();
    void loadEndsFullOrFailed();
    void burstOfRequestsDecodesOnlyTheNewest();
    void largeJpegShowsAStandInThenTheFullPicture();
    void developmentReplacesThePreviewOrSaysWhy_data();
    void developmentReplacesThePreviewOrSaysWhy();
    void movingOnDuringDevelopmentDropsIt();
    void neighboursArePrefetchedWithinBounds();
    void prefetchInFlightIsHandedOver_data();
    void prefetchInFlightIsHandedOver();
    void followedDecodeIsNotWaitedFor();
    void failedDevelopmentWithoutPreviewSaysWhy();

private:
    ImageItem jpeg(const QString &name, int width, int height);
    ImageItem file(const QString &name, const QByteArray &content);
    ImageItem dng(const QString &name, int width = 640, int height = 480);
    void useList(const QList<ImageItem> &items);
    void stepOnWhenPrefetching(const ImageItem &next);
    void waitLoaded() { QTRY_VERIFY_WITH_TIMEOUT(!m_picture->isLoading(), 20000); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<WorkQueues> m_queues;
    std::unique_ptr<ShownPicture> m_picture;
    QList<ImageItem> m_list;
};

void TestShownPicture::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_queues = std::make_unique<WorkQueues>();
    m_picture = std::make_unique<ShownPicture>(*m_queues);
    m_picture->setView(QSizeF(1200, 800), 1.0);
    m_picture->setNeighbourhood([this](const ImageItem &shown) {
        const qsizetype index = m_list.indexOf(shown);
        QList<ImageItem> items{shown};
        if (index + 1 < m_list.size())
            items.append(m_list[index + 1]);
        if (index >= 1)
            items.append(m_list[index - 1]);
        return index < 0 ? QList<ImageItem>() : items;
    });
}

void TestShownPicture::cleanup()
{
    m_picture.reset();
    m_queues.reset();
    m_dir.reset();
    m_list.clear();
}

ImageItem TestShownPicture::jpeg(const QString &name, int width, int height)
{
    return ImageItem(ImagingFixtures::writeJpeg(m_dir->filePath(name),
                                                ImagingFixtures::quadrantPicture(width, height)));
}

ImageItem TestShownPicture::file(const QString &name, const QByteArray &content)
{
    QFile out(m_dir->filePath(name));
    if (!content.isNull() && out.open(QIODevice::WriteOnly))
        out.write(content);
    return ImageItem(out.fileName());
}

ImageItem TestShownPicture::dng(const QString &name, int width, int height)
{
    const QString path = m_dir->filePath(name);
    if (!ImagingFixtures::writeDng(path, width, height, ImagingFixtures::quadrantPicture(160, 120)))
        return {};
    return ImageItem(path);
}

void TestShownPicture::useList(const QList<ImageItem> &items)
{
    m_list = items;
}

void TestShownPicture::stepOnWhenPrefetching(const ImageItem &next)
{
    connect(
        &m_picture->prefetchCache(), &NeighbourPrefetchCache::prefetchStarted, this,
        [this, next](const QUuid &id) {
            if (id == next.id()) {
                m_picture->show(next);
                QVERIFY(m_picture->isLoading());
            }
        },
        Qt::QueuedConnection);
}

void TestShownPicture::loadEndsFullOrFailed_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("error");
    const QString decodeFailed = ImageLoadError::decodeFailed().errorDescription();
    QTest::newRow("jpeg") << "jpeg" << QSize(600, 400) << QString();
    QTest::newRow("raw shows its stored preview") << "dng" << QSize(160, 120) << QString();
    QTest::newRow("corrupt") << "corrupt" << QSize(0, 0) << decodeFailed;
    QTest::newRow("missing") << "missing" << QSize(0, 0)
                             << ImageLoadError::sourceCreationFailed().errorDescription();
}

void TestShownPicture::loadEndsFullOrFailed()
{
    QFETCH(QString, kind);
    QFETCH(QSize, size);
    QFETCH(QString, error);
    const ImageItem item = kind == u"jpeg"  ? jpeg(QStringLiteral("a.jpg"), 600, 400)
                           : kind == u"dng" ? dng(QStringLiteral("a.dng"))
                           : kind == u"corrupt"
                               ? file(QStringLiteral("a.jpg"), "\xFF\xD8\xFF\xE0 not a jpeg")
                               : file(QStringLiteral("gone.jpg"), QByteArray());
    QSignalSpy changed(m_picture.get(), &ShownPicture::changed);
    m_picture->show(item);
    QVERIFY(m_picture->isLoading());
    QCOMPARE(m_picture->state(), State::empty);
    waitLoaded();
    QCOMPARE(m_picture->state(), error.isEmpty() ? State::full : State::failed);
    QCOMPARE(m_picture->image().size(), size);
    QCOMPARE(m_picture->errorMessage(), error);
    QVERIFY(changed.count() >= 2);
    m_picture->clear();
    QCOMPARE(m_picture->state(), State::empty);
    QVERIFY(m_picture->image().isNull() && !m_picture->item());
}

void TestShownPicture::burstOfRequestsDecodesOnlyTheNewest()
{
    QList<ImageItem> items;
    for (int i = 0; i < 6; ++i)
        items.append(jpeg(QStringLiteral("burst%1.jpg").arg(i), 1600 + i, 1000));
    QSignalSpy discarded(m_picture.get(), &ShownPicture::staleResultDiscarded);
    // Six requests in one turn of the event loop, as a held arrow key makes
    // them: the first is in flight, each later one replaces the waiting one.
    for (const ImageItem &item : items)
        m_picture->show(item);
    waitLoaded();
    QCOMPARE(m_picture->image().width(), 1605);
    QCOMPARE(m_picture->loader().startedJobs(), 2);
    QCOMPARE(discarded.count(), 1);
    QCOMPARE(m_picture->state(), State::full);
}

void TestShownPicture::largeJpegShowsAStandInThenTheFullPicture()
{
    // 4000 x 3000 fitted into 1200 x 800: a 3/8 decode (1500 x 1125) covers it.
    m_picture->show(jpeg(QStringLiteral("large.jpg"), 4000, 3000));
    QList<State> states;
    connect(m_picture.get(), &ShownPicture::changed, this, [&] {
        states << m_picture->state();
        if (m_picture->state() == State::standIn) {
            QCOMPARE(m_picture->standIn().fullSize, QSize(4000, 3000));
            QVERIFY(m_picture->image().isNull() && m_picture->isLoading());
        }
    });
    waitLoaded();
    QCOMPARE(states, (QList<State>{State::standIn, State::full}));
    QCOMPARE(m_picture->image().size(), QSize(4000, 3000));
}

void TestShownPicture::developmentReplacesThePreviewOrSaysWhy_data()
{
    QTest::addColumn<bool>("realRaw");
    QTest::newRow("dng") << true;
    QTest::newRow("JPEG data named .nef") << false;
}

void TestShownPicture::developmentReplacesThePreviewOrSaysWhy()
{
    QFETCH(bool, realRaw);
    const ImageItem item =
        realRaw ? dng(QStringLiteral("raw.dng")) : jpeg(QStringLiteral("DSC_0001.NEF"), 600, 400);
    QSignalSpy developed(m_picture.get(), &ShownPicture::developed);
    QSignalSpy failed(m_picture.get(), &ShownPicture::developmentFailed);
    m_picture->develop(); // nothing shown: nothing to develop
    m_picture->show(item);
    m_picture->develop(); // not before the preview is there
    QVERIFY(!m_picture->isDeveloping());
    waitLoaded();
    const QImage preview = m_picture->image();
    m_picture->develop();
    QVERIFY(m_picture->isDeveloping());
    QTRY_VERIFY_WITH_TIMEOUT(!m_picture->isDeveloping(), 30000);
    QCOMPARE(developed.count(), realRaw ? 1 : 0);
    QCOMPARE(m_picture->state(), realRaw ? State::developed : State::full);
    if (realRaw) {
        QCOMPARE(m_picture->image().size(), QSize(640, 480));
        // Moving on starts over: the next RAW shows its preview, undeveloped.
        m_picture->show(dng(QStringLiteral("next.dng")));
        waitLoaded();
        QCOMPARE(m_picture->state(), State::full);
        QCOMPARE(m_picture->image().size(), QSize(160, 120));
    } else {
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed[0][0].toString(),
                 ImageLoadError::sourceCreationFailed().errorDescription());
        QCOMPARE(m_picture->image().cacheKey(), preview.cacheKey());
    }
}

void TestShownPicture::movingOnDuringDevelopmentDropsIt()
{
    const ImageItem raw = dng(QStringLiteral("large.dng"), 2400, 1600);
    const ImageItem next = jpeg(QStringLiteral("next.jpg"), 320, 200);
    m_picture->show(raw);
    waitLoaded();
    QSignalSpy discarded(m_picture.get(), &ShownPicture::staleResultDiscarded);
    QSignalSpy developed(m_picture.get(), &ShownPicture::developed);
    m_picture->develop();
    m_picture->show(next);
    QVERIFY(!m_picture->isDeveloping());
    // The development is let go: the next picture does not wait for it.
    waitLoaded();
    QCOMPARE(m_picture->image().size(), QSize(320, 200));
    QTRY_VERIFY_WITH_TIMEOUT(discarded.count() > 0, 30000);
    QCOMPARE(developed.count(), 0);
    QCOMPARE(m_picture->state(), State::full);
}

void TestShownPicture::neighboursArePrefetchedWithinBounds()
{
    QList<ImageItem> items;
    for (int i = 0; i < 5; ++i)
        items.append(jpeg(QStringLiteral("p%1.jpg").arg(i), 640 + i, 480));
    useList(items);
    NeighbourPrefetchCache &cache = m_picture->prefetchCache();
    m_picture->show(items[2]);
    waitLoaded();
    // The shown picture plus both neighbours, never more.
    QTRY_COMPARE(cache.keptCount(), 3);
    m_picture->show(items[3]);
    QVERIFY(!m_picture->isLoading()); // at once, from the cache
    QCOMPARE(m_picture->image().width(), 643);
    QTRY_COMPARE(cache.keptCount(), 3);
    QVERIFY(!cache.image(items[1]) && cache.image(items[4]).has_value());
    QCOMPARE(m_picture->loader().startedJobs(), 1);
    m_picture->clear();
    QCOMPARE(cache.keptCount(), 0);
}

void TestShownPicture::prefetchInFlightIsHandedOver_data()
{
    QTest::addColumn<bool>("broken");
    QTest::newRow("decodes") << false;
    QTest::newRow("fails with its own error") << true;
}

void TestShownPicture::prefetchInFlightIsHandedOver()
{
    QFETCH(bool, broken);
    // A budget that keeps none of these pictures: each is larger than a third.
    NeighbourPrefetchCache &cache = m_picture->prefetchCache();
    cache.setByteBudget(3 * 100'000);
    const QList<ImageItem> items{jpeg(QStringLiteral("l0.jpg"), 640, 480),
                                 broken ? file(QStringLiteral("l1.jpg"), "\xFF\xD8 not a JPEG")
                                        : jpeg(QStringLiteral("l1.jpg"), 641, 480)};
    useList(items);
    // Stepped onto right after its prefetch has started (queued: before its
    // result can arrive).
    stepOnWhenPrefetching(items[1]);
    m_picture->show(items[0]);
    QTRY_VERIFY(m_picture->item() == items[1]);
    waitLoaded();
    // The loader itself decoded only the first picture.
    QCOMPARE(m_picture->loader().startedJobs(), 1);
    QCOMPARE(m_picture->state(), broken ? State::failed : State::full);
    QCOMPARE(m_picture->errorMessage(),
             broken ? ImageLoadError::decodeFailed().errorDescription() : QString());
    QCOMPARE(m_picture->image().width(), broken ? 0 : 641);
    // The first picture, too large to keep, is decoded once more as a
    // neighbour, and then not again and again.
    QTRY_VERIFY(!cache.isPrefetching(items[0]));
    QCOMPARE(cache.startedDecodes(), 2);
}

void TestShownPicture::followedDecodeIsNotWaitedFor()
{
    // The prefetch owns a followed decode: stepping on starts the next
    // picture at once, whatever that decode still does.
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

void TestShownPicture::failedDevelopmentWithoutPreviewSaysWhy()
{
    m_picture->show(file(QStringLiteral("DSC_0002.NEF"), "neither a preview nor raw data"));
    waitLoaded();
    QCOMPARE(m_picture->state(), State::failed);
    const QString previewError = m_picture->errorMessage();
    QSignalSpy failed(m_picture.get(), &ShownPicture::developmentFailed);
    m_picture->develop();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 30000);
    QCOMPARE(m_picture->errorMessage(), failed[0][0].toString());
    QVERIFY(m_picture->errorMessage() != previewError);
}

QTEST_MAIN(TestShownPicture)
#include "tst_shownpicture.moc"
