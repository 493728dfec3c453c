#include "app/KelvaneApp.h"

#include "app/MainWindow.h"
#include "common/Theme.h"
#include "state/AppState.h"

#include <QApplication>

KelvaneApp::KelvaneApp(QApplication &application)
    : m_application(application)
{
    QApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    Theme::applyToApplication(application);
    m_state = std::make_unique<AppState>();
    m_window = std::make_unique<MainWindow>(*m_state);
}

KelvaneApp::~KelvaneApp()
{
    m_window.reset(); // the window's views read the state until they are gone
}

int KelvaneApp::run()
{
    m_window->show();
    return m_application.exec();
}
