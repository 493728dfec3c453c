#include "app/KelvaneApp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    KelvaneApp kelvane(application);
    return kelvane.run();
}
