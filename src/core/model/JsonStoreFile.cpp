#include "model/JsonStoreFile.h"

#include "model/AdvisoryFileLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

using Entries = JsonStoreFile::Entries;

enum class FileState { missing, unreadable, damaged, readable, unchanged };

std::optional<Entries> decodeTable(const QByteArray &bytes, JsonStoreFile::ValueCheck isValid)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return std::nullopt;
    Entries table;
    const QJsonObject object = document.object();
    table.reserve(object.size());
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QJsonValue value = it.value();
        if (!isValid(value))
            return std::nullopt;
        table.insert(it.key(), value);
    }
    return table;
}

// A file that cannot be opened or read is not damaged: it may hold everyone's
// entries, and only its reason is known.
// `bytes` receives what was read; when that is `known` (what this process
// last read or wrote), nothing is decoded and the file is `unchanged`.
FileState readTable(const QString &path, JsonStoreFile::ValueCheck isValid, Entries &table,
                    QString *reason = nullptr, QByteArray *bytes = nullptr,
                    const QByteArray &known = {})
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists())
            return FileState::missing;
        if (reason)
            *reason = file.errorString();
        return FileState::unreadable;
    }
    QByteArray read = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (reason)
            *reason = file.errorString();
        return FileState::unreadable;
    }
    if (!known.isNull() && read == known)
        return FileState::unchanged;
    std::optional<Entries> decoded = decodeTable(read, isValid);
    if (bytes)
        *bytes = std::move(read);
    if (!decoded)
        return FileState::damaged;
    table = std::move(*decoded);
    return FileState::readable;
}

// The entries of `after` that differ from `before`, undefined for a removed one.
Entries differences(const Entries &before, const Entries &after)
{
    Entries changes;
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        const auto old = before.constFind(it.key());
        if (old == before.constEnd() || old.value() != it.value())
            changes.insert(it.key(), it.value());
    }
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        if (!after.contains(it.key()))
            changes.insert(it.key(), QJsonValue(QJsonValue::Undefined));
    }
    return changes;
}

void applyChanges(const Entries &changes, Entries &table)
{
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        if (it.value().isUndefined())
            table.remove(it.key());
        else
            table.insert(it.key(), it.value());
    }
}

// `value` as Qt's JSON writer puts it inside an array, without the brackets.
void appendAsQtWrites(QByteArray &json, const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    json += QByteArrayView(array).sliced(1, array.size() - 2);
}

// `text` as Qt's JSON writer puts it, quotes included: the plain UTF-8 of a
// usual file name, and Qt's own escaping for the rest (control characters,
// quotes, backslashes, the unpaired surrogates of undecodable names).
void appendJsonString(QByteArray &json, const QString &text)
{
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c == u'"' || c == u'\\' || c.isSurrogate();
    });
    if (!plain) {
        appendAsQtWrites(json, text);
        return;
    }
    json += '"';
    json += text.toUtf8();
    json += '"';
}

// An object of text members (a culling mark) as Qt writes it, members in key
// order, without building a document for it; false for any other object.
bool appendTextObject(QByteArray &json, const QJsonObject &object)
{
    const qsizetype start = json.size();
    json += '{';
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString()) {
            json.truncate(start);
            return false;
        }
        if (json.size() > start + 1)
            json += ',';
        appendJsonString(json, it.key());
        json += ':';
        appendJsonString(json, it.value().toString());
    }
    json += '}';
    return true;
}

void appendJsonValue(QByteArray &json, const QJsonValue &value)
{
    const double number = value.toDouble(qQNaN());
    if (value.isDouble() && number == std::trunc(number) && std::abs(number) < 1e15)
        json += QByteArray::number(value.toInteger());
    else if (!value.isObject() || !appendTextObject(json, value.toObject()))
        appendAsQtWrites(json, value);
}

// The compact JSON object, members in key order, in one pass. (Building a
// QJsonObject member by member costs seconds at 100,000 members.)
QByteArray encodeTable(const Entries &table)
{
    QStringList keys = table.keys();
    std::sort(keys.begin(), keys.end());
    QByteArray json;
    json.reserve(table.size() * 64 + 2);
    json += '{';
    for (const QString &key : std::as_const(keys)) {
        if (json.size() > 1)
            json += ',';
        appendJsonString(json, key);
        json += ':';
        appendJsonValue(json, table.value(key));
    }
    json += '}';
    return json;
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

} // namespace

JsonStoreFile::JsonStoreFile(const QString &filePath, ValueCheck isValid, QThreadPool &writers,
                             QObject *parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_isValid(isValid)
    , m_writers(writers)
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
}

JsonStoreFile::~JsonStoreFile()
{
    QMutexLocker locker(&m_queueMutex);
    while (m_pendingWrites > 0)
        m_allWritten.wait(&m_queueMutex);
}

JsonStoreFile::Entries JsonStoreFile::load()
{
    // No lock needed: every writer replaces the file whole, by a rename. A
    // damaged file stays on disk until a save sets it aside.
    Entries table;
    QByteArray bytes;
    if (readTable(m_filePath, m_isValid, table, nullptr, &bytes) == FileState::readable)
        m_lastBytes = std::move(bytes);
    // The writer's own copy, made now rather than by the first change.
    const QMutexLocker locker(&m_writeMutex);
    m_known = table;
    m_known.detach();
    return table;
}

