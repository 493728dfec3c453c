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
// arrivals are announced at most once every arrivalBatchMs (the first after
// a quiet spell and the last one awaited at once, the others gathered), each
// row on its own, so the view repaints those cells and no others.
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
        CullingMarkRole,             // CullingMark, empty when unmarked
    };
    enum class ThumbnailState { Loading, Ready, Failed };
    Q_ENUM(ThumbnailState)

    // The longer side of the thumbnails the cells ask for at least, in
    // pixels; cells on a HiDPI screen ask for more (see thumbnailSizeFor).
    static constexpr int thumbnailSize = 320;
    // The shortest time between two announcements of arrivals.
    static constexpr int arrivalBatchMs = 30;

    explicit ThumbnailListModel(AppState &state, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Direct access for painting without QVariant round trips.
    const ImageItem &item(int row) const { return m_items[row]; }
    ThumbnailState thumbnailState(const ImageItem &item) const;
    QImage thumbnail(const ImageItem &item) const;

    // The longer side to ask for so that an aspect-filled square of
    // `squareDevicePixels` stays sharp: a 3:2 picture's shorter side covers
    // the square, and never less than thumbnailSize.
    static int thumbnailSizeFor(qreal squareDevicePixels);

    // Asks the loader for the row's thumbnail of longer side maxSize unless
    // it is cached (at that size or a smaller picture's own), failed or
    // already asked for. A cell showing a quick stored thumbnail keeps its
    // request until the sharp one arrives. The loader serves the newest
    // requests first, so the cells on screen now overtake those scrolled past.
    void requestThumbnail(int row, int maxSize = thumbnailSize);
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
    // Rows whose thumbnails arrived since the last announcement.
    QSet<int> m_arrivedRows;
    QTimer m_arrivalTimer;
};
