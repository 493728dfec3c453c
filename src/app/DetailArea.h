#pragma once

#include <QStackedWidget>

class AppState;
class WelcomeView;

// The right-hand column: the viewer while it is active and an image is chosen,
// else the welcome view while no folder is open, else the thumbnail grid.
class DetailArea : public QStackedWidget
{
    Q_OBJECT

public:
    enum class Page { welcome, grid, viewer };

    explicit DetailArea(AppState &state, QWidget *parent = nullptr);

    static Page pageFor(const AppState &state);
    Page currentPage() const;

    WelcomeView *welcomeView() const { return m_welcome; }
    QWidget *gridView() const { return m_grid; }
    QWidget *viewerView() const { return m_viewer; }

Q_SIGNALS:
    void importRequested();

private:
    void showPageForState();

    AppState &m_state;
    WelcomeView *m_welcome;
    QWidget *m_grid;
    QWidget *m_viewer;
};
