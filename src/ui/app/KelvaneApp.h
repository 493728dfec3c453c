#pragma once

#include <QString>
#include <memory>

class AppState;
class MainWindow;
class QApplication;
class QtTranslations;
class SingleInstance;
class WorkQueues;

// The application entry: the look of the application, the thread pools and
// the one AppState of the run, and the main window that shows it. The pools
// outlive the state, the state outlives the window.
class KelvaneApp
{
public:
    // Organisation, name and version; callable before any application object.
    static void describeApplication();

    // The stores live at their places in the user's home.
    explicit KelvaneApp(QApplication &application);
    // A state built by the caller, whose WorkQueues outlive this object.
    KelvaneApp(QApplication &application, std::unique_ptr<AppState> state);
    ~KelvaneApp();

    MainWindow &window() const { return *m_window; }
    AppState &state() const { return *m_state; }

    // Brings the window to the front and opens what `path` names: a folder
    // through the import flow, an image in its folder's viewer; anything else
    // only says why it cannot. An empty path only raises the window; so does
    // any path while a dialog or sheet is open.
    void activate(const QString &path);
    // Serves the requests of later starts through activate().
    void takeRequestsFrom(SingleInstance &instance);

    // Shows the window, opens `startPath` (if any) once it is on screen, and
    // runs the event loop; returns the exit code.
    int run(const QString &startPath = {});

private:
    void showWindowOfState();
    void raiseWindow();
    void showImageOnceOpen(const QString &imagePath);

    QApplication &m_application;
    std::unique_ptr<QtTranslations> m_qtTranslations;
    std::unique_ptr<WorkQueues> m_ownQueues; // empty when the caller built the state
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<MainWindow> m_window;
};
