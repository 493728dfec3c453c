#include "browse/ThumbnailCell.h"

#include "browse/ThumbnailListModel.h"
#include "common/BrowseStyle.h"
#include "common/Symbols.h"
#include "state/AppState.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace {

// Tiles kept ready to blit: about 90 MB at a device pixel ratio of 1, several
// screenfuls, so scrolling back and forth does not rescale.
constexpr int kTileCacheEntries = 1200;

QPainterPath roundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

ThumbnailCell::ThumbnailCell(ThumbnailListModel &model, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_model(model)
    , m_slotSize(slotSize(pictureSide))
    , m_nameFont(BrowseStyle::caption2())
    , m_badgeFont(BrowseStyle::sized(QFont(), 9, QFont::Bold))
    , m_tiles(kTileCacheEntries)
{
    // Like the loader's thumbnails, the tiles start over with every folder opened.
    connect(&model.state(), &AppState::currentFolderChanged, this, [this] { m_tiles.clear(); });
}

int ThumbnailCell::tileHeight()
{
    return pictureSide + rowSpacing + QFontMetrics(BrowseStyle::caption2()).height();
}

QSize ThumbnailCell::slotSize(int columnWidth)
{
    return QSize(columnWidth + gap, tileHeight() + gap);
}

QRect ThumbnailCell::cellFrame(const QRect &slot)
{
    return QRect(slot.x() + (slot.width() - pictureSide) / 2, slot.y() + gap / 2, pictureSide,
                 tileHeight());
}

QRect ThumbnailCell::pictureRect(const QRect &slot)
{
    const QRect frame = cellFrame(slot);
    return QRect(frame.topLeft(), QSize(pictureSide, pictureSide));
}

QRect ThumbnailCell::selectionBadgeRect(const QRect &slot)
{
    return QRect(pictureRect(slot).topLeft() + QPoint(badgeInset, badgeInset),
                 QSize(badgeSide, badgeSide));
}

QRect ThumbnailCell::spinnerRect(const QRect &slot)
{
    const QPoint centre = pictureRect(slot).center();
    return QRect(centre - QPoint(11, 11), QSize(23, 23));
}

QSize ThumbnailCell::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return m_slotSize;
}

