// The viewer screen: what it shows per state, its actions, RAW decoding, and
// that late results of images the user has left never reach the screen.
#include "ImagingFixtures.h"
#include "common/FileRevealer.h"
#include "common/ZoomableImageView.h"
#include "imaging/ImageLoadError.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"
#include "viewer/ImageViewerView.h"
#include "viewer/RawDecodeControl.h"
#include "viewer/RoundSymbolButton.h"
#include "viewer/ViewerStatusBar.h"
#include "viewing/NeighbourPrefetchCache.h"
#include "viewing/ShownImageLoader.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

class RecordingRevealer : public FileRevealer
{
public:
    explicit RecordingRevealer(QStringList *revealed)
        : m_revealed(revealed)
    {}
    void reveal(const QString &absolutePath) override { m_revealed->append(absolutePath); }

private:
    QStringList *m_revealed;
};

QString loadFailureText(ImageLoadError (*make)())
{
    return make().errorDescription();
}

} // namespace

class TestImageViewerView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void arrowsAndPositionFollowTheList();
    void singleImageHasNoArrows();
    void arrowButtonsStepAndStopAtTheStart();
    void jpegShowsNoRawBadgeOrControl();
    void exportButtonAbsentWhileLoadingAndAfterFailure_data();
    void exportButtonAbsentWhileLoadingAndAfterFailure();
    void exportOpensDirectlyWithoutDecode();
    void rawDecodeThenExportAsksFirst();
    void movingOnAfterDecodeStartsOver();
    void failedRawDecodeSaysWhyAndKeepsThePreview_data();
    void failedRawDecodeSaysWhyAndKeepsThePreview();
    void staleLoadIsDiscarded();
    void staleDecodeIsDiscarded();
    void contextMenuCopiesAndReveals();
    void starsShowAndSetTheRating();
    void longNameIsElidedAndTheBarKeepsItsParts();
    void neighboursArePrefetchedWithinBounds();
    void burstOfStepsDecodesOnlyTheNewest();
    void prefetchInFlightIsHandedOverWhateverItsSize();
    void neighbourFailingWhilePrefetchedShowsItsError();
    void largeJpegShowsAStandInThenSharpensInPlace();
    void backButtonLeavesTheViewer();

private:
    ImageItem addJpeg(const QString &name, int width, int height);
    ImageItem addDng(const QString &name);
    void setImages(const QList<ImageItem> &items);
    void showAt(int index);
    void waitLoaded();

    std::unique_ptr<QTemporaryDir> m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<ImageViewerView> m_viewer;
    QStringList m_revealed;
};

void TestImageViewerView::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_state = std::make_unique<AppState>(m_dir->filePath(QStringLiteral("ratings.json")),
                                         m_dir->filePath(QStringLiteral("settings.ini")));
    m_viewer = std::make_unique<ImageViewerView>(*m_state, m_queues);
    m_viewer->setFileRevealer(std::make_unique<RecordingRevealer>(&m_revealed));
    m_viewer->resize(1200, 800);
    m_viewer->show();
    m_revealed.clear();
}

void TestImageViewerView::cleanup()
{
    m_viewer.reset();
    m_state.reset();
    m_dir.reset();
}

ImageItem TestImageViewerView::addJpeg(const QString &name, int width, int height)
{
    const QString path = ImagingFixtures::writeJpeg(
        m_dir->filePath(name), ImagingFixtures::quadrantPicture(width, height));
    return ImageItem(path);
}

ImageItem TestImageViewerView::addDng(const QString &name)
{
    const QString path = m_dir->filePath(name);
    if (!ImagingFixtures::writeDng(path, 640, 480, ImagingFixtures::quadrantPicture(160, 120)))
        return {};
    return ImageItem(path);
}

void TestImageViewerView::setImages(const QList<ImageItem> &items)
{
    m_state->setImages(items);
    QCOMPARE(m_state->filteredImages().size(), items.size());
}

void TestImageViewerView::showAt(int index)
{
    m_state->selectImage(index);
    QVERIFY(m_state->isViewerActive());
}

