#pragma once

#include "model/CullingMark.h"
#include "model/MovedPhoto.h"

#include <QHash>
#include <QList>
#include <QString>

// One action the user can take back: what it did, in the words the status
// line uses after "已撤销：" and "已重做：", and the ratings and marks of the
// photos it changed, before and after, or the photos it moved into an
// archive folder or the Trash. A value: the history keeps copies.
struct UndoStep
{
    enum class FileAction { none, archive, trash };

    QString description;               // "评分 3 星"
    QHash<QString, int> ratingsBefore; // path -> stars, 0 for none
    QHash<QString, int> ratingsAfter;
    QHash<QString, CullingMark> marksBefore; // path -> mark, empty for none
    QHash<QString, CullingMark> marksAfter;

    FileAction fileAction = FileAction::none;
    QString archiveFolder; // where an archive went, to go there again on redo
    QList<MovedPhoto> movedPhotos;

    bool movesFiles() const { return fileAction != FileAction::none; }
    bool changesAnything() const
    {
        return ratingsBefore != ratingsAfter || marksBefore != marksAfter || !movedPhotos.isEmpty();
    }

    // "标记为留用（12 张）" for a batch, the action alone for one photo.
    static QString forCount(const QString &action, qsizetype count)
    {
        return count > 1 ? QStringLiteral("%1（%2 张）").arg(action).arg(count) : action;
    }
};