void ThumbnailCell::paint(QPainter *painter, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const
{
    const int row = index.row();
    const ImageItem &item = m_model.item(row);
    const AppState &state = m_model.state();
    const QRect slot = option.rect;
    const QRect picture = pictureRect(slot);
    const QColor accent = BrowseStyle::accent(option.palette);
    const bool selected = state.selectedImageIDs().contains(item.id());

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const CullingMark mark = state.mark(item);
    if (mark.flag == CullingFlag::reject)
        painter->setOpacity(rejectedOpacity);
    paintPicture(*painter, picture, row, item, option.palette);
    painter->setOpacity(1);
    paintFormatBadge(*painter, picture, item);
    paintStars(*painter, picture, state.rating(item));
    if (!mark.isEmpty())
        paintMark(*painter, picture, mark);
    paintSelectionBadge(*painter, slot, selected, accent);
    if (selected) {
        painter->setPen(QPen(accent, ringWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(picture), cornerRadius, cornerRadius);
    }
    paintName(*painter, slot, item, option.palette);
    painter->restore();
}

QPixmap ThumbnailCell::tile(const QString &path, const QImage &thumbnail, qreal ratio) const
{
    // The thumbnail's own identity is part of the key: a file decoded anew
    // (edited since, or its thumbnail replaced) never gets an old tile.
    const QString key = path + QLatin1Char('@') + QString::number(thumbnail.cacheKey()) +
                        QLatin1Char('@') + QString::number(ratio);
    if (const QPixmap *cached = m_tiles.object(key))
        return *cached;
    const int side = qRound(pictureSide * ratio);
    // Aspect fill: scale the shorter side to the square, crop the longer one.
    const QSize filled = thumbnail.size().scaled(side, side, Qt::KeepAspectRatioByExpanding);
    const QImage scaled = thumbnail.scaled(filled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    {
        QPainter painter(&square);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(scaled);
        painter.setBrushOrigin(-(filled.width() - side) / 2.0, -(filled.height() - side) / 2.0);
        painter.drawPath(roundedRect(QRectF(0, 0, side, side), cornerRadius * ratio));
    }
    auto *pixmap = new QPixmap(QPixmap::fromImage(square));
    pixmap->setDevicePixelRatio(ratio);
    const QPixmap result = *pixmap;
    m_tiles.insert(key, pixmap);
    return result;
}

void ThumbnailCell::paintPicture(QPainter &painter, const QRect &picture, int row,
                                 const ImageItem &item, const QPalette &palette) const
{
    const qreal ratio = painter.device()->devicePixelRatioF();
    const int wanted = ThumbnailListModel::thumbnailSizeFor(pictureSide * ratio);
    switch (m_model.thumbnailState(item)) {
    case ThumbnailListModel::ThumbnailState::Ready:
        painter.drawPixmap(picture.topLeft(), tile(item.path(), m_model.thumbnail(item), ratio));
        // Made for a smaller screen: a sharper one replaces it when it is ready.
        m_model.requestThumbnail(row, wanted);
        return;
    case ThumbnailListModel::ThumbnailState::Loading:
        // The spinner alone: the fill belongs to the placeholder of a failed decode.
        paintSpinner(painter, QRectF(picture.center() - QPointF(9, 9), QSizeF(18, 18)));
        m_model.requestThumbnail(row, wanted);
        return;
    case ThumbnailListModel::ThumbnailState::Failed:
        paintPlaceholder(painter, picture, palette);
        return;
    }
}

void ThumbnailCell::paintSpinner(QPainter &painter, const QRectF &box) const
{
    // Twelve spokes, the brightest one turning with the phase.
    constexpr int spokes = 12;
    const QPointF centre = box.center();
    const qreal outer = box.width() / 2, inner = outer * 0.45;
    for (int i = 0; i < spokes; ++i) {
        const int age = (m_spinnerPhase - i + spokes) % spokes;
        QPen pen(QColor(128, 128, 128, 220 - age * 15), 2.0);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        const qreal angle = i * 2 * M_PI / spokes - M_PI / 2;
        const QPointF direction(std::cos(angle), std::sin(angle));
        painter.drawLine(centre + direction * inner, centre + direction * outer);
    }
}

void ThumbnailCell::paintPlaceholder(QPainter &painter, const QRect &picture,
                                     const QPalette &palette) const
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(BrowseStyle::quaternaryFill(palette));
    painter.drawRoundedRect(QRectF(picture), cornerRadius, cornerRadius);
    const QFontMetrics metrics(m_nameFont);
    const int symbolSide = 26;
    const int total = symbolSide + 4 + metrics.height();
    const int top = picture.center().y() - total / 2;
    Symbols::paint(painter, Symbols::Symbol::Photo,
                   QRectF(picture.center().x() - symbolSide / 2.0, top, symbolSide, symbolSide),
                   BrowseStyle::tertiaryText(palette));
    painter.setFont(m_nameFont);
    painter.setPen(BrowseStyle::secondaryText(palette));
    painter.drawText(QRect(picture.left(), top + symbolSide + 4, picture.width(), metrics.height()),
                     Qt::AlignCenter, QStringLiteral("不支持的格式"));
}

void ThumbnailCell::paintFormatBadge(QPainter &painter, const QRect &picture,
                                     const ImageItem &item) const
{
    const QFontMetrics metrics(m_badgeFont);
    const QString &label = item.formatLabel();
    // 5 points left and right, 2 above and below the text.
    const QSize size(metrics.horizontalAdvance(label) + 10, metrics.height() + 4);
    const QRect badge(picture.right() + 1 - 4 - size.width(),
                      picture.bottom() + 1 - 4 - size.height(), size.width(), size.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(BrowseStyle::formatBadgeColor(item.formatCategory()));
    painter.drawRoundedRect(QRectF(badge), 4, 4);
    painter.setFont(m_badgeFont);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, label);
}

void ThumbnailCell::paintStars(QPainter &painter, const QRect &picture, int rating) const
{
    if (rating < 1)
        return;
    constexpr qreal star = 8, spacing = 1, padding = 4;
    const qreal width = rating * star + (rating - 1) * spacing + 2 * padding;
    const QRectF box(picture.right() + 1 - 4 - width, picture.top() + 4, width, star + 2 * padding);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 128));
    painter.drawRoundedRect(box, 3, 3);
    painter.setBrush(BrowseStyle::starYellow());
    for (int i = 0; i < rating; ++i) {
        const QRectF glyph(box.left() + padding + i * (star + spacing), box.top() + padding, star,
                           star);
        painter.drawPath(Symbols::starPath(glyph));
    }
}