void JsonStoreFile::change(const QString &key, const QJsonValue &value)
{
    m_unsaved.insert(key, value);
}

void JsonStoreFile::save()
{
    const quint64 serial = ++m_saveSerial;
    for (auto it = m_unsaved.constBegin(); it != m_unsaved.constEnd(); ++it)
        m_changeSerials.insert(it.key(), serial);
    const QMutexLocker locker(&m_queueMutex);
    if (m_queued.changes.isEmpty()) {
        m_queued.changes = std::exchange(m_unsaved, {});
    } else {
        for (auto it = m_unsaved.constBegin(); it != m_unsaved.constEnd(); ++it)
            m_queued.changes.insert(it.key(), it.value());
        m_unsaved.clear();
    }
    m_queued.serial = serial;
    if (m_queued.queued)
        return; // folded into the save already waiting
    m_queued.queued = true;
    ++m_pendingWrites;
    m_writers.start([this] { writeQueuedSave(); });
}

void JsonStoreFile::waitForSaved()
{
    {
        QMutexLocker locker(&m_queueMutex);
        while (m_pendingWrites > 0)
            m_allWritten.wait(&m_queueMutex);
    }
    // The whole queue, not only this file's writes: QThreadPool::waitForDone
    // also ends its threads, so whatever the caller checks or times next
    // starts from a quiet queue.
    m_writers.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void JsonStoreFile::writeQueuedSave()
{
    {
        // Taken under the write lock: whichever write runs first carries
        // every change queued so far, so changes reach the file in order.
        const QMutexLocker writing(&m_writeMutex);
        QMutexLocker locker(&m_queueMutex);
        const QueuedSave save = std::exchange(m_queued, {});
        locker.unlock();
        if (save.queued)
            mergeIntoFile(save.changes, save.serial);
    }
    const QMutexLocker locker(&m_queueMutex);
    if (--m_pendingWrites == 0)
        m_allWritten.wakeAll();
}

bool JsonStoreFile::setAsideDamagedFile(const QString &path, QString *error)
{
    const QString base = path + QStringLiteral(".damaged");
    QString target = base;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = base + QLatin1Char('.') + QString::number(n);
    // rename() never replaces an existing file.
    QFile file(path);
    if (file.rename(target) || !file.exists())
        return true;
    *error = file.errorString();
    return false;
}

void JsonStoreFile::reportFailure(const QString &reason)
{
    if (std::exchange(m_failureReported, true))
        return;
    QMetaObject::invokeMethod(
        this, [this, reason] { Q_EMIT saveFailed(reason); }, Qt::QueuedConnection);
}

void JsonStoreFile::mergeIntoFile(const Entries &newChanges, quint64 serial)
{
    Entries changes = std::exchange(m_unwrittenChanges, {});
    for (auto it = newChanges.constBegin(); it != newChanges.constEnd(); ++it)
        changes.insert(it.key(), it.value());
    applyChanges(newChanges, m_known);

    const AdvisoryFileLock lock(m_filePath + QStringLiteral(".lock"));
    Entries merged;
    QString error;
    const auto keepPending = [&] {
        m_unwrittenChanges = std::move(changes);
        reportFailure(error);
    };
    const FileState state = readTable(m_filePath, m_isValid, merged, &error, nullptr, m_lastBytes);
    switch (state) {
    case FileState::unchanged:
        // As this process left it: its own table is the merge.
        merged = m_known;
        break;
    case FileState::readable:
        applyChanges(changes, merged);
        break;
    case FileState::unreadable:
        // Not known to be damaged: it may hold every other process's entries.
        keepPending();
        return;
    case FileState::damaged:
        // Until the damaged file is safely aside, writing would destroy the only copy.
        if (!setAsideDamagedFile(m_filePath, &error)) {
            keepPending();
            return;
        }
        [[fallthrough]];
    case FileState::missing:
        // Nothing to merge with: this process's table is the best knowledge.
        merged = m_known;
        break;
    }
    QByteArray bytes = encodeTable(merged);
    if (!writeFile(m_filePath, bytes, &error)) {
        keepPending();
        return;
    }
    m_failureReported = false;
    // What other processes changed, for the UI thread to take in without
    // comparing whole tables there. Only a file they rewrote can hold any.
    Entries othersChanges = state == FileState::readable ? differences(m_known, merged) : Entries();
    m_known = std::move(merged);
    m_lastBytes = std::move(bytes);
    QMetaObject::invokeMethod(
        this,
        [this, othersChanges = std::move(othersChanges), serial] {
            adoptMerged(othersChanges, serial);
        },
        Qt::QueuedConnection);
}

void JsonStoreFile::adoptMerged(const Entries &othersChanges, quint64 serial)
{
    // An own change made after that save is newer than what it found.
    Entries older;
    for (auto it = othersChanges.constBegin(); it != othersChanges.constEnd(); ++it) {
        if (m_changeSerials.value(it.key(), 0) <= serial)
            older.insert(it.key(), it.value());
    }
    m_changeSerials.removeIf(
        [serial](QHash<QString, quint64>::iterator entry) { return entry.value() <= serial; });
    if (!older.isEmpty())
        Q_EMIT othersChanged(older);
}
