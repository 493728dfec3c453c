#include "export/FrameExporter.h"

#include "export/FrameExportModel.h"
#include "export/FrameRenderer.h"
#include "imaging/EXIFReader.h"
#include "imaging/ImageLoadResult.h"
#include "imaging/RAWProcessor.h"
#include "model/BackgroundTask.h"
#include "state/AppState.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Worker thread: decorate and write; the written path, empty on failure.
QString renderAndWrite(const QImage &photo, const RenderInputs &inputs, const QString &sourcePath)
{
    const QImage decorated = RenderPipeline::render(photo, inputs);
    if (decorated.isNull())
        return {};
    return FrameRenderer::exportToOutputFolder(decorated, sourcePath, 0.95);
}

} // namespace

QString FrameExporter::progressMessage(int position, int count)
{
    return QStringLiteral("正在处理 %1 / %2").arg(position).arg(count);
}

QString FrameExporter::batchResultMessage(int succeeded, int count)
{
    return QStringLiteral("已套壳 %1 / %2 张").arg(succeeded).arg(count);
}

FrameExporter::FrameExporter(FrameExportModel &model, AppState &state, RAWProcessor &rawProcessor,
                             QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_state(state)
    , m_rawProcessor(rawProcessor)
{}

void FrameExporter::startExport()
{
    if (m_model.items().size() < 2)
        singleExport();
    else
        batchExport();
}

void FrameExporter::singleExport()
{
    if (m_model.sourceImage().isNull() || m_model.isExporting() || m_model.items().isEmpty())
        return;
    m_model.setExporting(true);
    m_model.setExportMessage(QString());

    const QImage photo = m_model.sourceImage();
    const RenderInputs inputs = m_model.renderInputs();
    const QString sourcePath = m_model.items().first().path();
    BackgroundTask::run(
        QThreadPool::globalInstance(), this,
        [photo, inputs, sourcePath] { return renderAndWrite(photo, inputs, sourcePath); },
        [this](const QString &written) {
            if (written.isEmpty()) {
                m_model.setExportMessage(failureMessage());
                m_model.setExporting(false);
                Q_EMIT finished(false);
                return;
            }
            m_state.setToastMessage(successMessage());
            m_model.setExporting(false);
            Q_EMIT finished(true);
        });
}

void FrameExporter::batchExport()
{
    if (m_model.isExporting() || m_model.items().isEmpty())
        return;
    m_model.setExporting(true);
    m_model.setExportMessage(QString());
    m_batchInputs = m_model.batchRenderInputs();
    m_succeeded = 0;
    exportBatchItem(0);
}

void FrameExporter::exportBatchItem(int index)
{
    const QList<ImageItem> &items = m_model.items();
    if (index >= items.size()) {
        finishBatch();
        return;
    }
    m_model.setExportMessage(progressMessage(index + 1, int(items.size())));
    const QString path = items.at(index).path();
    BackgroundTask::whenFinished(
        m_rawProcessor.loadImage(path), this, [this, index, path](QFuture<QImage> loaded) {
            // Unreadable: skipped, only missing from the count.
            const QImage photo = ImageLoadResult::from(loaded).image;
            if (photo.isNull()) {
                exportNextLater(index + 1);
                return;
            }
            BackgroundTask::run(
                QThreadPool::globalInstance(), this,
                [photo, batch = m_batchInputs, path] {
                    const RenderInputs inputs = batch.forPhoto(EXIFReader::read(path));
                    return renderAndWrite(photo, inputs, path);
                },
                [this, index](const QString &written) {
                    if (!written.isEmpty())
                        ++m_succeeded;
                    exportNextLater(index + 1);
                });
        });
}

void FrameExporter::exportNextLater(int index)
{
    // Through the event loop: a continuation of an already finished future runs
    // at once, and a long run of failing files must not nest calls.
    QMetaObject::invokeMethod(
        this, [this, index] { exportBatchItem(index); }, Qt::QueuedConnection);
}

void FrameExporter::finishBatch()
{
    const int count = int(m_model.items().size());
    m_state.setToastMessage(batchResultMessage(m_succeeded, count));
    m_state.clearSelection();
    m_model.setExporting(false);
    Q_EMIT finished(true);
}
