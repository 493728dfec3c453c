#pragma once

#include "state/UndoStep.h"

#include <QList>
#include <QObject>
#include <optional>

class CullingMarkStore;
class StarRatingStore;

// The actions that can be undone, newest last, and those undone that can be
// redone. A new action forgets what could be redone, as every editor does.
// Steps are keyed by file paths, not by the items of a folder, so opening
// another folder keeps them. UI thread only.
//
// Ratings and marks are put back here at once. A step that moved files is
// taken off (takeFileUndo, takeFileRedo) for the file work to run elsewhere,
// which hands back what it managed (recordUndone, recordRedone).
class UndoHistory : public QObject
{
    Q_OBJECT

public:
    // The oldest steps are forgotten beyond this many.
    static constexpr qsizetype capacity = 500;

    // Undo and redo put ratings and marks back through these stores.
    UndoHistory(StarRatingStore &ratings, CullingMarkStore &marks, QObject *parent = nullptr);

    bool canUndo() const { return !m_done.isEmpty(); }
    bool canRedo() const { return !m_undone.isEmpty(); }
    // What the next undo or redo would take back or do again; empty when none.
    QString undoDescription() const;
    QString redoDescription() const;

    // A step that changes nothing is not kept.
    void record(const UndoStep &step);
    // Takes the newest step back and returns its description; none when
    // there is nothing to undo here (nothing at all, or a step moving files).
    std::optional<QString> undo();
    // Does the newest undone step again.
    std::optional<QString> redo();

    // Whether the next undo (redo) moves files: take it off, then.
    bool undoMovesFiles() const { return canUndo() && m_done.last().movesFiles(); }
    bool redoMovesFiles() const { return canRedo() && m_undone.last().movesFiles(); }
    UndoStep takeFileUndo();
    UndoStep takeFileRedo();
    // The part of a taken step whose files went back (went again): it can
    // be redone (undone) in turn. A step that moved nothing is dropped.
    void recordUndone(const UndoStep &step);
    void recordRedone(const UndoStep &step);

Q_SIGNALS:
    // canUndo, canRedo or a description changed.
    void changed();

private:
    void apply(const QHash<QString, int> &ratings, const QHash<QString, CullingMark> &marks);

    StarRatingStore &m_ratings;
    CullingMarkStore &m_marks;
    QList<UndoStep> m_done;   // oldest first
    QList<UndoStep> m_undone; // the next redo last
};