void ThumbnailCell::paintMark(QPainter &painter, const QRect &picture,
                              const CullingMark &mark) const
{
    const QRectF badge = markBadgeRect(picture);
    if (mark.flag != CullingFlag::none) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 128));
        painter.drawRoundedRect(badge, 3, 3);
        const bool rejected = mark.flag == CullingFlag::reject;
        Symbols::paint(painter, rejected ? Symbols::Symbol::Cross : Symbols::Symbol::Flag,
                       badge.adjusted(3, 3, -3, -3), Qt::white);
    }
    if (mark.label != ColourLabel::none) {
        const qreal dot = 10;
        const QRectF at(badge.right() + 4, badge.center().y() - dot / 2, dot, dot);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(BrowseStyle::labelColor(mark.label));
        painter.drawEllipse(at);
    }
}

QRectF ThumbnailCell::markBadgeRect(const QRect &picture)
{
    constexpr qreal side = 16;
    return QRectF(picture.left() + 4, picture.bottom() + 1 - 4 - side, side, side);
}

void ThumbnailCell::paintSelectionBadge(QPainter &painter, const QRect &slot, bool selected,
                                        const QColor &accent) const
{
    const QRectF badge(selectionBadgeRect(slot));
    painter.setPen(Qt::NoPen);
    painter.setBrush(selected ? accent : QColor(0, 0, 0, 89));
    painter.drawEllipse(badge);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(badge.adjusted(0.75, 0.75, -0.75, -0.75));
    if (selected)
        Symbols::paint(painter, Symbols::Symbol::Checkmark, badge.adjusted(4.5, 4.5, -4.5, -4.5),
                       Qt::white);
}

void ThumbnailCell::paintName(QPainter &painter, const QRect &slot, const ImageItem &item,
                              const QPalette &palette) const
{
    const QRect frame = cellFrame(slot);
    const QFontMetrics metrics(m_nameFont);
    const QRect name(frame.left(), frame.top() + pictureSide + rowSpacing, pictureSide,
                     metrics.height());
    painter.setFont(m_nameFont);
    painter.setPen(palette.color(QPalette::Text));
    painter.drawText(name, Qt::AlignHCenter | Qt::AlignVCenter,
                     metrics.elidedText(item.filename(), Qt::ElideMiddle, pictureSide));
}

bool ThumbnailCell::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                              const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (!event || !view || !index.isValid())
        return false;
    const QRect badge = selectionBadgeRect(option.rect);
    if (!badge.contains(event->pos())) {
        QToolTip::hideText();
        return true;
    }
    const bool selected = index.data(ThumbnailListModel::SelectedRole).toBool();
    QToolTip::showText(event->globalPos(),
                       selected ? QStringLiteral("取消选择") : QStringLiteral("选择"), view, badge);
    return true;
}