void TestImageViewerView::waitLoaded()
{
    QTRY_VERIFY(!m_viewer->isLoading());
}

void TestImageViewerView::arrowsAndPositionFollowTheList()
{
    QList<ImageItem> items;
    for (int i = 0; i < 120; ++i)
        items.append(ImageItem(m_dir->filePath(QStringLiteral("IMG_%1.jpg").arg(i))));
    setImages(items);

    showAt(0);
    QVERIFY(!m_viewer->previousButton()->isVisible());
    QVERIFY(m_viewer->nextButton()->isVisible());
    QCOMPARE(m_viewer->statusBar()->positionText(), QStringLiteral("第 1 / 120 张"));

    showAt(2);
    QCOMPARE(m_viewer->statusBar()->positionText(), QStringLiteral("第 3 / 120 张"));
    QCOMPARE(m_viewer->statusBar()->filenameText(), QStringLiteral("IMG_2.jpg"));
    QVERIFY(m_viewer->previousButton()->isVisible());
    QVERIFY(m_viewer->nextButton()->isVisible());

    showAt(119);
    QCOMPARE(m_viewer->statusBar()->positionText(), QStringLiteral("第 120 / 120 张"));
    QVERIFY(m_viewer->previousButton()->isVisible());
    QVERIFY(!m_viewer->nextButton()->isVisible());
}

void TestImageViewerView::singleImageHasNoArrows()
{
    setImages({addJpeg(QStringLiteral("only.jpg"), 300, 200)});
    showAt(0);
    QVERIFY(!m_viewer->previousButton()->isVisible());
    QVERIFY(!m_viewer->nextButton()->isVisible());
    QVERIFY(m_viewer->backButton()->isVisible());
    QCOMPARE(m_viewer->backButton()->toolTip(), QStringLiteral("返回网格视图 (Esc)"));
}

void TestImageViewerView::arrowButtonsStepAndStopAtTheStart()
{
    setImages(
        {addJpeg(QStringLiteral("a.jpg"), 300, 200), addJpeg(QStringLiteral("b.jpg"), 200, 300)});
    showAt(0);
    m_viewer->showPrevious();
    QCOMPARE(m_state->statusMessage(), QStringLiteral("已是第一张"));
    QTest::mouseClick(m_viewer->nextButton(), Qt::LeftButton);
    QCOMPARE(m_state->currentIndex(), 1);
    QCOMPARE(m_viewer->item()->filename(), QStringLiteral("b.jpg"));
    QTest::mouseClick(m_viewer->previousButton(), Qt::LeftButton);
    QCOMPARE(m_state->currentIndex(), 0);
    QCOMPARE(m_viewer->item()->filename(), QStringLiteral("a.jpg"));
}

void TestImageViewerView::jpegShowsNoRawBadgeOrControl()
{
    setImages({addJpeg(QStringLiteral("photo.jpg"), 600, 400)});
    showAt(0);
    waitLoaded();
    QCOMPARE(m_viewer->displayImage().size(), QSize(600, 400));
    QVERIFY(!m_viewer->statusBar()->isRawBadgeShown());
    QVERIFY(!m_viewer->rawControl()->isVisible());
    QVERIFY(m_viewer->exportButton()->isVisible());
    QCOMPARE(m_viewer->exportButton()->text(), QStringLiteral("边框水印"));
    QVERIFY(m_viewer->zoomableView()->isVisible());
    QCOMPARE(m_viewer->zoomableView()->image().cacheKey(), m_viewer->displayImage().cacheKey());
}

void TestImageViewerView::exportButtonAbsentWhileLoadingAndAfterFailure_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("deleteFile");
    QTest::addColumn<QString>("message");
    QTest::newRow("corrupt") << QByteArray("\xFF\xD8\xFF\xE0 not really a jpeg") << false
                             << loadFailureText(&ImageLoadError::decodeFailed);
    QTest::newRow("deleted while shown")
        << QByteArray() << true << loadFailureText(&ImageLoadError::sourceCreationFailed);
}

