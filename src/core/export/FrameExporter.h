#pragma once

#include "export/BatchRenderInputs.h"

#include <QObject>
#include <QSet>
#include <QString>

class AppState;
class FrameExportModel;
class RAWProcessor;

// The two export flows of the editor. Rendering and writing run on worker
// threads with copies of the settings taken when the export starts; batch
// images are loaded through the editor's RAW processor and handled strictly
// one after another, so the UI thread only ever sees progress. UI thread only.
class FrameExporter : public QObject
{
    Q_OBJECT

public:
    static QString successMessage()
    {
        return QStringLiteral("导出成功，请到「图片边框」文件夹查看");
    }
    static QString failureMessage() { return QStringLiteral("导出失败"); }
    static QString progressMessage(int position, int count);
    // "已套壳 s / N 张", naming how many "图片边框" folders hold the files when
    // the batch wrote into more than one.
    static QString batchResultMessage(int succeeded, int count, int folders = 1);

    FrameExporter(FrameExportModel &model, AppState &state, RAWProcessor &rawProcessor,
                  QObject *parent = nullptr);

    // The export button: single export for fewer than 2 items, else batch.
    void startExport();
    // Writes the source image decorated with the current settings. On success
    // the toast announces it and finished(true) closes the editor; on failure
    // the editor shows "导出失败" and stays open.
    void singleExport();
    // Loads, decorates and writes every item in order, each with its own EXIF
    // where the user left the editor's texts as they came (BatchRenderInputs);
    // items that fail to load or write are skipped and missing from the count.
    // Ends with the toast "已套壳 s / N 张" (and the number of folders, when
    // several), a cleared selection and finished(true).
    void batchExport();

Q_SIGNALS:
    // The flow has ended; `closeEditor` after a success or a finished batch.
    void finished(bool closeEditor);

private:
    void exportBatchItem(int index);
    void exportNextLater(int index);
    void finishBatch();

    FrameExportModel &m_model;
    AppState &m_state;
    RAWProcessor &m_rawProcessor;

    // The running batch.
    BatchRenderInputs m_batchInputs;
    int m_succeeded = 0;
    QSet<QString> m_folders; // where the written files are
};
