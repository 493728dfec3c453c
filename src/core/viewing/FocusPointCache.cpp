#include "viewing/FocusPointCache.h"

#include "imaging/FocusPointReader.h"
#include "model/BackgroundTask.h"
#include "model/WorkQueues.h"

FocusPointCache::FocusPointCache(WorkQueues &queues, QObject *parent)
    : QObject(parent)
    , m_queues(queues)
{}

std::optional<FocusPoints> FocusPointCache::find(const QString &path) const
{
    const auto known = m_known.constFind(path);
    if (known == m_known.constEnd())
        return std::nullopt;
    return *known;
}

void FocusPointCache::request(const QString &path)
{
    if (m_known.contains(path) || m_reading.contains(path))
        return;
    m_reading.insert(path);
    const auto remember = [this, path](const FocusPoints &points) {
        m_reading.remove(path);
        m_known.insert(path, points);
        Q_EMIT ready(path);
    };
    BackgroundTask::run(
        &m_queues.background(), this, [path] { return FocusPointReader::read(path); }, remember,
        [remember] { remember({}); });
}