void TestImageViewerView::exportButtonAbsentWhileLoadingAndAfterFailure()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, deleteFile);
    QFETCH(QString, message);
    const QString path = m_dir->filePath(QStringLiteral("bad.jpg"));
    if (!deleteFile) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const ImageItem good = addJpeg(QStringLiteral("good.jpg"), 300, 200);
    setImages({ImageItem(path), good});

    showAt(0);
    QVERIFY(m_viewer->isLoading());
    QVERIFY(m_viewer->loadingColumn()->isVisible());
    QVERIFY(!m_viewer->exportButton()->isVisible());
    waitLoaded();
    QCOMPARE(m_viewer->errorMessage().value_or(QString()), message);
    QVERIFY(m_viewer->displayImage().isNull());
    QVERIFY(m_viewer->errorColumn()->isVisible());
    QVERIFY(!m_viewer->exportButton()->isVisible());
    QVERIFY(!m_viewer->zoomableView()->isVisible());

    // The arrows still step on.
    QVERIFY(m_viewer->nextButton()->isVisible());
    m_viewer->showNext();
    waitLoaded();
    QVERIFY(!m_viewer->errorMessage());
    QVERIFY(!m_viewer->errorColumn()->isVisible());
    QVERIFY(m_viewer->exportButton()->isVisible());
}

void TestImageViewerView::exportOpensDirectlyWithoutDecode()
{
    setImages({addJpeg(QStringLiteral("photo.jpg"), 600, 400)});
    int questions = 0;
    m_viewer->setRawExportConfirmation([&](QWidget *, std::function<void(bool)> answer) {
        ++questions;
        answer(true);
    });
    QSignalSpy requested(m_viewer.get(), &ImageViewerView::exportRequested);
    showAt(0);
    waitLoaded();
    QTest::mouseClick(m_viewer->exportButton(), Qt::LeftButton);
    QCOMPARE(questions, 0);
    QCOMPARE(requested.count(), 1);
    QCOMPARE(requested[0][0].value<ImageItem>(), *m_viewer->item());
    QCOMPARE(requested[0][1].value<QImage>().cacheKey(), m_viewer->displayImage().cacheKey());
    QVERIFY(m_state->isSheetPresented());
    m_viewer->frameExportClosed();
    QVERIFY(!m_state->isSheetPresented());
}

void TestImageViewerView::rawDecodeThenExportAsksFirst()
{
    const ImageItem dng = addDng(QStringLiteral("raw.dng"));
    QVERIFY(!dng.isNull());
    QVERIFY(dng.isRAW());
    setImages({dng});
    QList<std::function<void(bool)>> pendingAnswers;
    m_viewer->setRawExportConfirmation(
        [&](QWidget *, std::function<void(bool)> answer) { pendingAnswers.append(answer); });
    QSignalSpy requested(m_viewer.get(), &ImageViewerView::exportRequested);

    showAt(0);
    QVERIFY(!m_viewer->rawControl()->isVisible()); // not while loading
    waitLoaded();
    QCOMPARE(m_viewer->displayImage().size(), QSize(160, 120)); // the stored preview
    QVERIFY(m_viewer->statusBar()->isRawBadgeShown());
    QVERIFY(m_viewer->rawControl()->isVisible());
    QCOMPARE(m_viewer->rawControl()->form(), RawDecodeControl::Form::decodeButton);

    m_viewer->decodeRAW();
    QVERIFY(m_viewer->isDecodingRAW());
    QCOMPARE(m_viewer->rawControl()->form(), RawDecodeControl::Form::decoding);
    QTRY_VERIFY_WITH_TIMEOUT(m_viewer->isRawDecoded(), 30000);
    QVERIFY(!m_viewer->isDecodingRAW());
    QCOMPARE(m_viewer->rawControl()->form(), RawDecodeControl::Form::decoded);
    QCOMPARE(m_viewer->displayImage().size(), QSize(640, 480));
    QCOMPARE(m_state->toastMessage().value_or(QString()), QStringLiteral("RAW 解码成功"));
    QCOMPARE(m_viewer->zoomableView()->image().cacheKey(), m_viewer->displayImage().cacheKey());

    // "取消": nothing opens.
    m_viewer->requestFrameExport();
    QCOMPARE(pendingAnswers.size(), 1);
    QCOMPARE(requested.count(), 0);
    pendingAnswers.takeFirst()(false);
    QCOMPARE(requested.count(), 0);
    QVERIFY(!m_state->isSheetPresented());

    // "继续": the editor gets the decoded picture.
    m_viewer->requestFrameExport();
    pendingAnswers.takeFirst()(true);
    QCOMPARE(requested.count(), 1);
    QCOMPARE(requested[0][1].value<QImage>().size(), QSize(640, 480));
    QVERIFY(m_state->isSheetPresented());
}

