#include "editor/ColorPanelCoordinator.h"

#include "editor/SharedColorPanel.h"

#include <QColorDialog>

ColorPanelCoordinator::ColorPanelCoordinator(QObject *parent)
    : QObject(parent)
{}

ColorPanelCoordinator::~ColorPanelCoordinator()
{
    detach();
}

void ColorPanelCoordinator::openPanel(const QColor &current, ChangeHandler onChange)
{
    SharedColorPanel &shared = SharedColorPanel::instance();
    QColorDialog *panel = shared.panel();
    panel->setOption(QColorDialog::ShowAlphaChannel, false);
    // Setting the panel's colour reports a change: the previous swatch's
    // handler must be gone by then, or it would receive the new swatch's colour.
    m_onChange = nullptr;
    panel->setCurrentColor(current);
    m_onChange = std::move(onChange);
    shared.setTarget(this);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void ColorPanelCoordinator::colorDidChange(const QColor &color)
{
    if (m_onChange)
        m_onChange(color);
}

void ColorPanelCoordinator::detach()
{
    m_onChange = nullptr;
    SharedColorPanel *shared = SharedColorPanel::existing();
    if (shared && shared->target() == this)
        shared->setTarget(nullptr);
}
