#pragma once

#include <QString>
#include <optional>

// How the grid orders a folder's images. File name ascending is the scanner's
// own order; every other order is a SortStep.
struct SortOrder
{
    enum class Key : quint8 { fileName, captureTime, rating, modified };

    Key key = Key::fileName;
    bool descending = false;

    bool isScannerOrder() const { return key == Key::fileName && !descending; }

    // The names kept in the settings file; unknown names read as nothing.
    static QString keyName(Key key);
    static std::optional<Key> keyFromName(const QString &name);

    // The order kept in `settingsFile` (SettingsFile), the scanner's order
    // when none or an unknown one is kept.
    static SortOrder load(const QString &settingsFile);
    void save(const QString &settingsFile) const;

    friend bool operator==(const SortOrder &, const SortOrder &) = default;
};
