#include "browse/ThumbnailListModel.h"

#include "imaging/ImageLoader.h"
#include "state/AppState.h"

#include <cmath>
#include <utility>

ThumbnailListModel::ThumbnailListModel(AppState &state, QObject *parent)
    : QAbstractListModel(parent)
    , m_state(state)
    , m_items(state.filteredImages())
{
    m_arrivalTimer.setSingleShot(true);
    m_arrivalTimer.setInterval(arrivalBatchMs);
    connect(&m_arrivalTimer, &QTimer::timeout, this, &ThumbnailListModel::announceArrivals);
    connect(&state, &AppState::filteredImagesChanged, this, &ThumbnailListModel::resetRows);
    connect(&state, &AppState::imagesChanged, this, [this] { m_failedPaths.clear(); });
    connect(&state, &AppState::selectedImageIDsChanged, this,
            [this] { announceAllRows(SelectedRole); });
    connect(&state.starRatingStore(), &StarRatingStore::ratingChanged, this,
            [this] { announceAllRows(RatingRole); });
    connect(&state.starRatingStore(), &StarRatingStore::ratingsRemoved, this,
            [this] { announceAllRows(RatingRole); });
    connect(&state.cullingMarks(), &CullingMarkStore::markChanged, this,
            [this] { announceAllRows(CullingMarkRole); });
    connect(&state.cullingMarks(), &CullingMarkStore::marksChanged, this,
            [this] { announceAllRows(CullingMarkRole); });
    connect(&state.imageLoader(), &ImageLoader::thumbnailReady, this,
            &ThumbnailListModel::onThumbnailReady);
}

int ThumbnailListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ThumbnailListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ImageItem &item = m_items[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return item.filename();
    case ItemRole:
        return QVariant::fromValue(item);
    case RatingRole:
        return m_state.rating(item);
    case SelectedRole:
        return m_state.selectedImageIDs().contains(item.id());
    case ThumbnailRole:
        return thumbnail(item);
    case ThumbnailStateRole:
        return QVariant::fromValue(thumbnailState(item));
    case CullingMarkRole:
        return QVariant::fromValue(m_state.mark(item));
    default:
        return {};
    }
}

QHash<int, QByteArray> ThumbnailListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(ItemRole, "item");
    names.insert(RatingRole, "rating");
    names.insert(SelectedRole, "selected");
    names.insert(ThumbnailRole, "thumbnail");
    names.insert(ThumbnailStateRole, "thumbnailState");
    names.insert(CullingMarkRole, "cullingMark");
    return names;
}

ThumbnailListModel::ThumbnailState ThumbnailListModel::thumbnailState(const ImageItem &item) const
{
    if (m_state.imageLoader().cachedThumbnail(item.path()))
        return ThumbnailState::Ready;
    return m_failedPaths.contains(item.path()) ? ThumbnailState::Failed : ThumbnailState::Loading;
}

QImage ThumbnailListModel::thumbnail(const ImageItem &item) const
{
    return m_state.imageLoader().cachedThumbnail(item.path()).value_or(QImage());
}

int ThumbnailListModel::thumbnailSizeFor(qreal squareDevicePixels)
{
    return std::max(thumbnailSize, int(std::ceil(squareDevicePixels * 1.5)));
}

void ThumbnailListModel::requestThumbnail(int row, int maxSize)
{
    if (row < 0 || row >= m_items.size())
        return;
    const ImageItem &item = m_items[row];
    const QString &path = item.path();
    if (m_failedPaths.contains(path))
        return;
    auto pending = m_pendingRows.find(path);
    if (pending != m_pendingRows.end()) {
        *pending = row;
        return;
    }
    ImageLoader &loader = m_state.imageLoader();
    if (loader.cachedThumbnail(path) && !loader.wouldRefine(path, maxSize))
        return;
    loader.loadThumbnail(item, maxSize);
    if (loader.isLoading(path))
        m_pendingRows.insert(path, row);
}

void ThumbnailListModel::resetRows()
{
    beginResetModel();
    m_items = m_state.filteredImages();
    // Rows have moved: the cells painted after the reset ask again, which
    // joins the decodes still in flight.
    m_pendingRows.clear();
    m_arrivedRows.clear();
    m_arrivalTimer.stop();
    endResetModel();
}

void ThumbnailListModel::onThumbnailReady(const QString &path, const QImage &image)
{
    if (image.isNull())
        m_failedPaths.insert(path);
    const auto pending = m_pendingRows.constFind(path);
    if (pending == m_pendingRows.cend())
        return;
    const int row = *pending;
    // A quick stored thumbnail arrives first; the row waits for the sharp one.
    if (!m_state.imageLoader().isLoading(path))
        m_pendingRows.erase(pending);
    if (row >= m_items.size() || m_items[row].path() != path)
        return;
    m_arrivedRows.insert(row);
    // The first arrival after a quiet spell, and the last one awaited, show
    // at once; within a spell arrivals are gathered until it ends.
    if (!m_arrivalTimer.isActive() || m_pendingRows.isEmpty())
        announceArrivals();
}

void ThumbnailListModel::announceArrivals()
{
    if (m_arrivedRows.isEmpty())
        return;
    const QSet<int> rows = std::exchange(m_arrivedRows, {});
    for (const int row : rows)
        Q_EMIT dataChanged(index(row), index(row), {ThumbnailRole, ThumbnailStateRole});
    m_arrivalTimer.start(); // a spell begins
}

void ThumbnailListModel::announceAllRows(int role)
{
    if (m_items.isEmpty())
        return;
    Q_EMIT dataChanged(index(0), index(int(m_items.size()) - 1), {role});
}
