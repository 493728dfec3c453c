#include "model/FolderHistory.h"

#include "model/FolderNode.h"
#include "model/SettingsFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <algorithm>
#include <cmath>

namespace {

const QString settingsKey = QStringLiteral("recentFolders");

// Dates are stored as seconds since 2001-01-01 00:00:00 UTC, fractions included.
const QDateTime &referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

double toReferenceSeconds(const QDateTime &date)
{
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

QDateTime fromReferenceSeconds(double seconds)
{
    return referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0))).toLocalTime();
}

QByteArray jsonString(const QString &text)
{
    // An array of one string, less its brackets: QJsonDocument does the escaping.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

FolderHistory::FolderHistory(QObject *parent)
    : QObject(parent)
{
    load();
}

FolderHistory::FolderHistory(const QString &settingsFile, QObject *parent)
    : QObject(parent)
    , m_settingsFile(settingsFile)
{
    load();
}

FolderHistory::~FolderHistory() = default;

// QSettings objects are reentrant, not shareable across threads: each use gets its own.
std::unique_ptr<QSettings> FolderHistory::openSettings() const
{
    return SettingsFile::open(m_settingsFile);
}

void FolderHistory::waitForSaved()
{
    m_writer.waitForDone();
}

// Written by hand to keep the members in the documented order: path, name, lastOpened.
QByteArray FolderHistory::encode(const QList<RecentFolder> &folders)
{
    QByteArray out = "[";
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const RecentFolder &folder = folders[i];
        if (i > 0)
            out += ',';
        out +=
            "{\"path\":" + jsonString(folder.path) + ",\"name\":" + jsonString(folder.name) +
            ",\"lastOpened\":" + QByteArray::number(toReferenceSeconds(folder.lastOpened), 'f', 3) +
            '}';
    }
    out += ']';
    return out;
}

std::optional<QList<RecentFolder>> FolderHistory::decode(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<RecentFolder> folders;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        const QJsonValue path = object.value(QLatin1String("path"));
        const QJsonValue name = object.value(QLatin1String("name"));
        const QJsonValue lastOpened = object.value(QLatin1String("lastOpened"));
        // One malformed entry makes the whole value undecodable, as a strict decoder would.
        if (!value.isObject() || !path.isString() || !name.isString() || !lastOpened.isDouble() ||
            !std::isfinite(lastOpened.toDouble()))
            return std::nullopt;
        folders.append(
            {path.toString(), name.toString(), fromReferenceSeconds(lastOpened.toDouble())});
    }
    return folders;
}

void FolderHistory::add(const QUrl &folderUrl)
{
    QString path = folderUrl.toLocalFile();
    if (path.size() > 1)
        path = QDir::cleanPath(path);
    const QDateTime now = QDateTime::currentDateTime();

    QList<RecentFolder> folders = m_folders;
    const auto existing = std::find_if(folders.begin(), folders.end(),
                                       [&](const RecentFolder &f) { return f.path == path; });
    if (existing != folders.end()) {
        existing->lastOpened = now;
        // To the front first, so it stays there even when another entry has the same time.
        std::rotate(folders.begin(), existing, existing + 1);
    } else
        folders.prepend({path, FolderNode::displayName(path), now});

    std::stable_sort(
        folders.begin(), folders.end(),
        [](const RecentFolder &a, const RecentFolder &b) { return a.lastOpened > b.lastOpened; });
    if (folders.size() > maximumCount)
        folders.resize(maximumCount);
    setFolders(std::move(folders));
    save();
}

void FolderHistory::remove(const RecentFolder &folder)
{
    QList<RecentFolder> folders = m_folders;
    folders.removeIf([&](const RecentFolder &f) { return f.path == folder.path; });
    setFolders(std::move(folders));
    save();
}

void FolderHistory::clearAll()
{
    setFolders({});
    save();
}

void FolderHistory::load()
{
    const QVariant stored = openSettings()->value(settingsKey);
    if (!stored.isValid())
        return;
    if (auto folders = decode(stored.toByteArray()))
        m_folders = std::move(*folders);
}

void FolderHistory::save()
{
    m_writer.post([this, json = encode(m_folders)] {
        const std::unique_ptr<QSettings> settings = openSettings();
        settings->setValue(settingsKey, json);
        settings->sync();
    });
}

void FolderHistory::setFolders(QList<RecentFolder> folders)
{
    if (folders == m_folders)
        return;
    m_folders = std::move(folders);
    Q_EMIT foldersChanged();
}
