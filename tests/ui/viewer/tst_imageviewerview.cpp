// The viewer screen's wiring; the loading rules are tst_shownpicture's.
#include "BrowseFixtures.h"
#include "ImagingFixtures.h"
#include "common/FileRevealer.h"
#include "common/FocusAreaDisplay.h"
#include "common/FocusAreaOverlay.h"
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
#include "viewing/ShownPicture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace ImagingFixtures;
using Form = RawDecodeControl::Form;

namespace {
struct RecordingRevealer : FileRevealer
{
    QStringList revealed;
    void reveal(const QString &absolutePath) override { revealed.append(absolutePath); }
};
} // namespace

class TestImageViewerView : public QObject
{
    Q_OBJECT

    WorkQueues m_queues;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<ImageViewerView> m_viewer;
    RecordingRevealer *m_revealer = nullptr; // owned by the viewer

    ImageItem addJpeg(const QString &name, int width, int height)
    {
        return ImageItem(writeJpeg(m_dir->filePath(name), quadrantPicture(width, height)));
    }
    void showAt(int index)
    {
        m_state->selectImage(index);
        QVERIFY(m_state->isViewerActive());
    }
    void waitLoaded() { QTRY_VERIFY(!m_viewer->isLoading()); }
    QString toast() const { return m_state->toastMessage().value_or(QString()); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_state = BrowseFixtures::makeState(m_queues, m_dir->path());
        m_viewer = std::make_unique<ImageViewerView>(*m_state, m_queues);
        auto revealer = std::make_unique<RecordingRevealer>();
        m_revealer = revealer.get();
        m_viewer->setFileRevealer(std::move(revealer));
        m_viewer->resize(1200, 800);
        m_viewer->show();
    }
    void cleanup() { m_viewer.reset(), m_state.reset(), m_dir.reset(); }

    void arrowsAndPositionFollowTheList()
    {
        QList<ImageItem> items;
        for (int i = 0; i < 119; ++i)
            items.append(ImageItem(m_dir->filePath(QStringLiteral("IMG_%1.jpg").arg(i))));
        const QString longName = QString(240, QLatin1Char('x')) + QStringLiteral("_END.CR3");
        m_state->setImages(items << ImageItem(m_dir->filePath(longName)));
        const auto arrowsShown = [this] {
            return std::pair(m_viewer->previousButton()->isVisible(),
                             m_viewer->nextButton()->isVisible());
        };
        showAt(0);
        QCOMPARE(arrowsShown(), std::pair(false, true));
        QTest::mouseClick(m_viewer->nextButton(), Qt::LeftButton);
        QTest::mouseClick(m_viewer->nextButton(), Qt::LeftButton);
        QCOMPARE(m_viewer->statusBar()->filenameText(), QStringLiteral("IMG_2.jpg"));
        QTest::mouseClick(m_viewer->previousButton(), Qt::LeftButton);
        QCOMPARE(m_viewer->item()->filename(), QStringLiteral("IMG_1.jpg"));
        // The last one has a long RAW name: elided in the middle, the bar keeps its parts.
        showAt(119);
        ViewerStatusBar *bar = m_viewer->statusBar();
        QTRY_VERIFY(bar->isVisible());
        QCOMPARE(bar->positionText(), QStringLiteral("第 120 / 120 张"));
        QCOMPARE(arrowsShown(), std::pair(true, false));
        QCOMPARE(bar->filenameText(), longName);
        const QString shown = bar->shownFilenameText();
        QVERIFY2(shown.contains(QChar(0x2026)) && shown.startsWith(QStringLiteral("xxx")) &&
                     shown.endsWith(QStringLiteral("_END.CR3")),
                 qPrintable(shown));
        QVERIFY(bar->isRawBadgeShown() && bar->rect().contains(bar->rawBadgeGeometry()));
        QVERIFY(bar->positionGeometry().right() < bar->rawBadgeGeometry().left());
    }