void TestImageViewerView::movingOnAfterDecodeStartsOver()
{
    const ImageItem first = addDng(QStringLiteral("a.dng"));
    const ImageItem second = addDng(QStringLiteral("b.dng"));
    setImages({first, second});
    showAt(0);
    waitLoaded();
    m_viewer->decodeRAW();
    QTRY_VERIFY_WITH_TIMEOUT(m_viewer->isRawDecoded(), 30000);

    m_state->nextImage();
    waitLoaded();
    QCOMPARE(m_viewer->item()->filename(), QStringLiteral("b.dng"));
    QVERIFY(!m_viewer->isRawDecoded());
    QCOMPARE(m_viewer->displayImage().size(), QSize(160, 120));
    QCOMPARE(m_viewer->rawControl()->form(), RawDecodeControl::Form::decodeButton);
    QVERIFY(m_viewer->rawControl()->isVisible());
}

void TestImageViewerView::failedRawDecodeSaysWhyAndKeepsThePreview_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("why");
    QTest::newRow("JPEG data named .nef")
        << QString() << loadFailureText(&ImageLoadError::sourceCreationFailed);
    QTest::newRow("RAF without sensor data") << QStringLiteral("raw/fujifilm_s5pro_stripped.raf")
                                             << loadFailureText(&ImageLoadError::decodeFailed);
}

void TestImageViewerView::failedRawDecodeSaysWhyAndKeepsThePreview()
{
    QFETCH(QString, sample);
    QFETCH(QString, why);
    QString path = ImagingFixtures::sample(sample);
    if (sample.isEmpty())
        path = ImagingFixtures::writeJpeg(m_dir->filePath(QStringLiteral("DSC_0001.NEF")),
                                          ImagingFixtures::quadrantPicture(600, 400));
    else if (!QFile::exists(path))
        QSKIP("the shared camera samples are not installed");
    setImages({ImageItem(path)});
    showAt(0);
    waitLoaded();
    QVERIFY(!m_viewer->displayImage().isNull());
    const qint64 previewKey = m_viewer->displayImage().cacheKey();

    m_viewer->decodeRAW();
    QTRY_VERIFY_WITH_TIMEOUT(!m_viewer->isDecodingRAW(), 30000);
    QVERIFY(!m_viewer->isRawDecoded());
    QCOMPARE(m_state->toastMessage().value_or(QString()), QStringLiteral("RAW 解码失败: ") + why);
    QCOMPARE(m_viewer->displayImage().cacheKey(), previewKey);
    QVERIFY(!m_viewer->errorColumn()->isVisible());
    QCOMPARE(m_viewer->rawControl()->form(), RawDecodeControl::Form::decodeButton);
}

void TestImageViewerView::staleLoadIsDiscarded()
{
    const ImageItem slow = addJpeg(QStringLiteral("big.jpg"), 4000, 3000);
    const ImageItem quick = addJpeg(QStringLiteral("small.jpg"), 320, 200);
    setImages({slow, quick});
    QSignalSpy discarded(m_viewer.get(), &ImageViewerView::staleResultDiscarded);

    // Both in one turn of the event loop: the first load cannot have been
    // applied before the user moved on.
    showAt(0);
    showAt(1);
    waitLoaded();
    QVERIFY(discarded.count() > 0 || discarded.wait(20000));
    QCOMPARE(m_viewer->item()->filename(), QStringLiteral("small.jpg"));
    QCOMPARE(m_viewer->displayImage().size(), QSize(320, 200));
    QCOMPARE(m_viewer->zoomableView()->imagePixelSize(), QSizeF(320, 200));
    QVERIFY(!m_viewer->errorMessage());
}

