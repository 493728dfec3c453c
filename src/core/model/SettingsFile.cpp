#include "model/SettingsFile.h"

#include <QSettings>

std::unique_ptr<QSettings> SettingsFile::open(const QString &settingsFile)
{
    if (settingsFile.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Kelvane"), QStringLiteral("Kelvane"));
    return std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
}
