#include "EditorFixtures.h"
#include "FifoGate.h"
#include "common/Theme.h"
#include "editor/ColorPanelCoordinator.h"
#include "editor/CustomColorButton.h"
#include "editor/FrameExportView.h"
#include "editor/PreviewPane.h"
#include "editor/SharedColorPanel.h"
#include "editor/SliderRow.h"
#include "export/LogoCatalogue.h"
#include "export/PreviewScheduler.h"
#include "imaging/RAWProcessor.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QColorDialog>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

using namespace EditorFixtures;

class TestFrameExportView : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    WorkQueues m_queues;
    std::unique_ptr<AppState> m_state;
    QString m_photo;

    QList<ImageItem> items(int count, const QString &folderName)
    {
        QList<ImageItem> list;
        for (int i = 1; i <= count; ++i)
            list << ImageItem(writePhoto(
                m_dir.filePath(folderName + QStringLiteral("/%1.jpg").arg(i)), {320, 200}));
        return list;
    }

    static QColorDialog *panel() { return SharedColorPanel::instance().panel(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_state = std::make_unique<AppState>(m_queues, m_dir.filePath("ratings.json"),
                                             m_dir.filePath("settings.ini"));
        m_photo = writePhoto(m_dir.filePath(QStringLiteral("single/photo.jpg")), {900, 600},
                             {"NIKON CORPORATION", "NIKON Z 8", "NIKKOR Z 24-70mm f/2.8 S"});
    }

    // A FIFO read holds the editor's one decoder; the batch's first image waits
    // behind it, loading until previewed, and closing the editor returns at once.
    void firstImageHeldBack()
    {
        for (const bool close : {false, true}) {
            FifoGate gate(m_dir.filePath(QStringLiteral("gate_%1.fifo").arg(close)));
            QVERIFY(gate.isMade());
            auto editor = std::make_unique<FrameExportView>(*m_state, LogoCatalogue());
            const QFuture<QImage> held = editor->rawProcessor().loadImage(gate.path());
            QSignalSpy answered(&editor->previewScheduler(), &PreviewScheduler::previewUpdated);
            editor->init(items(close ? 1 : 2, QStringLiteral("held_%1").arg(close)));
            QTRY_VERIFY(gate.isHeld());
            if (close) {
                editor->reject();
                editor.reset(); // returns with the load still held
                QVERIFY(!held.isFinished() && !m_state->isSheetPresented());
                gate.release();
                m_queues.processorRetirement().waitForDone();
                continue;
            }
            QVERIFY(answered.wait(5000)); // the debounced update, with nothing to render yet
            QVERIFY(editor->model().sourceImage().isNull() && editor->model().isInitialLoading());
            QVERIFY(editor->previewPane()->isLoading());
            gate.release();
            QTRY_VERIFY(!editor->model().isInitialLoading());
            QVERIFY(!editor->model().sourceImage().isNull() &&
                    !editor->model().previewImage().isNull());
            QVERIFY(!editor->previewPane()->isLoading() && held.isFinished());
        }
    }

    void textsPanelModesAndMessages()
    {
        // The program sizes its application font in pixels, not in points.
        const QFont appFont = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(appFont); });
        QApplication::setFont(Theme::font(Theme::TextStyle::body));
        QTest::failOnWarning(QRegularExpression(QStringLiteral("Point size")));
        auto editor = std::make_unique<FrameExportView>(*m_state, LogoCatalogue());
        editor->init(ImageItem(m_photo), QImage(m_photo));
        QTRY_VERIFY(!editor->previewPane()->isLoading()); // the first preview arrived
        QVERIFY(!editor->previewPane()->previewImage().isNull() &&
                editor->exportButton()->isEnabled());
        QSignalSpy sheet(m_state.get(), &AppState::sheetPresentedChanged);
        editor->open();
        QVERIFY(m_state->isSheetPresented());
        editor->model().setExporting(true);
        QTest::keyClick(editor.get(), Qt::Key_Escape);
        QVERIFY(editor->isVisible() && !editor->close() && !editor->cancelButton()->isEnabled());
        editor->model().setExporting(false);
        QTest::keyClick(editor.get(), Qt::Key_Escape);
        QVERIFY(!editor->isVisible() && !m_state->isSheetPresented());

        editor->open();
        CustomColorButton *swatches[2] = {}; // the main text's, the secondary text's
        for (auto *swatch : editor->findChildren<CustomColorButton *>()) {
            if (const int i =
                    QStringList{"主文字颜色", "副文字颜色"}.indexOf(swatch->accessibleName());
                i >= 0)
                swatches[i] = swatch;
        }
        QVERIFY(swatches[0] && swatches[1]);
        editor->model().setSecondaryColor(QColor(10, 200, 30));
        QTest::mouseClick(swatches[0], Qt::LeftButton);
        QVERIFY(panel()->isVisible() && !panel()->testOption(QColorDialog::ShowAlphaChannel));
        QCOMPARE(panel()->currentColor(), QColor(Qt::black)); // opens at the swatch's colour
        QTest::mouseClick(swatches[1], Qt::LeftButton);
        QCOMPARE(panel()->currentColor(), QColor(10, 200, 30));
        panel()->setCurrentColor(QColor(200, 0, 0));
        QCOMPARE(editor->model().secondaryColor(), QColor(200, 0, 0));
        QCOMPARE(swatches[1]->color(), QColor(200, 0, 0));
        QTest::keyClick(editor.get(), Qt::Key_Escape);
        QVERIFY(editor->isVisible());
        editor->reject();
        QCOMPARE(sheet.count(), 4);
        QVERIFY(!editor->colorCoordinator().hasHandler() && !SharedColorPanel::instance().target());
        panel()->setCurrentColor(QColor(0, 0, 255)); // the panel stays open, changes go nowhere
        QCOMPARE(editor->model().primaryColor(), QColor(Qt::black));
        editor->show();
        editor->model().setExportMessage(QStringLiteral("导出失败"));
        QVERIFY(editor->messageLabel()->isVisible());
        const auto row = [&editor](const char *name) {
            return editor->findChild<SliderRow *>(QString::fromUtf8(name));
        };
        SliderRow *rotation = row("旋转角度"), *margin = row("边距"), *size = row("文字大小");
        auto *brandPicker = editor->findChild<QWidget *>(QStringLiteral("brandPicker"));
        QVERIFY(rotation && margin && size && brandPicker);
        QVERIFY(!rotation->isVisible() && brandPicker->isVisible());
        editor->model().setEditMode(EditMode::watermark);
        QVERIFY(!brandPicker->isVisible());
        WatermarkConfig config = editor->model().watermark();
        config.kind = WatermarkConfig::Kind::tiled;
        editor->model().setWatermark(config);
        QVERIFY(rotation->isVisible() && !margin->isVisible()); // tiles ignore position, margin
        rotation->slider()->setValue(rotation->slider()->minimum());
        QCOMPARE(rotation->valueText(), QStringLiteral("-90°"));
        QCOMPARE(editor->model().watermark().tileRotationDegrees, -90.0);

        // The wheel goes to the scrolling pane unless the slider has focus.
        editor->model().setEditMode(EditMode::both);
        const double before = size->value();
        auto wheelTaken = [&] {
            const QPointF at = QRectF(size->slider()->rect()).center();
            QWheelEvent event(at, size->slider()->mapToGlobal(at), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(size->slider(), &event);
            return event.isAccepted();
        };
        QVERIFY(!wheelTaken());
        QCOMPARE(size->value(), before);
        size->slider()->setFocus();
        QTRY_VERIFY(size->slider()->hasFocus());
        QVERIFY(wheelTaken());
        QVERIFY(size->value() != before);
    }

    void batchThroughTheExportButton()
    {
        for (const bool firstBroken : {false, true}) {
            const QString folder = QStringLiteral("viewbatch_%1").arg(firstBroken);
            QList<ImageItem> list = items(7, folder);
            if (firstBroken)
                list[0] = ImageItem(writeBytes(m_dir.filePath(folder + "/0.jpg"), "garbage"));
            FrameExportView editor(*m_state, LogoCatalogue());
            editor.init(list);
            QCOMPARE(QStringList({editor.titleText(), editor.exportButton()->text()}),
                     QStringList({"批量边框水印（7 张）", "应用到 7 张"}));
            QVERIFY(!editor.exportButton()->isEnabled());
            QTRY_VERIFY(!editor.model().isInitialLoading());
            QCOMPARE(editor.model().previewImage().isNull(), firstBroken);
            QTRY_COMPARE(editor.exportButton()->isEnabled(), !firstBroken);
            if (firstBroken)
                continue;
            editor.open();
            QSignalSpy finished(&editor, &QDialog::finished);
            QTest::mouseClick(editor.exportButton(), Qt::LeftButton);
            QVERIFY(editor.model().isExporting() && !editor.exportButton()->isVisible());
            QVERIFY(finished.wait(10000));
            QCOMPARE(m_state->toastMessage().value_or(QString()),
                     QStringLiteral("已套壳 7 / 7 张"));
            QVERIFY(!m_state->isSheetPresented());
            QCOMPARE(QDir(m_dir.filePath(folder + "/图片边框")).entryList(QDir::Files).size(), 7);
        }
    }
};

QTEST_MAIN(TestFrameExportView)
#include "tst_frameexportview.moc"