void TestImageViewerView::staleDecodeIsDiscarded()
{
    const QString path = m_dir->filePath(QStringLiteral("large.dng"));
    QVERIFY(
        ImagingFixtures::writeDng(path, 2400, 1600, ImagingFixtures::quadrantPicture(160, 120)));
    const ImageItem quick = addJpeg(QStringLiteral("next.jpg"), 320, 200);
    setImages({ImageItem(path), quick});
    showAt(0);
    waitLoaded();
    QSignalSpy discarded(m_viewer.get(), &ImageViewerView::staleResultDiscarded);

    m_viewer->decodeRAW();
    QVERIFY(m_viewer->isDecodingRAW());
    m_state->nextImage();
    QVERIFY(!m_viewer->isDecodingRAW());
    QVERIFY(discarded.wait(30000));
    QCOMPARE(m_viewer->item()->filename(), QStringLiteral("next.jpg"));
    QTRY_COMPARE(m_viewer->displayImage().size(), QSize(320, 200));
    QVERIFY(!m_viewer->isRawDecoded());
    QVERIFY(!m_viewer->rawControl()->isVisible());
    QVERIFY(m_state->toastMessage() != QStringLiteral("RAW 解码成功"));
}

void TestImageViewerView::contextMenuCopiesAndReveals()
{
    const ImageItem photo = addJpeg(QStringLiteral("photo.jpg"), 600, 400);
    setImages({photo});
    showAt(0);
    QVERIFY(m_viewer->createContextMenu(nullptr) == nullptr); // nothing on screen yet
    waitLoaded();

    std::unique_ptr<QMenu> menu(m_viewer->createContextMenu(nullptr));
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0]->text(), QStringLiteral("在访达中显示"));
    QCOMPARE(actions[1]->text(), QStringLiteral("复制图片"));

    QGuiApplication::clipboard()->clear();
    actions[1]->trigger();
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(600, 400));
    QCOMPARE(copied.convertToFormat(QImage::Format_RGB32),
             m_viewer->displayImage().convertToFormat(QImage::Format_RGB32));

    actions[0]->trigger();
    QCOMPARE(m_revealed, QStringList{photo.path()});

    // The menu opens over the picture, not over the bars and buttons on it.
    const auto requestMenuOn = [](QWidget *widget) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, widget->rect().center(),
                                widget->mapToGlobal(widget->rect().center()));
        QApplication::sendEvent(widget, &event);
        QWidget *popup = QApplication::activePopupWidget();
        if (popup)
            popup->close();
        return popup != nullptr;
    };
    QVERIFY(!requestMenuOn(m_viewer->statusBar()));
    QVERIFY(!requestMenuOn(m_viewer->backButton()));
    QVERIFY(requestMenuOn(m_viewer->zoomableView()));
}

void TestImageViewerView::longNameIsElidedAndTheBarKeepsItsParts()
{
    const QString name = QString(240, QLatin1Char('x')) + QStringLiteral("_END.CR3");
    setImages(
        {ImageItem(m_dir->filePath(name)), ImageItem(m_dir->filePath(QStringLiteral("b.jpg")))});
    showAt(0);
    ViewerStatusBar *bar = m_viewer->statusBar();
    QTRY_VERIFY(bar->isVisible());
    QCOMPARE(bar->filenameText(), name);
    const QString shown = bar->shownFilenameText();
    QVERIFY2(shown.contains(QChar(0x2026)) && shown.startsWith(QStringLiteral("xxx")) &&
                 shown.endsWith(QStringLiteral("_END.CR3")),
             qPrintable(shown));
    QVERIFY(bar->isRawBadgeShown());
    QVERIFY(bar->rect().contains(bar->positionGeometry()));
    QVERIFY(bar->rect().contains(bar->rawBadgeGeometry()));
    QVERIFY(bar->positionGeometry().right() < bar->rawBadgeGeometry().left());
}

