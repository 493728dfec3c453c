#include "export/FrameExporter.h"

#include "export/FrameExportModel.h"
#include "export/FrameRenderer.h"
#include "imaging/EXIFReader.h"
#include "imaging/ImageLoadResult.h"
#include "imaging/RAWProcessor.h"
#include "model/BackgroundTask.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QFileInfo>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>
#include <exiv2/exiv2.hpp>

namespace {

// Worker thread: decorate and write, the source's metadata carried over; the
// written path, empty on failure. `inputsFor` turns the source's own EXIF
// texts into the render's inputs.
template <typename InputsFor>
QString renderAndWrite(const QImage &photo, const QString &sourcePath, const InputsFor &inputsFor)
{
    Exiv2::ExifData metadata;
    const RenderInputs inputs = inputsFor(EXIFReader::read(sourcePath, &metadata));
    return RenderPipeline::exportToOutputFolder(photo, inputs, sourcePath, 0.95,
                                                ExportMetadata(metadata));
}

} // namespace

QString FrameExporter::progressMessage(int position, int count)
{
    return QStringLiteral("正在处理 %1 / %2").arg(position).arg(count);
}

QString FrameExporter::batchResultMessage(int succeeded, int count, int folders)
{
    QString message = QStringLiteral("已套壳 %1 / %2 张").arg(succeeded).arg(count);
    if (folders > 1)
        message += QStringLiteral("，保存在 %1 个文件夹的「图片边框」中").arg(folders);
    return message;
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
        &m_state.workQueues().background(), this,
        [photo, inputs, sourcePath] {
            return renderAndWrite(photo, sourcePath,
                                  [&inputs](const EXIFData &) { return inputs; });
        },
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
    m_folders.clear();
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
                &m_state.workQueues().background(), this,
                [photo, batch = m_batchInputs, path] {
                    return renderAndWrite(
                        photo, path, [&batch](const EXIFData &own) { return batch.forPhoto(own); });
                },
                [this, index](const QString &written) {
                    if (!written.isEmpty()) {
                        ++m_succeeded;
                        m_folders.insert(QFileInfo(written).path());
                    }
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
    m_state.setToastMessage(batchResultMessage(m_succeeded, count, int(m_folders.size())));
    m_state.clearSelection();
    m_model.setExporting(false);
    Q_EMIT finished(true);
}
