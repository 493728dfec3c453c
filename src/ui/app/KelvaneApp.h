#pragma once

#include <memory>

class AppState;
class MainWindow;
class QApplication;

// The application entry: the look of the application, the one AppState of the
// run and the main window that shows it. The state outlives the window.
class KelvaneApp
{
public:
    explicit KelvaneApp(QApplication &application);
    ~KelvaneApp();

    // Shows the window and runs the event loop; returns the exit code.
    int run();

private:
    QApplication &m_application;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<MainWindow> m_window;
};
