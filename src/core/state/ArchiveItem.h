#pragma once

#include "model/ImageItem.h"

#include <QList>
#include <QString>
#include <QUuid>

// A pending archive plan: which images to move and where to. A value; every
// plan gets a fresh id, through which the confirmation sheet is bound to it.
struct ArchiveItem
{
    QUuid id = QUuid::createUuid();
    QString targetPath;  // the proposed destination folder (decoded local path)
    QString description; // what is archived, inserted into the sheet's sentence
    QList<ImageItem> images;

    friend bool operator==(const ArchiveItem &a, const ArchiveItem &b) { return a.id == b.id; }
};
