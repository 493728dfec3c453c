#include "app/KelvaneApp.h"

#include "app/ImportFlow.h"
#include "app/LaunchTarget.h"
#include "app/MainWindow.h"
#include "app/QtTranslations.h"
#include "app/SingleInstance.h"
#include "common/Theme.h"
#include "model/WorkQueues.h"
#include "state/AppState.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QTimer>
#include <QUrl>

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "0"
#endif

void KelvaneApp::describeApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Kelvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVANE_VERSION));
    // The installed desktop entry, so the desktop shows our icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kelvane.Kelvane"));
}

KelvaneApp::KelvaneApp(QApplication &application)
    : m_application(application)
    , m_ownQueues(std::make_unique<WorkQueues>())
    , m_state(std::make_unique<AppState>(*m_ownQueues))
{
    showWindowOfState();
}

KelvaneApp::KelvaneApp(QApplication &application, std::unique_ptr<AppState> state)
    : m_application(application)
    , m_state(std::move(state))
{
    showWindowOfState();
}

void KelvaneApp::showWindowOfState()
{
    describeApplication();
    m_qtTranslations = std::make_unique<QtTranslations>();
    Theme::applyToApplication(m_application);
    m_window = std::make_unique<MainWindow>(*m_state);
}

KelvaneApp::~KelvaneApp()
{
    m_window.reset(); // the window's views read the state until they are gone
}

void KelvaneApp::activate(const QString &path)
{
    raiseWindow();
    if (path.isEmpty())
        return;
    // An open dialog or sheet (an export running from the shown folder, the
    // folder question) keeps the folder it is about: it only comes to the front.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
        return;
    }
    const LaunchTarget target = LaunchTarget::fromPath(path);
    if (!target.isValid()) {
        m_state->setStatusMessage(target.problem());
        return;
    }
    const QUrl folder = QUrl::fromLocalFile(target.folder());
    if (target.image().isEmpty()) {
        m_window->importFlow().openFolder(folder);
        return;
    }
    // Only the photo's own folder: the user asked for this one picture.
    auto *watcher = new QFutureWatcher<void>(m_window.get());
    QObject::connect(watcher, &QFutureWatcher<void>::finished, m_window.get(),
                     [this, watcher, image = target.image()] {
                         watcher->deleteLater();
                         showImageOnceOpen(image);
                     });
    watcher->setFuture(m_state->openFolder(folder, false));
}

void KelvaneApp::takeRequestsFrom(SingleInstance &instance)
{
    QObject::connect(&instance, &SingleInstance::activationRequested, m_window.get(),
                     [this](const QString &path) { activate(path); });
}

void KelvaneApp::showImageOnceOpen(const QString &imagePath)
{
    const QList<ImageItem> &images = m_state->filteredImages();
    for (int i = 0; i < images.size(); ++i) {
        if (images.at(i).path() == imagePath) {
            m_state->selectImage(i);
            return;
        }
    }
}

void KelvaneApp::raiseWindow()
{
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

int KelvaneApp::run(const QString &startPath)
{
    m_window->show();
    if (!startPath.isEmpty()) {
        // Once the window is on screen, so the sub-folder question has a parent to sit on.
        QTimer::singleShot(0, m_window.get(), [this, startPath] { activate(startPath); });
    }
    return m_application.exec();
}
