#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QApplication::setApplicationName(QStringLiteral("Kelvane"));

    QLabel window(QStringLiteral("Kelvane"));
    window.resize(1200, 800);
    window.show();
    return app.exec();
}
