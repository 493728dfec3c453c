// The export editor window: texts, modes, the colour panel link, Escape and
// closing rules, and a batch through the export button.
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

    std::unique_ptr<FrameExportView> singleEditor()
    {
        auto editor = std::make_unique<FrameExportView>(*m_state, LogoCatalogue());
        editor->init(ImageItem(m_photo), QImage(m_photo));
        return editor;
    }

    QList<ImageItem> items(int count, const QString &folderName)
    {
        QList<ImageItem> list;
        for (int i = 0; i < count; ++i) {
            list << ImageItem(
                writePhoto(m_dir.filePath(QStringLiteral("%1/%2.jpg").arg(folderName).arg(i + 1)),
                           {320, 200}));
        }
        return list;
    }

    // The main text's swatch, then the secondary text's.
    static QList<CustomColorButton *> frameSwatches(FrameExportView &editor)
    {
        QList<CustomColorButton *> swatches(2, nullptr);
        for (auto *swatch : editor.findChildren<CustomColorButton *>()) {
            const qsizetype i =
                QStringList{"主文字颜色", "副文字颜色"}.indexOf(swatch->accessibleName());
            if (i >= 0)
                swatches[i] = swatch;
        }
        return swatches;
    }

    static QColorDialog *panel() { return SharedColorPanel::instance().panel(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_state =
            std::make_unique<AppState>(m_queues, m_dir.filePath(QStringLiteral("ratings.json")),
                                       m_dir.filePath(QStringLiteral("settings.ini")));
        m_photo = writePhoto(m_dir.filePath(QStringLiteral("single/photo.jpg")), {900, 600},
                             {"NIKON CORPORATION", "NIKON Z 8", "NIKKOR Z 24-70mm f/2.8 S"});
    }

    void cleanup()
    {
        if (SharedColorPanel::existing())
            panel()->hide();
    }

    void textsForOneAndSevenItems()
    {
        // The program sizes its application font in pixels, not in points.
        const QFont before = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
        QApplication::setFont(Theme::font(Theme::TextStyle::body));
        QTest::failOnWarning(QRegularExpression(QStringLiteral("Point size")));
        auto single = singleEditor();
        const int body = QFontInfo(QApplication::font()).pixelSize();
        for (const QLabel *label : single->findChildren<QLabel *>()) {
            const int size = QFontInfo(label->font()).pixelSize();
            QVERIFY2(size >= 9, qPrintable(label->text()));
            if (label->text() == QStringLiteral("边框水印")) // the headline
                QVERIFY2(size > body, qPrintable(QString::number(size)));
        }
        QCOMPARE(single->titleText(), QStringLiteral("边框水印"));
        QCOMPARE(single->exportButton()->text(), QStringLiteral("导出"));
        QTRY_VERIFY(!single->previewPane()->isLoading()); // the first preview arrived
        QVERIFY(!single->previewPane()->previewImage().isNull());
        QVERIFY(single->exportButton()->isEnabled());

        FrameExportView batch(*m_state, LogoCatalogue());
        batch.init(items(7, QStringLiteral("seven")));
        QCOMPARE(batch.titleText(), QStringLiteral("批量边框水印（7 张）"));
        QCOMPARE(batch.exportButton()->text(), QStringLiteral("应用到 7 张"));
    }

    void firstImageHeldBack_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("loading until previewed") << false;
        QTest::newRow("closing returns at once") << true;
    }

    // A read of a FIFO holds the editor's decoder (one job at a time) until the
    // test opens the FIFO's other end; the batch's first image waits behind it.
    void firstImageHeldBack()
    {
        QFETCH(bool, close);
        FifoGate gate(m_dir.filePath(QStringLiteral("gate_%1.fifo").arg(close)));
        QVERIFY(gate.isMade());
        auto editor = std::make_unique<FrameExportView>(*m_state, LogoCatalogue());
        QVERIFY(editor->previewPane()->isLoading());
        const QFuture<QImage> held = editor->rawProcessor().loadImage(gate.path());
        QSignalSpy answered(&editor->previewScheduler(), &PreviewScheduler::previewUpdated);
        editor->init(items(close ? 1 : 2, QStringLiteral("held_%1").arg(close)));
        QTRY_VERIFY(gate.isHeld());
        if (close) {
            editor->reject();
            editor.reset(); // returns with the load still held
            QVERIFY(!held.isFinished());
            QVERIFY(!m_state->isSheetPresented());
            gate.release();
            m_queues.processorRetirement().waitForDone();
            return;
        }
        QVERIFY(answered.wait(5000)); // the debounced update, with nothing to render yet
        QVERIFY(editor->model().sourceImage().isNull());
        QVERIFY(editor->model().isInitialLoading());
        QVERIFY(editor->previewPane()->isLoading());
        gate.release();
        QTRY_VERIFY(!editor->model().isInitialLoading());
        QVERIFY(!editor->model().sourceImage().isNull());
        QVERIFY(!editor->model().previewImage().isNull());
        QVERIFY(!editor->previewPane()->isLoading());
        QVERIFY(held.isFinished());
    }

    void modesShowTheirSettingsAndMessages()
    {
        auto editor = singleEditor();
        editor->show();
        editor->model().setExportMessage(QStringLiteral("导出失败"));
        QVERIFY(editor->messageLabel()->isVisible());
        QCOMPARE(editor->messageLabel()->palette().color(QPalette::WindowText).red(), 0xd7);
        editor->model().setExportMessage(QStringLiteral("完成"));
        QCOMPARE(editor->messageLabel()->palette().color(QPalette::WindowText).green(), 0x9d);
        editor->model().setExportMessage(QString());
        QVERIFY(!editor->messageLabel()->isVisible());
        auto *rotation = editor->findChild<SliderRow *>(QStringLiteral("旋转角度"));
        auto *margin = editor->findChild<SliderRow *>(QStringLiteral("边距"));
        QVERIFY(rotation && margin);
        QVERIFY(!rotation->isVisible());
        editor->model().setEditMode(EditMode::watermark);
        auto *brandPicker = editor->findChild<QWidget *>(QStringLiteral("brandPicker"));
        QVERIFY(brandPicker && !brandPicker->isVisible());
        editor->model().setEditMode(EditMode::frame);
        QVERIFY(brandPicker->isVisible());
        editor->model().setEditMode(EditMode::watermark);
        WatermarkConfig config = editor->model().watermark();
        config.kind = WatermarkConfig::Kind::tiled;
        editor->model().setWatermark(config);
        QVERIFY(rotation->isVisible());
        QVERIFY(!margin->isVisible()); // tiles ignore position and margin
        rotation->slider()->setValue(rotation->slider()->minimum());
        QCOMPARE(rotation->valueText(), QStringLiteral("-90°"));
        QCOMPARE(editor->model().watermark().tileRotationDegrees, -90.0);
        auto *opacity = editor->findChild<SliderRow *>(QStringLiteral("不透明度"));
        QVERIFY(opacity);
        opacity->slider()->setValue(opacity->slider()->maximum());
        QCOMPARE(opacity->valueText(), QStringLiteral("100%"));
        QCOMPARE(editor->model().watermark().opacity, 1.0);

        // The wheel goes to the scrolling pane unless the slider has focus.
        editor->model().setEditMode(EditMode::both);
        auto *size = editor->findChild<SliderRow *>(QStringLiteral("文字大小"));
        QVERIFY(size);
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

    void colourGoesOnlyToTheLastClickedSwatch()
    {
        auto editor = singleEditor();
        editor->show();
        const auto swatches = frameSwatches(*editor);
        QVERIFY(swatches[0] && swatches[1]);
        editor->model().setSecondaryColor(QColor(10, 200, 30));
        QTest::mouseClick(swatches[0], Qt::LeftButton);
        QVERIFY(panel()->isVisible());
        QCOMPARE(panel()->currentColor(), QColor(Qt::black)); // opens at the swatch's colour
        QVERIFY(!panel()->testOption(QColorDialog::ShowAlphaChannel));
        QTest::mouseClick(swatches[1], Qt::LeftButton);
        QCOMPARE(panel()->currentColor(), QColor(10, 200, 30));
        panel()->setCurrentColor(QColor(200, 0, 0));
        QCOMPARE(editor->model().secondaryColor(), QColor(200, 0, 0));
        QCOMPARE(editor->model().primaryColor(), QColor(Qt::black));
        QCOMPARE(swatches[1]->color(), QColor(200, 0, 0));
    }

    // Escape and the close box do nothing while exporting, Escape nothing while
    // the colour panel is open; a closed editor lets go of the panel.
    void escapeAndClosingRules()
    {
        auto editor = singleEditor();
        QSignalSpy sheet(m_state.get(), &AppState::sheetPresentedChanged);
        editor->open();
        QVERIFY(m_state->isSheetPresented());
        editor->model().setExporting(true);
        QTest::keyClick(editor.get(), Qt::Key_Escape);
        QVERIFY(editor->isVisible());
        QVERIFY(!editor->close());
        QVERIFY(!editor->cancelButton()->isEnabled());
        editor->model().setExporting(false);
        QTest::keyClick(editor.get(), Qt::Key_Escape);
        QVERIFY(!editor->isVisible());
        QVERIFY(!m_state->isSheetPresented());

        editor->open();
        QTest::mouseClick(frameSwatches(*editor)[0], Qt::LeftButton);
        QTest::keyClick(editor.get(), Qt::Key_Escape);
        QVERIFY(editor->isVisible());
        editor->reject();
        QCOMPARE(sheet.count(), 4);
        QVERIFY(!editor->colorCoordinator().hasHandler());
        QVERIFY(SharedColorPanel::instance().target() == nullptr);
        panel()->setCurrentColor(QColor(0, 0, 255)); // the panel stays open, changes go nowhere
        QCOMPARE(editor->model().primaryColor(), QColor(Qt::black));
    }

    void batchWhoseFirstImageCannotBeLoaded()
    {
        QList<ImageItem> list{
            ImageItem(writeBytes(m_dir.filePath(QStringLiteral("badfirst/1.jpg")), "garbage")),
            ImageItem(writePhoto(m_dir.filePath(QStringLiteral("badfirst/2.jpg")), {300, 200}))};
        FrameExportView editor(*m_state, LogoCatalogue());
        editor.init(list);
        QVERIFY(!editor.exportButton()->isEnabled());
        QTRY_VERIFY(!editor.model().isInitialLoading());
        QVERIFY(editor.model().previewImage().isNull());
        QVERIFY(!editor.exportButton()->isEnabled());
        QVERIFY(!editor.previewPane()->isLoading());
    }

    // The button runs the model's batch flow and closes the editor when done.
    void batchThroughTheExportButton()
    {
        const QList<ImageItem> list = items(2, QStringLiteral("viewbatch"));
        FrameExportView editor(*m_state, LogoCatalogue());
        editor.init(list);
        editor.open();
        QTRY_VERIFY(editor.exportButton()->isEnabled());
        QSignalSpy finished(&editor, &QDialog::finished);
        QTest::mouseClick(editor.exportButton(), Qt::LeftButton);
        QVERIFY(editor.model().isExporting());
        QVERIFY(!editor.exportButton()->isVisible());
        QVERIFY(finished.wait(10000));
        QCOMPARE(m_state->toastMessage().value_or(QString()), QStringLiteral("已套壳 2 / 2 张"));
        QVERIFY(!m_state->isSheetPresented());
        QCOMPARE(framedFiles(m_dir.filePath(QStringLiteral("viewbatch"))).size(), 2);
    }
};

QTEST_MAIN(TestFrameExportView)
#include "tst_frameexportview.moc"
