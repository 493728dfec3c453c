#include "state/ViewerSettings.h"

#include "model/SettingsFile.h"

#include <QSettings>
#include <memory>

ViewerSettings::ViewerSettings(const QString &settingsFile, QObject *parent)
    : QObject(parent)
    , m_settingsFile(settingsFile)
    , m_autoAdvance(SettingsFile::open(settingsFile)->value(autoAdvanceKey(), false).toBool())
{}

QString ViewerSettings::autoAdvanceKey()
{
    return QStringLiteral("viewer/autoAdvanceAfterRating");
}

void ViewerSettings::setAutoAdvance(bool enabled)
{
    if (enabled == m_autoAdvance)
        return;
    m_autoAdvance = enabled;
    SettingsFile::open(m_settingsFile)->setValue(autoAdvanceKey(), enabled);
    Q_EMIT autoAdvanceChanged(enabled);
}
