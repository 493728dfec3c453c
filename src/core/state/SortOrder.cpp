#include "state/SortOrder.h"

#include "model/SettingsFile.h"

#include <QSettings>
#include <array>

namespace {

constexpr std::array<SortOrder::Key, 4> allKeys{SortOrder::Key::fileName,
                                                SortOrder::Key::captureTime, SortOrder::Key::rating,
                                                SortOrder::Key::modified};

const QString keySetting = QStringLiteral("grid/sortKey");
const QString descendingSetting = QStringLiteral("grid/sortDescending");

} // namespace

QString SortOrder::keyName(Key key)
{
    switch (key) {
    case Key::captureTime:
        return QStringLiteral("captureTime");
    case Key::rating:
        return QStringLiteral("rating");
    case Key::modified:
        return QStringLiteral("modified");
    case Key::fileName:
        break;
    }
    return QStringLiteral("fileName");
}

std::optional<SortOrder::Key> SortOrder::keyFromName(const QString &name)
{
    for (const Key key : allKeys) {
        if (keyName(key) == name)
            return key;
    }
    return std::nullopt;
}

SortOrder SortOrder::load(const QString &settingsFile)
{
    const std::unique_ptr<QSettings> settings = SettingsFile::open(settingsFile);
    const std::optional<Key> key = keyFromName(settings->value(keySetting).toString());
    if (!key)
        return {};
    return {.key = *key, .descending = settings->value(descendingSetting, false).toBool()};
}

void SortOrder::save(const QString &settingsFile) const
{
    const std::unique_ptr<QSettings> settings = SettingsFile::open(settingsFile);
    settings->setValue(keySetting, keyName(key));
    settings->setValue(descendingSetting, descending);
}
