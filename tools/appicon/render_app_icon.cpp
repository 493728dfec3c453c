// Renders the application logo (SVG) into the PNG sizes of the desktop's
// icon theme:
//   kelvane-appicon <logo.svg> <output.png> <size>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    const int size = arguments.value(3).toInt();
    if (arguments.size() != 4 || size <= 0) {
        std::fprintf(stderr, "usage: kelvane-appicon LOGO.svg OUTPUT.png SIZE\n");
        return 2;
    }
    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "kelvane-appicon: cannot read %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    if (!icon.save(arguments.at(2), "PNG")) {
        std::fprintf(stderr, "kelvane-appicon: cannot write %s\n", qPrintable(arguments.at(2)));
        return 1;
    }
    return 0;
}