void TestImageViewerView::starsShowAndSetTheRating()
{
    const ImageItem photo = addJpeg(QStringLiteral("photo.jpg"), 300, 200);
    setImages({photo});
    showAt(0);
    QCOMPARE(m_viewer->statusBar()->shownRating(), 0);
    m_state->updateRating(4, photo);
    QCOMPARE(m_viewer->statusBar()->shownRating(), 4);

    // The control reports a choice; the state takes it and shows it back.
    Q_EMIT m_viewer->statusBar()->ratingChosen(2);
    QCOMPARE(m_state->rating(photo), 2);
    QCOMPARE(m_viewer->statusBar()->shownRating(), 2);
}

void TestImageViewerView::neighboursArePrefetchedWithinBounds()
{
    QList<ImageItem> items;
    for (int i = 0; i < 5; ++i)
        items.append(addJpeg(QStringLiteral("p%1.jpg").arg(i), 640 + i, 480));
    setImages(items);
    showAt(2);
    waitLoaded();
    // The shown picture plus both neighbours, never more.
    QTRY_COMPARE(m_viewer->prefetchCache().keptCount(), 3);

    m_state->nextImage();
    QVERIFY(!m_viewer->isLoading()); // shown at once, from the cache
    QCOMPARE(m_viewer->displayImage().width(), 643);
    QTRY_COMPARE(m_viewer->prefetchCache().keptCount(), 3);
    QVERIFY(m_viewer->prefetchCache().keptBytes() <= m_viewer->prefetchCache().byteBudget());
    QVERIFY(!m_viewer->prefetchCache().image(items[1]));
    QVERIFY(m_viewer->prefetchCache().image(items[4]).has_value());
}

void TestImageViewerView::burstOfStepsDecodesOnlyTheNewest()
{
    QList<ImageItem> items;
    for (int i = 0; i < 6; ++i)
        items.append(addJpeg(QStringLiteral("burst%1.jpg").arg(i), 1600 + i, 1000));
    setImages(items);
    QSignalSpy discarded(m_viewer.get(), &ImageViewerView::staleResultDiscarded);

    // Six requests in one turn of the event loop, as a held arrow key makes
    // them: the first is in flight, each later one replaces the waiting one.
    showAt(0);
    for (int i = 1; i < items.size(); ++i)
        m_state->nextImage();
    waitLoaded();
    QCOMPARE(m_viewer->displayImage().width(), 1605);
    QCOMPARE(m_viewer->shownImageLoader().startedJobs(), 2);
    QCOMPARE(discarded.count(), 1);
    QVERIFY(!m_viewer->errorMessage());
}

