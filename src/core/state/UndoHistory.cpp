#include "state/UndoHistory.h"

#include "model/CullingMarkStore.h"
#include "model/StarRatingStore.h"

UndoHistory::UndoHistory(StarRatingStore &ratings, CullingMarkStore &marks, QObject *parent)
    : QObject(parent)
    , m_ratings(ratings)
    , m_marks(marks)
{}

QString UndoHistory::undoDescription() const
{
    return m_done.isEmpty() ? QString() : m_done.last().description;
}

QString UndoHistory::redoDescription() const
{
    return m_undone.isEmpty() ? QString() : m_undone.last().description;
}

void UndoHistory::record(const UndoStep &step)
{
    if (!step.changesAnything())
        return;
    m_undone.clear();
    recordRedone(step);
}

std::optional<QString> UndoHistory::undo()
{
    if (m_done.isEmpty() || undoMovesFiles())
        return std::nullopt;
    m_undone.append(m_done.takeLast());
    const UndoStep &step = m_undone.last();
    apply(step.ratingsBefore, step.marksBefore);
    Q_EMIT changed();
    return step.description;
}

std::optional<QString> UndoHistory::redo()
{
    if (m_undone.isEmpty() || redoMovesFiles())
        return std::nullopt;
    m_done.append(m_undone.takeLast());
    const UndoStep &step = m_done.last();
    apply(step.ratingsAfter, step.marksAfter);
    Q_EMIT changed();
    return step.description;
}

UndoStep UndoHistory::takeFileUndo()
{
    Q_ASSERT(undoMovesFiles());
    UndoStep step = m_done.takeLast();
    Q_EMIT changed();
    return step;
}

UndoStep UndoHistory::takeFileRedo()
{
    Q_ASSERT(redoMovesFiles());
    UndoStep step = m_undone.takeLast();
    Q_EMIT changed();
    return step;
}

void UndoHistory::recordUndone(const UndoStep &step)
{
    if (!step.changesAnything())
        return;
    m_undone.append(step);
    Q_EMIT changed();
}

void UndoHistory::recordRedone(const UndoStep &step)
{
    if (!step.changesAnything())
        return;
    m_done.append(step);
    if (m_done.size() > capacity)
        m_done.removeFirst();
    Q_EMIT changed();
}

void UndoHistory::apply(const QHash<QString, int> &ratings,
                        const QHash<QString, CullingMark> &marks)
{
    // One rating at a time, as the user gave it: sidecars follow each
    // rating change.
    for (auto it = ratings.constBegin(); it != ratings.constEnd(); ++it) {
        if (m_ratings.rating(it.key()) != it.value())
            m_ratings.setRating(it.value(), it.key());
    }
    m_marks.setMarks(marks);
}
