#include "NaturalOrder.h"

#include <QCollatorSortKey>
#include <algorithm>
#include <numeric>
#include <vector>

// Qt's collator ignores numeric mode and case folding under the C locale,
// which is what a desktop session without LANG (and every CI machine) has.
static QLocale collationLocale()
{
    const QLocale system;
    if (system.language() == QLocale::C)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    return system;
}

NaturalOrder::NaturalOrder()
    : m_collator(collationLocale())
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

bool NaturalOrder::lessThan(const QString &a, const QString &b) const
{
    return m_collator.compare(a, b) < 0;
}

// Sorts `count` elements by the names `nameAt(i)` and returns the permutation.
template <typename NameAt>
static std::vector<qsizetype> sortedOrder(const QCollator &collator, qsizetype count, NameAt nameAt)
{
    std::vector<QCollatorSortKey> keys;
    keys.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        keys.push_back(collator.sortKey(nameAt(i)));
    std::vector<qsizetype> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](qsizetype a, qsizetype b) { return keys[a].compare(keys[b]) < 0; });
    return order;
}

template <typename T>
static void applyOrder(QList<T> &list, const std::vector<qsizetype> &order)
{
    QList<T> sorted;
    sorted.reserve(list.size());
    for (qsizetype index : order)
        sorted.append(std::move(list[index]));
    list = std::move(sorted);
}

void NaturalOrder::sortStrings(QStringList &names) const
{
    if (names.size() < 2)
        return;
    applyOrder(names, sortedOrder(m_collator, names.size(), [&](qsizetype i) { return names[i]; }));
}

void NaturalOrder::sortByFilename(QList<ImageItem> &images) const
{
    if (images.size() < 2)
        return;
    applyOrder(images, sortedOrder(m_collator, images.size(),
                                   [&](qsizetype i) { return images[i].filename(); }));
}
