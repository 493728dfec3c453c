#pragma once

#include <QCache>
#include <QPixmap>
#include <QStyledItemDelegate>

class ImageItem;
struct CullingMark;
class ThumbnailListModel;

// Paints one tile of the grid: the 140 x 140 picture (aspect-filled, or a
// spinner while it loads, or the "unsupported" placeholder), the format
// badge, the star row, the flag badge and label dot (a rejected photo's
// picture dimmed), the selection badge, the selection ring and the file
// name under it. One delegate paints every cell; no widget per cell.
//
// The cell rectangle the view hands over is a whole grid slot (column width +
// 8 by cell height + 8): the tile is centred in it, so half of the 8-point
// gaps lies on each side. Painting asks the model for the thumbnails of the
// cells being painted, and only for those.
class ThumbnailCell : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int pictureSide = 140;
    static constexpr int rowSpacing = 4; // between the picture and the name
    static constexpr int gap = 8;        // between columns and between rows
    static constexpr int badgeSide = 20; // the selection badge
    static constexpr int badgeInset = 6;
    static constexpr int cornerRadius = 6;
    static constexpr int ringWidth = 3;
    static constexpr qreal rejectedOpacity = 0.35; // a rejected photo's picture

    explicit ThumbnailCell(ThumbnailListModel &model, QObject *parent = nullptr);

    // The tile (picture and name) without the gaps: what the rubber band tests.
    static QRect cellFrame(const QRect &slot);
    static QRect pictureRect(const QRect &slot);
    static QRect selectionBadgeRect(const QRect &slot);
    // Where a loading cell's spinner turns (with room for its antialiasing).
    static QRect spinnerRect(const QRect &slot);
    // The flag's badge in the picture's lower left corner; the label's dot
    // sits to its right.
    static QRectF markBadgeRect(const QRect &picture);
    static int tileHeight();

    // The slot size for columns `columnWidth` wide.
    static QSize slotSize(int columnWidth);

    void setSlotSize(const QSize &size) { m_slotSize = size; }
    // Advances the spinners of the cells still loading.
    void setSpinnerPhase(int phase) { m_spinnerPhase = phase; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // The picture as drawn (cropped square with rounded corners), cached per
    // file, thumbnail (QImage::cacheKey) and device pixel ratio; emptied when
    // a folder is opened. Exposed for the benchmark.
    QPixmap tile(const QString &path, const QImage &thumbnail, qreal ratio) const;

private:
    void paintPicture(QPainter &painter, const QRect &picture, int row, const ImageItem &item,
                      const QPalette &palette) const;
    void paintSpinner(QPainter &painter, const QRectF &box) const;
    void paintPlaceholder(QPainter &painter, const QRect &picture, const QPalette &palette) const;
    void paintFormatBadge(QPainter &painter, const QRect &picture, const ImageItem &item) const;
    void paintStars(QPainter &painter, const QRect &picture, int rating) const;
    void paintMark(QPainter &painter, const QRect &picture, const CullingMark &mark) const;
    void paintSelectionBadge(QPainter &painter, const QRect &slot, bool selected,
                             const QColor &accent) const;
    void paintName(QPainter &painter, const QRect &slot, const ImageItem &item,
                   const QPalette &palette) const;

    ThumbnailListModel &m_model;
    QSize m_slotSize;
    int m_spinnerPhase = 0;
    QFont m_nameFont;
    QFont m_badgeFont;
    mutable QCache<QString, QPixmap> m_tiles;
};
