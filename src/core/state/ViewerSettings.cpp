#include "state/ViewerSettings.h"

#include <QSettings>
#include <memory>

namespace {

std::unique_ptr<QSettings> openSettings(const QString &settingsFile)
{
    if (settingsFile.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Kelvane"), QStringLiteral("Kelvane"));
    return std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
}

} // namespace

ViewerSettings::ViewerSettings(const QString &settingsFile, QObject *parent)
    : QObject(parent)
    , m_settingsFile(settingsFile)
    , m_autoAdvance(openSettings(settingsFile)->value(autoAdvanceKey(), false).toBool())
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
    openSettings(m_settingsFile)->setValue(autoAdvanceKey(), enabled);
    Q_EMIT autoAdvanceChanged(enabled);
}