    void showsLoadingThenPictureOrErrorAndActsOnThePicture_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        QTest::newRow("jpeg") << QByteArray() << QString();
        QTest::newRow("corrupt") << QByteArray("\xFF\xD8\xFF\xE0 not really a jpeg")
                                 << ImageLoadError::decodeFailed().errorDescription();
    }
    void showsLoadingThenPictureOrErrorAndActsOnThePicture()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const ImageItem item = addJpeg(QStringLiteral("photo.jpg"), 600, 400);
        QVERIFY(content.isEmpty() || writeBytes(item.path(), content));
        QSignalSpy requested(m_viewer.get(), &ImageViewerView::exportRequested);
        m_state->setImages({item});
        showAt(0);
        QVERIFY(m_viewer->isLoading() && m_viewer->loadingColumn()->isVisible());
        QVERIFY(!m_viewer->exportButton()->isVisible() && !m_viewer->createContextMenu(nullptr));
        waitLoaded();
        QVERIFY(!m_viewer->loadingColumn()->isVisible());
        QVERIFY(!m_viewer->statusBar()->isRawBadgeShown() && !m_viewer->rawControl()->isVisible());
        QCOMPARE(m_viewer->errorMessage().value_or(QString()), message);
        QCOMPARE(m_viewer->errorColumn()->isVisible(), !message.isEmpty());
        QCOMPARE(m_viewer->zoomableView()->isVisible(), message.isEmpty());
        QCOMPARE(m_viewer->exportButton()->isVisible(), message.isEmpty());
        if (!message.isEmpty())
            return;
        const qint64 shown = m_viewer->displayImage().cacheKey();
        QCOMPARE(m_viewer->zoomableView()->image().cacheKey(), shown);
        // Not a decoded RAW: the editor opens without a question.
        m_viewer->setRawExportConfirmation(
            [](QWidget *, std::function<void(bool)>) { QFAIL("asked"); });
        QTest::mouseClick(m_viewer->exportButton(), Qt::LeftButton);
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested[0][0].value<ImageItem>(), item);
        QCOMPARE(requested[0][1].value<QImage>().cacheKey(), shown);
        std::unique_ptr<QMenu> menu(m_viewer->createContextMenu(nullptr));
        const QList<QAction *> actions = menu->actions();
        QGuiApplication::clipboard()->clear();
        actions[1]->trigger();
        const QImage copied = QGuiApplication::clipboard()->image();
        QCOMPARE(copied.convertToFormat(QImage::Format_RGB32),
                 m_viewer->displayImage().convertToFormat(QImage::Format_RGB32));
        actions[0]->trigger();
        QCOMPARE(m_revealer->revealed, QStringList{item.path()});
        // The menu opens over the picture, not over the bars and buttons on it.
        const auto requestMenuOn = [](QWidget *widget) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, widget->rect().center(),
                                    widget->mapToGlobal(widget->rect().center()));
            QApplication::sendEvent(widget, &event);
            QWidget *popup = QApplication::activePopupWidget();
            return popup && popup->close();
        };
        QVERIFY(!requestMenuOn(m_viewer->statusBar()));
        QVERIFY(!requestMenuOn(m_viewer->backButton()));
        QVERIFY(requestMenuOn(m_viewer->zoomableView()));
        // The stars show the rating; a chosen one goes to the state and shows back.
        m_state->updateRating(4, item);
        QCOMPARE(m_viewer->statusBar()->shownRating(), 4);
        Q_EMIT m_viewer->statusBar()->ratingChosen(2);
        QCOMPARE(m_state->rating(item), 2);
        QCOMPARE(m_viewer->statusBar()->shownRating(), 2);
        // The flag and label show beside the stars; the menu sets them, purple too.
        m_state->setFlag(CullingFlag::reject, {item});
        const auto chooseInMenu = [&](const QString &text) {
            std::unique_ptr<QMenu> marks(m_viewer->createContextMenu(nullptr));
            const QList<QAction *> entries = marks->actions();
            const auto found = std::ranges::find(entries, text, &QAction::text);
            QVERIFY(found != entries.end());
            (*found)->trigger();
        };
        chooseInMenu(QStringLiteral("紫色"));
        QCOMPARE(m_viewer->statusBar()->shownMark(),
                 (CullingMark{CullingFlag::reject, ColourLabel::purple}));
        chooseInMenu(QStringLiteral("留用"));
        chooseInMenu(QStringLiteral("紫色"));
        QCOMPARE(m_state->mark(item), (CullingMark{CullingFlag::pick, ColourLabel::none}));
        QCOMPARE(m_viewer->statusBar()->shownMark(), m_state->mark(item));
        QTest::mouseClick(m_viewer->backButton(), Qt::LeftButton);
        QVERIFY(!m_state->isViewerActive() && m_state->selectedImage().has_value());
        QVERIFY(m_viewer->displayImage().isNull()); // memory released with the screen
        QVERIFY(m_viewer->shownPicture().state() == ShownPicture::State::empty);
        QCOMPARE(m_viewer->prefetchCache().keptCount(), 0);
    }

    void rawDecodeThenExportAsksFirstOrSaysWhyItFailed()
    {
        const QString path = m_dir->filePath(QStringLiteral("raw.dng"));
        QVERIFY(writeDng(path, 640, 480, quadrantPicture(160, 120)));
        QList<std::function<void(bool)>> answers;
        m_viewer->setRawExportConfirmation(
            [&](QWidget *, std::function<void(bool)> answer) { answers.append(answer); });
        QSignalSpy requested(m_viewer.get(), &ImageViewerView::exportRequested);
        m_state->setImages({ImageItem(path), addJpeg(QStringLiteral("DSC_1.NEF"), 600, 400)});
        showAt(0);
        QVERIFY(!m_viewer->rawControl()->isVisible()); // not while loading
        waitLoaded();
        QCOMPARE(m_viewer->displayImage().size(), QSize(160, 120)); // the stored preview
        QVERIFY(m_viewer->statusBar()->isRawBadgeShown() && m_viewer->rawControl()->isVisible());
        QCOMPARE(m_viewer->rawControl()->form(), Form::decodeButton);
        m_viewer->decodeRAW();
        QCOMPARE(m_viewer->rawControl()->form(), Form::decoding);
        QTRY_VERIFY_WITH_TIMEOUT(m_viewer->isRawDecoded(), 30000);
        QCOMPARE(m_viewer->rawControl()->form(), Form::decoded);
        QCOMPARE(m_viewer->displayImage().size(), QSize(640, 480));
        QCOMPARE(toast(), QStringLiteral("RAW 解码成功"));
        QCOMPARE(m_viewer->zoomableView()->image().cacheKey(), m_viewer->displayImage().cacheKey());
        // "取消": nothing opens.
        m_viewer->requestFrameExport();
        QCOMPARE(answers.size(), 1);
        answers.takeFirst()(false);
        QCOMPARE(requested.count(), 0);
        QVERIFY(!m_state->isSheetPresented());
        // "继续": the editor gets the decoded picture.
        m_viewer->requestFrameExport();
        answers.takeFirst()(true);
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested[0][1].value<QImage>().size(), QSize(640, 480));
        QVERIFY(m_state->isSheetPresented());
        m_viewer->frameExportClosed();
        // JPEG data named .NEF: a preview, but no sensor data to develop.
        showAt(1);
        waitLoaded();
        m_viewer->decodeRAW();
        QTRY_VERIFY_WITH_TIMEOUT(!m_viewer->isDecodingRAW(), 30000);
        QCOMPARE(toast(), QStringLiteral("RAW 解码失败: ") +
                              ImageLoadError::sourceCreationFailed().errorDescription());
        QVERIFY(!m_viewer->displayImage().isNull() && !m_viewer->errorColumn()->isVisible());
        QCOMPARE(m_viewer->rawControl()->form(), Form::decodeButton);
    }

    // Z and the focus areas as the window's keys and the bar's buttons reach them.
    void loupeAndFocusAreasStayOnWhileStepping()
    {
        const ImageItem focused = addJpeg(QStringLiteral("c.jpg"), 600, 400);
        editExif(focused.path(), [](Exiv2::ExifData &exif) {
            Exiv2::UShortValue area;
            area.read("300 200 60 40");
            exif["Exif.Photo.SubjectArea"] = area;
        });
        m_state->setImages({addJpeg(QStringLiteral("a.jpg"), 2400, 1600),
                            addJpeg(QStringLiteral("b.jpg"), 600, 400), focused});
        showAt(0);
        waitLoaded();
        QCursor::setPos(m_viewer->mapToGlobal(QPoint(-100, -100))); // away from the picture
        ZoomableImageView *view = m_viewer->zoomableView();
        // No focus point known: 100 % at the middle of the photo.
        m_viewer->toggleActualPixels();
        QCOMPARE(view->imageRectInView().width() * view->devicePixelRatioF(), 2400.0);
        const QPointF middle = view->relativePointAt(QRectF(view->rect()).center());
        QVERIFY(std::abs(middle.x() - 0.5) < 1e-3 && std::abs(middle.y() - 0.5) < 1e-3);
        m_viewer->toggleActualPixels();
        QVERIFY(view->isFitted());

        const auto focusAction = [this] {
            waitLoaded(); // the picture's menu comes with a picture
            std::unique_ptr<QMenu> menu(m_viewer->createContextMenu(nullptr));
            QVERIFY(menu);
            const QList<QAction *> actions = menu->actions();
            const auto found =
                std::ranges::find(actions, QStringLiteral("显示对焦点"), &QAction::text);
            QVERIFY(found != actions.end() && (*found)->isCheckable());
            QCOMPARE((*found)->isChecked(), m_viewer->focusAreas().isShown());
            (*found)->trigger();
        };
        focusAction();
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("没有对焦点信息"));
        QToolButton *button = m_viewer->statusBar()->focusAreasButton();
        QVERIFY(button->isChecked());
        m_state->setStatusMessage(QString());
        showAt(1);
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("没有对焦点信息"));
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!m_viewer->focusAreas().isShown() && !button->isChecked());
        focusAction();
        QVERIFY(m_viewer->focusAreas().isShown() && button->isChecked());
        // A photo with a subject area: drawn, and the "none" of the last one goes.
        showAt(2);
        QTRY_VERIFY(!m_viewer->focusAreas().overlay()->isHidden());
        QCOMPARE(m_state->statusMessage(), QString());
        // Full screen is the window's: the button asks and stays as it was.
        QSignalSpy fullScreen(m_viewer.get(), &ImageViewerView::fullScreenToggleRequested);
        QTest::mouseClick(m_viewer->statusBar()->fullScreenButton(), Qt::LeftButton);
        QCOMPARE(fullScreen.count(), 1);
        QVERIFY(!m_viewer->statusBar()->fullScreenButton()->isChecked());
    }

    void staleLoadIsDroppedAndALargeJpegSharpensInPlace()
    {
        // A small picture first, left at once: its result comes too late to be shown.
        m_state->setImages({addJpeg(QStringLiteral("small.jpg"), 320, 200),
                            addJpeg(QStringLiteral("large.jpg"), 4000, 3000)});
        QSignalSpy discarded(m_viewer.get(), &ImageViewerView::staleResultDiscarded);
        ZoomableImageView *view = m_viewer->zoomableView();
        int standIns = 0;
        // Runs after the viewer's own handler has put the stand-in on screen.
        connect(&m_viewer->shownImageLoader(), &ShownImageLoader::standInLoaded, this, [&] {
            ++standIns;
            QVERIFY(view->showsStandIn() && view->isVisible());
            QCOMPARE(view->imagePixelSize(), QSizeF(4000, 3000));
            QVERIFY(m_viewer->isLoading() && !m_viewer->loadingColumn()->isVisible());
            // The editor and the clipboard only ever get the full picture.
            QVERIFY(m_viewer->displayImage().isNull() && !m_viewer->exportButton()->isVisible());
        });
        showAt(0);
        showAt(1);
        waitLoaded();
        QTRY_COMPARE(discarded.count(), 1);
        QCOMPARE(standIns, 1);
        QCOMPARE(m_viewer->displayImage().size(), QSize(4000, 3000));
        QVERIFY(!view->showsStandIn());
    }
};

QTEST_MAIN(TestImageViewerView)
#include "tst_imageviewerview.moc"
