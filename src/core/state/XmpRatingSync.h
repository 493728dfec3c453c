#pragma once

#include "imaging/XmpSidecarWriter.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class StarRatingStore;

// Keeps XMP sidecars in step with the rating store while the user's setting
// "将评分同步到 XMP 附属文件" is on (off by default): every rating change is
// also written into the photo's sidecars, in the background. With the setting
// off it does nothing at all: no sidecar is read or written.
//
// A failed write keeps the rating in the store; it is reported once per
// folder and the file is remembered, so that the store's rating is not taken
// back by the older value in the file.
class XmpRatingSync : public QObject
{
    Q_OBJECT

public:
    // The setting is kept in `settingsFile` (INI), or in the application's
    // settings when it is empty.
    XmpRatingSync(StarRatingStore &store, const QString &settingsFile, QObject *parent = nullptr);
    ~XmpRatingSync() override;

    static QString settingKey();

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // Writes the given ratings (path -> 1..5) once, reporting progress.
    void writeAll(const QHash<QString, int> &ratings);

    // Files whose last sidecar write failed (UI thread).
    const QSet<QString> &failedFiles() const { return m_failedFiles; }
    // Blocks until every write posted so far is finished.
    void waitForDone();

Q_SIGNALS:
    void enabledChanged(bool enabled);
    // A text for the status line: a failure (once per folder) or progress.
    void statusReport(const QString &text);

private:
    void onRatingChanged(const QString &path, int oldRating, int newRating);
    void onWritten(const QString &path);
    void onWriteFailed(const QString &path, const QString &reason);
    void countBulkWrite(const QString &path);

    StarRatingStore &m_store;
    QString m_settingsFile;
    bool m_enabled = false;
    QSet<QString> m_failedFiles;
    QSet<QString> m_reportedFolders;
    QSet<QString> m_bulkPending;
    qsizetype m_bulkTotal = 0;
    QString m_bulkFailure;
    XmpSidecarWriter m_writer; // last: drained first on destruction
};
