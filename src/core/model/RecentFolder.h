#pragma once

#include <QDateTime>
#include <QString>

// One entry of the folder history, identified by its path.
struct RecentFolder
{
    QString path; // decoded absolute path
    QString name; // last path component when first recorded
    QDateTime lastOpened;

    friend bool operator==(const RecentFolder &, const RecentFolder &) = default;
};
