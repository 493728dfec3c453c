#pragma once

#include "model/BackgroundTask.h"
#include "model/JsonStoreFile.h"
#include "model/VanishedFiles.h"
#include "model/WorkQueues.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <utility>

// What a store of per-file values (the star ratings, the culling marks) keeps
// for them: the whole table in memory, keyed by each file's decoded absolute
// path, saved to a JsonStoreFile shared with other processes; files being
// moved held out of clean-ups; values carried along with moved files; the
// entries of certainly vanished files dropped.
//
// `Value` is a small value type whose default is "nothing stored": setting it
// removes the entry. The owning store emits its own signals from what the
// calls here return. UI thread only, as the owner.
template <typename Value>
class PersistentPathTable
{
public:
    // The stored JSON form of a value other than the default, and the value
    // read back from any JSON value the file check accepted.
    using Encode = QJsonValue (*)(const Value &value);
    using Decode = Value (*)(const QJsonValue &value);

    // Loads `filePath` at once. Saves run on `queues`' store writer, the file
    // checks of clean-ups on its background pool.
    PersistentPathTable(const QString &filePath, JsonStoreFile::ValueCheck isStored, Encode encode,
                        Decode decode, WorkQueues &queues)
        : m_encode(encode)
        , m_decode(decode)
        , m_checks(queues.background())
        , m_file(filePath, isStored, queues.storeWrites())
    {
        const JsonStoreFile::Entries stored = m_file.load();
        m_values.reserve(stored.size());
        for (auto it = stored.constBegin(); it != stored.constEnd(); ++it) {
            const Value value = m_decode(it.value());
            if (value != Value())
                m_values.insert(it.key(), value);
        }
    }

    JsonStoreFile &file() { return m_file; }
    const JsonStoreFile &file() const { return m_file; }

    // An empty table answers without hashing the path: opening a folder asks
    // once per image.
    Value value(const QString &path) const
    {
        return m_values.isEmpty() ? Value() : m_values.value(path, Value());
    }
    qsizetype count() const { return m_values.size(); }

    // Stores `value` (the default removes the entry) and notes the change for
    // the next save. Returns the old value.
    Value put(const QString &path, const Value &value)
    {
        const auto it = m_values.find(path);
        const Value old = it == m_values.end() ? Value() : it.value();
        if (old == value)
            return old;
        if (value == Value())
            m_values.erase(it);
        else if (it == m_values.end())
            m_values.insert(path, value);
        else
            it.value() = value;
        m_file.change(path, value == Value() ? QJsonValue(QJsonValue::Undefined) : m_encode(value));
        return old;
    }
    void save() { m_file.save(); }

    // Files that are being moved (an archive): until released, a clean-up
    // neither judges them nor drops their entries, however the files look
    // meanwhile. Counted: a path held twice stays held until released twice.
    void hold(const QStringList &paths)
    {
        for (const QString &path : paths)
            ++m_held[path];
    }
    void release(const QStringList &paths)
    {
        for (const QString &path : paths) {
            const auto held = m_held.find(path);
            if (held != m_held.end() && --held.value() == 0)
                m_held.erase(held);
        }
    }

    // Looks for the files below `folderPath` (at any depth) that are
    // certainly gone (VanishedFiles), on the background pool on a copy of
    // the keys, then calls `drop(paths)` on the thread of `context` with
    // those whose value is still the one seen at the start and that are not
    // held: a value set meanwhile is the user's newer word, and a file whose
    // move began meanwhile is gone from here for a reason. The future
    // finishes once `drop` has returned.
    template <typename Drop>
    QFuture<void> findVanished(const QString &folderPath, QObject *context, Drop drop)
    {
        QHash<QString, Value> candidates;
        for (const QString &path : VanishedFiles::below(folderPath, m_values.keys())) {
            if (!m_held.contains(path))
                candidates.insert(path, m_values.value(path));
        }
        return BackgroundTask::run(
            &m_checks, context, [paths = candidates.keys()] { return VanishedFiles::among(paths); },
            [this, candidates, drop = std::move(drop)](const QStringList &vanished) {
                QStringList unchanged;
                for (const QString &path : vanished) {
                    if (value(path) == candidates.value(path) && !m_held.contains(path))
                        unchanged << path;
                }
                drop(unchanged);
            });
    }

    // Files that moved: each path of `from` hands its value (none included)
    // to the path at the same place of `to`. Returns the paths whose value
    // changed; the caller saves.
    QStringList move(const QStringList &from, const QStringList &to)
    {
        Q_ASSERT(from.size() == to.size());
        const qsizetype count = std::min(from.size(), to.size());
        // All taken before any is placed, so that a file moving onto the old
        // path of another takes its own value.
        QList<Value> moving;
        moving.reserve(count);
        for (qsizetype i = 0; i < count; ++i)
            moving << value(from.at(i));
        QStringList changed;
        for (qsizetype i = 0; i < count; ++i) {
            if (put(from.at(i), Value()) != Value())
                changed << from.at(i);
        }
        for (qsizetype i = 0; i < count; ++i) {
            if (put(to.at(i), moving.at(i)) != moving.at(i))
                changed << to.at(i);
        }
        changed.removeDuplicates(); // a file that moved onto another's old place
        return changed;
    }

    // Takes in what other processes saved (undefined: removed), calling
    // `announce(path, old, now)` for each value that differs.
    template <typename Announce>
    void adopt(const JsonStoreFile::Entries &changes, Announce announce)
    {
        for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
            const Value old = value(it.key());
            const Value now = it.value().isUndefined() ? Value() : m_decode(it.value());
            if (old == now)
                continue;
            if (now == Value())
                m_values.remove(it.key());
            else
                m_values.insert(it.key(), now);
            announce(it.key(), old, now);
        }
    }

private:
    const Encode m_encode;
    const Decode m_decode;
    QHash<QString, Value> m_values;
    QHash<QString, int> m_held; // path -> how often held
    QThreadPool &m_checks;
    JsonStoreFile m_file;
};
