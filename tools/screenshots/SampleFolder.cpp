#include "SampleFolder.h"

#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

namespace {

// A landscape-like picture: sky gradient, sun, hills. Different hues per index.
QImage paintPhoto(int index, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int hue = (index * 47) % 360;
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv(hue, 120, 250));
    sky.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 60, 255));
    painter.fillRect(image.rect(), sky);
    QRadialGradient sun(size.width() * 0.7, size.height() * 0.3, size.height() * 0.12);
    sun.setColorAt(0, QColor(255, 250, 220));
    sun.setColorAt(1, QColor(255, 220, 120, 0));
    painter.setBrush(sun);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(size.width() * 0.7, size.height() * 0.3), size.height() * 0.12,
                        size.height() * 0.12);
    for (int layer = 0; layer < 3; ++layer) {
        painter.setBrush(QColor::fromHsv((hue + 120 + layer * 15) % 360, 140, 160 - layer * 40));
        QPolygonF hill;
        const qreal base = size.height() * (0.55 + layer * 0.12);
        hill << QPointF(0, size.height());
        for (int x = 0; x <= 10; ++x) {
            const qreal wave = std::sin((x + index + layer * 3) * 0.9) * size.height() * 0.06;
            hill << QPointF(size.width() * x / 10.0, base + wave);
        }
        hill << QPointF(size.width(), size.height());
        painter.drawPolygon(hill);
    }
    return image;
}

void writePhoto(const QString &path, int index, QSize size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    paintPhoto(index, size).save(path, nullptr, 90);
}

} // namespace

QString writeSampleFolder(const QString &parentDir)
{
    const QString root = parentDir + QStringLiteral("/Sample Photos");
    QDir(root).removeRecursively();
    int index = 0;
    for (int i = 1; i <= 14; ++i) {
        const QSize size = (i % 5 == 0) ? QSize(800, 1200) : QSize(1200, 800);
        writePhoto(root + QStringLiteral("/IMG_%1.jpg").arg(i), index++, size);
    }
    writePhoto(root + QStringLiteral("/scan_01.png"), index++, QSize(900, 900));
    writePhoto(root + QStringLiteral("/scan_02.png"), index++, QSize(900, 600));
    for (int i = 1; i <= 6; ++i)
        writePhoto(root + QStringLiteral("/day2/DSC_%1.jpg").arg(i), index++, QSize(1200, 800));
    for (int i = 1; i <= 4; ++i)
        writePhoto(root + QStringLiteral("/day10/DSC_%1.jpg").arg(100 + i), index++,
                   QSize(1200, 800));
    for (int i = 1; i <= 3; ++i)
        writePhoto(root + QStringLiteral("/day10/evening/PXL_%1.jpg").arg(i), index++,
                   QSize(800, 1200));
    return root;
}
