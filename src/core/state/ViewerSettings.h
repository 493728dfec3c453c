#pragma once

#include <QObject>
#include <QString>

// The viewer's settings from the settings dialog, kept in the settings INI.
// UI thread only.
class ViewerSettings : public QObject
{
    Q_OBJECT

public:
    // Kept in `settingsFile` (INI), or in the application's settings when it
    // is empty.
    explicit ViewerSettings(const QString &settingsFile, QObject *parent = nullptr);

    static QString autoAdvanceKey();

    // After a rating given with a key in the viewer, step to the next photo
    // (off by default).
    bool autoAdvance() const { return m_autoAdvance; }
    void setAutoAdvance(bool enabled);

Q_SIGNALS:
    void autoAdvanceChanged(bool enabled);

private:
    QString m_settingsFile;
    bool m_autoAdvance = false;
};
