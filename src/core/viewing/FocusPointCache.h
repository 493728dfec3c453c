#pragma once

#include "imaging/FocusPoints.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <optional>

class WorkQueues;

// The focus points of the files a screen shows, read off the UI thread once
// per file and kept for the screen's life (a few hundred bytes each).
// UI thread only.
class FocusPointCache : public QObject
{
    Q_OBJECT

public:
    // Reads run on the background pool of `queues`.
    explicit FocusPointCache(WorkQueues &queues, QObject *parent = nullptr);

    // What is known of `path`: empty areas when the file has none; nothing
    // while it has not been read yet.
    std::optional<FocusPoints> find(const QString &path) const;
    // Reads `path` unless it is known or on its way; ready() follows.
    void request(const QString &path);

Q_SIGNALS:
    void ready(const QString &path);

private:
    WorkQueues &m_queues;
    QHash<QString, FocusPoints> m_known;
    QSet<QString> m_reading;
};
