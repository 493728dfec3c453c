#include "common/Symbols.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <cmath>

namespace Symbols {

QPainterPath starPath(const QRectF &box)
{
    const qreal outer = std::min(box.width(), box.height()) / 2.0;
    const qreal inner = outer * 0.45;
    // The star's points reach lower than its top: centre it on its own extent.
    const QPointF centre(box.center().x(), box.center().y() + outer * 0.1);
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        const qreal radius = (i % 2 == 0) ? outer : inner;
        const qreal angle = -M_PI / 2 + i * M_PI / 5;
        const QPointF point(centre.x() + radius * std::cos(angle),
                            centre.y() + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

namespace {

QPen strokePen(const QColor &color, const QRectF &box, qreal fraction = 0.09)
{
    QPen pen(color, std::max<qreal>(1.0, box.width() * fraction));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// An open line through points given as fractions of the box's width and height.
QPainterPath polyline(const QRectF &box, std::initializer_list<QPointF> fractions)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF &fraction : fractions) {
        const QPointF point(box.left() + box.width() * fraction.x(),
                            box.top() + box.height() * fraction.y());
        if (first)
            path.moveTo(point);
        else
            path.lineTo(point);
        first = false;
    }
    return path;
}

QPainterPath checkmarkPath(const QRectF &box)
{
    return polyline(box, {{0.18, 0.54}, {0.42, 0.76}, {0.82, 0.26}});
}

// A round-capped pen of an absolute width.
QPen widthPen(const QColor &color, qreal width)
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
    painter.setPen(widthPen(color, box.width() * 0.08));
    painter.setBrush(color);
    painter.drawPath(triangle);
    // The exclamation mark, cut out in black.
    const qreal x = r.center().x();
    painter.setPen(widthPen(Qt::black, box.width() * 0.09));
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

void paintArchiveBox(QPainter &painter, const QRectF &box, const QColor &color)
{
    painter.setPen(strokePen(color, box));
    painter.setBrush(Qt::NoBrush);
    const qreal w = box.width(), h = box.height();
    const QRectF lid(box.left() + w * 0.08, box.top() + h * 0.16, w * 0.84, h * 0.22);
    painter.drawRoundedRect(lid, w * 0.05, w * 0.05);
    const QRectF body(box.left() + w * 0.15, lid.bottom(), w * 0.70, h * 0.46);
    QPainterPath open;
    open.moveTo(body.topLeft());
    open.lineTo(body.bottomLeft());
    open.lineTo(body.bottomRight());
    open.lineTo(body.topRight());
    painter.drawPath(open);
    const qreal slotY = body.top() + body.height() * 0.35;
    painter.drawLine(QPointF(box.left() + w * 0.40, slotY), QPointF(box.left() + w * 0.60, slotY));
}

void paintTrash(QPainter &painter, const QRectF &box, const QColor &color)
{
    painter.setPen(strokePen(color, box));
    painter.setBrush(Qt::NoBrush);
    const qreal w = box.width(), h = box.height();
    const qreal lidY = box.top() + h * 0.22;
    painter.drawLine(QPointF(box.left() + w * 0.12, lidY), QPointF(box.left() + w * 0.88, lidY));
    painter.drawPath(polyline(box, {{0.38, 0.22}, {0.38, 0.10}, {0.62, 0.10}, {0.62, 0.22}}));
    painter.drawPath(polyline(box, {{0.20, 0.22}, {0.26, 0.90}, {0.74, 0.90}, {0.80, 0.22}}));
    for (const qreal x : {0.42, 0.58})
        painter.drawLine(QPointF(box.left() + w * x, box.top() + h * 0.38),
                         QPointF(box.left() + w * x, box.top() + h * 0.76));
}

void paintShareUp(QPainter &painter, const QRectF &box, const QColor &color)
{
    painter.setPen(strokePen(color, box));
    painter.setBrush(Qt::NoBrush);
    const qreal w = box.width(), h = box.height();
    painter.drawPath(polyline(
        box, {{0.34, 0.40}, {0.18, 0.40}, {0.18, 0.90}, {0.82, 0.90}, {0.82, 0.40}, {0.66, 0.40}}));
    const qreal x = box.center().x();
    painter.drawLine(QPointF(x, box.top() + h * 0.08), QPointF(x, box.top() + h * 0.62));
    QPainterPath head;
    head.moveTo(x - w * 0.16, box.top() + h * 0.24);
    head.lineTo(x, box.top() + h * 0.08);
    head.lineTo(x + w * 0.16, box.top() + h * 0.24);
    painter.drawPath(head);
}

void paintPhoto(QPainter &painter, const QRectF &box, const QColor &color)
{
    const qreal w = box.width(), h = box.height();
    const QRectF frame(box.left() + w * 0.06, box.top() + h * 0.18, w * 0.88, h * 0.64);
    painter.setPen(strokePen(color, box, 0.07));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame, w * 0.1, w * 0.1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(
        QPointF(frame.left() + frame.width() * 0.72, frame.top() + frame.height() * 0.3), w * 0.07,
        w * 0.07);
    QPainterPath hills;
    hills.moveTo(frame.left() + w * 0.06, frame.bottom() - h * 0.06);
    hills.lineTo(frame.left() + frame.width() * 0.36, frame.top() + frame.height() * 0.42);
    hills.lineTo(frame.left() + frame.width() * 0.60, frame.top() + frame.height() * 0.70);
    hills.lineTo(frame.left() + frame.width() * 0.74, frame.top() + frame.height() * 0.56);
    hills.lineTo(frame.right() - w * 0.06, frame.bottom() - h * 0.06);
    hills.closeSubpath();
    painter.drawPath(hills);
}

// Corner brackets around a dot.
void paintViewfinder(QPainter &painter, const QRectF &box, const QPen &pen, const QColor &color)
{
    const QRectF r = box.adjusted(box.width() * 0.1, box.height() * 0.14, -box.width() * 0.1,
                                  -box.height() * 0.14);
    const qreal arm = r.width() * 0.26;
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QPointF corners[] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
    for (const QPointF &corner : corners) {
        const qreal towardsX = corner.x() < r.center().x() ? arm : -arm;
        const qreal towardsY = corner.y() < r.center().y() ? arm * 0.8 : -arm * 0.8;
        painter.drawPolyline(
            QPolygonF{corner + QPointF(0, towardsY), corner, corner + QPointF(towardsX, 0)});
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(r.center(), box.width() * 0.08, box.width() * 0.08);
}

// Two arrows from the middle out to opposite corners.
void paintFullScreen(QPainter &painter, const QRectF &box, const QPen &pen)
{
    const QRectF r = box.adjusted(box.width() * 0.16, box.height() * 0.16, -box.width() * 0.16,
                                  -box.height() * 0.16);
    const qreal head = r.width() * 0.34;
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QPointF gap(r.width() * 0.1, r.height() * 0.1);
    painter.drawLine(r.center() - gap, r.topLeft());
    painter.drawPolyline(
        QPolygonF{r.topLeft() + QPointF(0, head), r.topLeft(), r.topLeft() + QPointF(head, 0)});
    painter.drawLine(r.center() + gap, r.bottomRight());
    painter.drawPolyline(QPolygonF{r.bottomRight() - QPointF(0, head), r.bottomRight(),
                                   r.bottomRight() - QPointF(head, 0)});
}

void paintSideBySide(QPainter &painter, const QRectF &box, const QColor &color)
{
    const qreal w = box.width(), h = box.height();
    painter.setPen(strokePen(color, box, 0.08));
    painter.setBrush(Qt::NoBrush);
    for (const qreal left : {0.06, 0.54})
        painter.drawRoundedRect(
            QRectF(box.left() + w * left, box.top() + h * 0.2, w * 0.40, h * 0.6), w * 0.06,
            w * 0.06);
}

void paintFlag(QPainter &painter, const QRectF &box, const QColor &color)
{
    const qreal w = box.width(), h = box.height();
    const qreal pole = box.left() + w * 0.22;
    painter.setPen(strokePen(color, box, 0.12));
    painter.drawLine(QPointF(pole, box.top() + h * 0.1), QPointF(pole, box.bottom() - h * 0.05));
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPolygon(QPolygonF{QPointF(pole, box.top() + h * 0.1),
                                  QPointF(box.right() - w * 0.08, box.top() + h * 0.3),
                                  QPointF(pole, box.top() + h * 0.55)});
}

void paintCross(QPainter &painter, const QRectF &box, const QColor &color)
{
    const QRectF r = box.adjusted(box.width() * 0.18, box.height() * 0.18, -box.width() * 0.18,
                                  -box.height() * 0.18);
    QPen pen = strokePen(color, box, 0.16);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.drawLine(r.topLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomLeft());
}

} // namespace

void paint(QPainter &painter, Symbol symbol, const QRectF &box, const QColor &color, qreal weight)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen line = widthPen(color, std::max(1.0, box.width() * 0.1 * weight));
    switch (symbol) {
    case Symbol::ChevronLeft:
        paintChevron(painter, box, true, line);
        break;
    case Symbol::ChevronRight:
        paintChevron(painter, box, false, line);
        break;
    case Symbol::WarningTriangle:
        paintTriangle(painter, box, color);
        break;
    case Symbol::Wand:
        paintWand(painter, box, line);
        break;
    case Symbol::StarFill:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(starPath(box));
        break;
    case Symbol::Star:
        painter.setPen(QPen(color, std::max<qreal>(1.0, box.width() * 0.08)));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(starPath(box.adjusted(0.5, 0.5, -0.5, -0.5)));
        break;
    case Symbol::ArchiveBox:
        paintArchiveBox(painter, box, color);
        break;
    case Symbol::CheckmarkCircleFill:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(box);
        painter.setPen(strokePen(Qt::white, box, 0.11));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(checkmarkPath(box.adjusted(box.width() * 0.12, box.height() * 0.12,
                                                    -box.width() * 0.12, -box.height() * 0.12)));
        break;
    case Symbol::Checkmark:
        painter.setPen(strokePen(color, box, 0.16));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(checkmarkPath(box));
        break;
    case Symbol::ShareUp:
        paintShareUp(painter, box, color);
        break;
    case Symbol::Trash:
        paintTrash(painter, box, color);
        break;
    case Symbol::Photo:
        paintPhoto(painter, box, color);
        break;
    case Symbol::Viewfinder:
        paintViewfinder(painter, box, line, color);
        break;
    case Symbol::FullScreen:
        paintFullScreen(painter, box, line);
        break;
    case Symbol::SideBySide:
        paintSideBySide(painter, box, color);
        break;
    case Symbol::Flag:
        paintFlag(painter, box, color);
        break;
    case Symbol::Cross:
        paintCross(painter, box, color);
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

} // namespace Symbols
