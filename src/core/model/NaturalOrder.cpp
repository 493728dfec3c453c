#include "model/NaturalOrder.h"

#include <QCollatorSortKey>
#include <QThread>
#include <QtConcurrent/QtConcurrentMap>
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

// Below this many names the keys are made on the calling thread alone.
constexpr qsizetype parallelKeyThreshold = 4096;

// Sort keys for `nameAt(0..count)`. Making a key costs far more than comparing
// two, so large lists make them on every core, each chunk with a collator of
// its own (a collator is not to be shared between threads).
template <typename NameAt>
static std::vector<QCollatorSortKey> sortKeys(const QCollator &collator, qsizetype count,
                                              NameAt nameAt)
{
    std::vector<QCollatorSortKey> keys(count, collator.sortKey(QString()));
    const int chunks = count < parallelKeyThreshold ? 1 : std::max(1, QThread::idealThreadCount());
    const auto makeKeys = [&](int chunk) {
        const QCollator own(collator);
        QCollator local(own.locale());
        local.setNumericMode(own.numericMode());
        local.setCaseSensitivity(own.caseSensitivity());
        const qsizetype begin = count * chunk / chunks;
        const qsizetype end = count * (chunk + 1) / chunks;
        for (qsizetype i = begin; i < end; ++i)
            keys[i] = local.sortKey(nameAt(i));
    };
    if (chunks == 1) {
        makeKeys(0);
        return keys;
    }
    QList<int> chunkList(chunks);
    std::iota(chunkList.begin(), chunkList.end(), 0);
    QtConcurrent::blockingMap(chunkList, makeKeys);
    return keys;
}

// Sorts `count` elements by the names `nameAt(i)` and returns the permutation.
template <typename NameAt>
static std::vector<qsizetype> sortedOrder(const QCollator &collator, qsizetype count, NameAt nameAt)
{
    const std::vector<QCollatorSortKey> keys = sortKeys(collator, count, nameAt);
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
