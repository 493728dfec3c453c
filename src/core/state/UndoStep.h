#pragma once

#include "model/CullingMark.h"

#include <QHash>
#include <QString>

// One action the user can take back: what it did, in the words the status
// line uses after "已撤销：" and "已重做：", and the ratings and marks of the
// photos it changed, before and after. A value: the history keeps copies.
struct UndoStep
{
    QString description;               // "评分 3 星"
    QHash<QString, int> ratingsBefore; // path -> stars, 0 for none
    QHash<QString, int> ratingsAfter;
    QHash<QString, CullingMark> marksBefore; // path -> mark, empty for none
    QHash<QString, CullingMark> marksAfter;

    bool changesAnything() const
    {
        return ratingsBefore != ratingsAfter || marksBefore != marksAfter;
    }
};
