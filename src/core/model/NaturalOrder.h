#pragma once

#include "model/ImageItem.h"

#include <QCollator>
#include <QList>
#include <QStringList>

// Finder-like ordering of names: case-insensitive, digit runs compared by
// numeric value (IMG_2 before IMG_10). Sorting goes through collation sort
// keys built once per name, never a compare() per comparison, so 100,000 names
// sort quickly. Not thread-safe: use one instance per thread.
class NaturalOrder
{
public:
    NaturalOrder();

    bool lessThan(const QString &a, const QString &b) const;
    // Stable: names that collate the same keep their order.
    void sortStrings(QStringList &names) const;
    void sortByFilename(QList<ImageItem> &images) const;

private:
    QCollator m_collator;
};
