#pragma once

#include <QString>
#include <memory>

class QSettings;

// Where the settings live: an INI file given on construction (tests, tools),
// or the application's own settings when the name is empty.
class SettingsFile
{
public:
    SettingsFile() = delete;

    // QSettings objects are reentrant, not shareable across threads: each
    // use opens its own.
    static std::unique_ptr<QSettings> open(const QString &settingsFile);
};
