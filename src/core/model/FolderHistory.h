#pragma once

#include "model/RecentFolder.h"
#include "model/SerialFileWriter.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <memory>
#include <optional>

class QSettings;

// The recently opened folders, most recent first, at most 20, kept under the
// settings key "recentFolders" as a JSON array of {"path","name","lastOpened"}
// (lastOpened in seconds since 2001-01-01 UTC). Entries are never checked
// against the disk: a deleted folder stays until removed. UI thread only;
// changes are written in the background, in order.
class FolderHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int maximumCount = 20;

    // Uses the application's settings (organisation and application "Kelvane").
    explicit FolderHistory(QObject *parent = nullptr);
    // Uses an INI file at `settingsFile` instead; for tests.
    explicit FolderHistory(const QString &settingsFile, QObject *parent = nullptr);
    ~FolderHistory() override;

    const QList<RecentFolder> &folders() const { return m_folders; }

    void add(const QUrl &folderUrl);
    void remove(const RecentFolder &folder);
    void clearAll();

    // Blocks until every change so far is written to the settings.
    void waitForSaved();

    // JSON form of the stored value; exposed for tests.
    static QByteArray encode(const QList<RecentFolder> &folders);
    static std::optional<QList<RecentFolder>> decode(const QByteArray &json);

Q_SIGNALS:
    void foldersChanged();

private:
    void load();
    void save();
    void setFolders(QList<RecentFolder> folders);

    std::unique_ptr<QSettings> openSettings() const;

    QString m_settingsFile; // empty: the application's settings
    QList<RecentFolder> m_folders;
    SerialFileWriter m_writer;
};
