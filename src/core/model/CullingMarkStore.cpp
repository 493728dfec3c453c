#include "model/CullingMarkStore.h"

#include "model/StarRatingStore.h"
#include "model/WorkQueues.h"

#include <QFileInfo>

namespace {

// Any value: one this version cannot read is no mark (CullingMark::fromJson),
// never a reason to set the whole file aside. Another process's entries
// stay in the file as they are until this one changes them.
bool isStoredMark(const QJsonValue &)
{
    return true;
}

QJsonValue encodeMark(const CullingMark &mark)
{
    return mark.toJson();
}

CullingMark withFlag(CullingMark mark, CullingFlag flag)
{
    mark.flag = flag;
    return mark;
}

CullingMark withLabel(CullingMark mark, ColourLabel label)
{
    mark.label = label;
    return mark;
}

} // namespace

CullingMarkStore::CullingMarkStore(const QString &filePath, WorkQueues &queues, QObject *parent)
    : QObject(parent)
    , m_table(filePath, isStoredMark, encodeMark, CullingMark::fromJson, queues)
{
    connect(&m_table.file(), &JsonStoreFile::othersChanged, this,
            [this](const JsonStoreFile::Entries &changes) {
                m_table.adopt(changes, [this](const QString &path, const CullingMark &old,
                                              const CullingMark &now) {
                    Q_EMIT markChanged(path, old, now);
                });
            });
    connect(&m_table.file(), &JsonStoreFile::saveFailed, this, &CullingMarkStore::saveFailed);
}

QString CullingMarkStore::defaultFilePath()
{
    return QFileInfo(StarRatingStore::defaultFilePath()).path() +
           QStringLiteral("/culling-marks.json");
}

template <typename Edit>
void CullingMarkStore::editOne(const QString &path, Edit edit)
{
    const CullingMark old = m_table.value(path);
    const CullingMark now = edit(old);
    m_table.put(path, now);
    m_table.save();
    if (old != now)
        Q_EMIT markChanged(path, old, now);
}

template <typename Edit>
void CullingMarkStore::editAll(const QStringList &paths, Edit edit)
{
    QStringList changed;
    for (const QString &path : paths) {
        const CullingMark now = edit(m_table.value(path));
        if (m_table.put(path, now) != now)
            changed << path;
    }
    finishBatch(changed);
}

void CullingMarkStore::finishBatch(const QStringList &changed)
{
    if (changed.isEmpty())
        return;
    m_table.save();
    Q_EMIT marksChanged(changed);
}

void CullingMarkStore::setFlag(const QString &path, CullingFlag flag)
{
    editOne(path, [flag](const CullingMark &mark) { return withFlag(mark, flag); });
}

void CullingMarkStore::setLabel(const QString &path, ColourLabel label)
{
    editOne(path, [label](const CullingMark &mark) { return withLabel(mark, label); });
}

void CullingMarkStore::setFlags(const QStringList &paths, CullingFlag flag)
{
    editAll(paths, [flag](const CullingMark &mark) { return withFlag(mark, flag); });
}

void CullingMarkStore::setLabels(const QStringList &paths, ColourLabel label)
{
    editAll(paths, [label](const CullingMark &mark) { return withLabel(mark, label); });
}

void CullingMarkStore::removeMarks(const QStringList &paths)
{
    editAll(paths, [](const CullingMark &) { return CullingMark(); });
}

void CullingMarkStore::setMarks(const QHash<QString, CullingMark> &marks)
{
    QStringList changed;
    for (auto it = marks.constBegin(); it != marks.constEnd(); ++it) {
        if (m_table.put(it.key(), it.value()) != it.value())
            changed << it.key();
    }
    finishBatch(changed);
}

void CullingMarkStore::moveMarks(const QStringList &from, const QStringList &to)
{
    finishBatch(m_table.move(from, to));
}

QFuture<void> CullingMarkStore::cleanupStaleEntries(const QString &folderPath)
{
    return m_table.findVanished(folderPath, this,
                                [this](const QStringList &vanished) { removeMarks(vanished); });
}
