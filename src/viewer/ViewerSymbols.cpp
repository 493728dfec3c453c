#include "ViewerSymbols.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ViewerSymbols {

namespace {

QPen strokePen(const QColor &color, qreal width)
{
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void paintChevron(QPainter &painter, const QRectF &box, bool left, const QPen &pen)
{
    const qreal w = box.width() * 0.32;
    const qreal h = box.height() * 0.42;
    const QPointF c = box.center();
    const qreal tipX = left ? c.x() - w / 2 : c.x() + w / 2;
    const qreal tailX = left ? c.x() + w / 2 : c.x() - w / 2;
    painter.setPen(pen);
    painter.drawPolyline(
        QPolygonF{QPointF(tailX, c.y() - h), QPointF(tipX, c.y()), QPointF(tailX, c.y() + h)});
}

void paintTriangle(QPainter &painter, const QRectF &box, const QColor &color)
{
    const QRectF r = box.adjusted(box.width() * 0.04, box.height() * 0.08, -box.width() * 0.04,
                                  -box.height() * 0.06);
    QPainterPath triangle;
    triangle.moveTo(r.center().x(), r.top());
    triangle.lineTo(r.right(), r.bottom());
    triangle.lineTo(r.left(), r.bottom());
    triangle.closeSubpath();
    painter.setPen(strokePen(color, box.width() * 0.08));
    painter.setBrush(color);
    painter.drawPath(triangle);
    // The exclamation mark, cut out in black.
    const qreal x = r.center().x();
    painter.setPen(strokePen(Qt::black, box.width() * 0.09));
    painter.drawLine(QPointF(x, r.top() + r.height() * 0.36),
                     QPointF(x, r.top() + r.height() * 0.68));
    painter.drawPoint(QPointF(x, r.top() + r.height() * 0.84));
}

void paintWand(QPainter &painter, const QRectF &box, const QPen &pen)
{
    painter.setPen(pen);
    const QRectF r = box.adjusted(box.width() * 0.12, box.height() * 0.12, -box.width() * 0.12,
                                  -box.height() * 0.12);
    painter.drawLine(r.bottomLeft(),
                     QPointF(r.left() + r.width() * 0.62, r.top() + r.height() * 0.38));
    // Rays around the tip.
    const QPointF tip(r.left() + r.width() * 0.78, r.top() + r.height() * 0.22);
    const qreal ray = r.width() * 0.16;
    painter.drawLine(tip + QPointF(0, -ray), tip + QPointF(0, -ray * 2));
    painter.drawLine(tip + QPointF(ray, 0), tip + QPointF(ray * 2, 0));
    painter.drawLine(tip + QPointF(ray * 0.8, -ray * 0.8), tip + QPointF(ray * 1.5, -ray * 1.5));
    painter.drawLine(tip + QPointF(-ray * 0.8, -ray * 0.8), tip + QPointF(-ray * 1.4, -ray * 1.4));
    painter.drawLine(tip + QPointF(ray * 0.8, ray * 0.8), tip + QPointF(ray * 1.4, ray * 1.4));
}

void paintCheckmarkCircle(QPainter &painter, const QRectF &box, const QColor &color)
{
    const QRectF r = box.adjusted(1, 1, -1, -1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(r);
    painter.setPen(strokePen(Qt::white, box.width() * 0.11));
    painter.drawPolyline(
        QPolygonF{QPointF(r.left() + r.width() * 0.28, r.top() + r.height() * 0.52),
                  QPointF(r.left() + r.width() * 0.44, r.top() + r.height() * 0.68),
                  QPointF(r.left() + r.width() * 0.72, r.top() + r.height() * 0.34)});
}

void paintShareArrow(QPainter &painter, const QRectF &box, const QPen &pen)
{
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF r = box.adjusted(box.width() * 0.16, box.height() * 0.08, -box.width() * 0.16,
                                  -box.height() * 0.08);
    const qreal x = r.center().x();
    // The tray, open at the top.
    painter.drawPolyline(QPolygonF{QPointF(x - r.width() * 0.18, r.top() + r.height() * 0.42),
                                   QPointF(r.left(), r.top() + r.height() * 0.42),
                                   QPointF(r.left(), r.bottom()), QPointF(r.right(), r.bottom()),
                                   QPointF(r.right(), r.top() + r.height() * 0.42),
                                   QPointF(x + r.width() * 0.18, r.top() + r.height() * 0.42)});
    // The arrow, out of the tray.
    painter.drawLine(QPointF(x, r.top() + r.height() * 0.66), QPointF(x, r.top()));
    painter.drawPolyline(QPolygonF{QPointF(x - r.width() * 0.22, r.top() + r.height() * 0.2),
                                   QPointF(x, r.top()),
                                   QPointF(x + r.width() * 0.22, r.top() + r.height() * 0.2)});
}

} // namespace

void paint(QPainter &painter, Symbol symbol, const QRectF &box, const QColor &color, qreal weight)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen pen = strokePen(color, std::max(1.0, box.width() * 0.1 * weight));
    switch (symbol) {
    case Symbol::chevronLeft:
        paintChevron(painter, box, true, pen);
        break;
    case Symbol::chevronRight:
        paintChevron(painter, box, false, pen);
        break;
    case Symbol::warningTriangle:
        paintTriangle(painter, box, color);
        break;
    case Symbol::wand:
        paintWand(painter, box, pen);
        break;
    case Symbol::checkmarkCircle:
        paintCheckmarkCircle(painter, box, color);
        break;
    case Symbol::shareArrow:
        paintShareArrow(painter, box, pen);
        break;
    }
    painter.restore();
}

QIcon icon(Symbol symbol, const QColor &color, int size)
{
    const qreal ratio = std::max(1.0, qApp ? qApp->devicePixelRatio() : 1.0);
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(painter, symbol, QRectF(0, 0, size, size), color);
    painter.end();
    return QIcon(pixmap);
}

} // namespace ViewerSymbols
