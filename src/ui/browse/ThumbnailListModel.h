#pragma once

#include "model/ImageItem.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QTimer>

class AppState;

// The grid's rows: AppState::filteredImages, one row per image, in order.
// A filter change is one model reset (no per-row work); ratings, the selection
// and arriving thumbnails are dataChanged of their roles, so a cell repaints
// without its thumbnail being requested again.
//
// Thumbnails are requested only for the cells that are painted
// (requestThumbnail, called by the delegate), never by walking the rows;
// arrivals are gathered and announced together a few milliseconds later.
// UI thread only.
class ThumbnailListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        ItemRole = Qt::UserRole + 1, // ImageItem
        RatingRole,                  // int, 0 when unrated
        SelectedRole,                // bool
        ThumbnailRole,               // QImage, null while loading or after a failure
        ThumbnailStateRole,          // ThumbnailState
    };
    enum class ThumbnailState { Loading, Ready, Failed };
    Q_ENUM(ThumbnailState)

    // The longer side of the thumbnails the cells ask for, in pixels.
    static constexpr int thumbnailSize = 320;
    // How long arrivals are gathered before the view hears of them.
    static constexpr int arrivalBatchMs = 30;

    explicit ThumbnailListModel(AppState &state, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Direct access for painting without QVariant round trips.
    const ImageItem &item(int row) const { return m_items[row]; }
    ThumbnailState thumbnailState(const ImageItem &item) const;
    QImage thumbnail(const ImageItem &item) const;

    // Asks the loader for the row's thumbnail unless it is cached, failed or
    // already asked for. The loader serves the newest requests first, so the
    // cells on screen now overtake those scrolled past.
    void requestThumbnail(int row);
    // Requests still waiting for the loader.
    bool hasPendingThumbnails() const { return !m_pendingRows.isEmpty(); }

    AppState &state() const { return m_state; }

private:
    void resetRows();
    void onThumbnailReady(const QString &path, const QImage &image);
    void announceArrivals();
    void announceAllRows(int role);

    AppState &m_state;
    QList<ImageItem> m_items;
    // Path -> the row that asked; rebuilt by painting after every reset.
    QHash<QString, int> m_pendingRows;
    // Files whose decode failed: the cell keeps its placeholder (no retry)
    // until the folder is scanned again.
    QSet<QString> m_failedPaths;
    int m_firstArrivedRow = -1;
    int m_lastArrivedRow = -1;
    QTimer m_arrivalTimer;
};