void TestImageViewerView::prefetchInFlightIsHandedOverWhateverItsSize()
{
    // A budget that keeps none of these pictures: each is larger than a third.
    NeighbourPrefetchCache &cache = m_viewer->prefetchCache();
    cache.setByteBudget(3 * 100'000);
    QList<ImageItem> items;
    for (int i = 0; i < 3; ++i)
        items.append(addJpeg(QStringLiteral("large%1.jpg").arg(i), 640 + i, 480));
    setImages(items);

    // Right after a prefetch has started (queued: before its result can
    // arrive), first step onto that neighbour, then leave the viewer and
    // re-enter it on the next neighbour being prefetched.
    int decodesAtReentry = -1;
    connect(
        &cache, &NeighbourPrefetchCache::prefetchStarted, this,
        [&](const QUuid &id) {
            if (id == items[1].id() && m_state->currentIndex() == 0) {
                m_state->nextImage();
                QVERIFY(m_viewer->isLoading());
            } else if (id == items[2].id() && decodesAtReentry < 0) {
                QCOMPARE(m_viewer->displayImage().width(), 641);
                decodesAtReentry = cache.startedDecodes();
                m_state->setViewerActive(false);
                m_state->selectImage(2);
                QVERIFY(m_viewer->isLoading());
            }
        },
        Qt::QueuedConnection);
    showAt(0);
    QTRY_VERIFY(decodesAtReentry >= 0);
    waitLoaded();
    QCOMPARE(m_viewer->item()->id(), items[2].id());
    QCOMPARE(m_viewer->displayImage().width(), 642);
    // The viewer's own loader decoded only the first picture.
    QCOMPARE(m_viewer->shownImageLoader().startedJobs(), 1);
    QCOMPARE(cache.keptCount(), 0);
    // Pictures that do not fit are not decoded again and again either.
    QTRY_VERIFY(!cache.isPrefetching(items[1]));
    QCOMPARE(cache.startedDecodes(), decodesAtReentry + 1);
}

void TestImageViewerView::neighbourFailingWhilePrefetchedShowsItsError()
{
    const ImageItem good = addJpeg(QStringLiteral("good.jpg"), 300, 200);
    QFile broken(m_dir->filePath(QStringLiteral("broken.jpg")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("\xFF\xD8 not really a JPEG");
    broken.close();
    const ImageItem bad(broken.fileName());
    setImages({good, bad});
    // Stepped onto while its prefetch runs, the viewer waits for that decode.
    connect(
        &m_viewer->prefetchCache(), &NeighbourPrefetchCache::prefetchStarted, this,
        [&](const QUuid &id) {
            if (id == bad.id() && m_state->currentIndex() == 0)
                m_state->nextImage();
        },
        Qt::QueuedConnection);
    showAt(0);
    QTRY_COMPARE(m_state->currentIndex(), 1);
    waitLoaded();
    QCOMPARE(m_viewer->errorMessage().value_or(QString()),
             loadFailureText(&ImageLoadError::decodeFailed));
}

void TestImageViewerView::largeJpegShowsAStandInThenSharpensInPlace()
{
    // 4000 x 3000 fitted into 1200 x 800: a 3/8 decode (1500 x 1125) covers it.
    setImages({addJpeg(QStringLiteral("large.jpg"), 4000, 3000)});
    ZoomableImageView *view = m_viewer->zoomableView();
    int standIns = 0;
    QRectF zoomedFrame;
    // Runs after the viewer's own handler has put the stand-in on screen.
    connect(&m_viewer->shownImageLoader(), &ShownImageLoader::standInLoaded, this, [&] {
        ++standIns;
        QVERIFY(view->showsStandIn() && view->isVisible());
        QCOMPARE(view->imagePixelSize(), QSizeF(4000, 3000));
        QVERIFY(m_viewer->isLoading() && !m_viewer->loadingColumn()->isVisible());
        // The editor and the clipboard only ever get the full picture.
        QVERIFY(m_viewer->displayImage().isNull());
        QVERIFY(!m_viewer->exportButton()->isVisible());
        // The user zooms in before the full picture arrives.
        view->setMagnification(2.0, QPointF(300, 200));
        zoomedFrame = view->imageRectInView();
    });
    showAt(0);
    waitLoaded();
    QCOMPARE(standIns, 1);
    QCOMPARE(m_viewer->displayImage().size(), QSize(4000, 3000));
    QVERIFY(!view->showsStandIn());
    QCOMPARE(view->magnification(), 2.0);
    QCOMPARE(view->imageRectInView(), zoomedFrame);
}

void TestImageViewerView::backButtonLeavesTheViewer()
{
    setImages({addJpeg(QStringLiteral("photo.jpg"), 300, 200)});
    showAt(0);
    waitLoaded();
    QTest::mouseClick(m_viewer->backButton(), Qt::LeftButton);
    QVERIFY(!m_state->isViewerActive());
    QVERIFY(m_state->selectedImage().has_value());
    QVERIFY(m_viewer->displayImage().isNull()); // memory released with the screen
    QCOMPARE(m_viewer->prefetchCache().keptCount(), 0);
}

QTEST_MAIN(TestImageViewerView)
#include "tst_imageviewerview.moc"
