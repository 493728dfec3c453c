#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <memory>

class ColorPanelCoordinator;
class QColorDialog;

// The application's one colour panel: a non-modal colour dialog without an
// opacity control and without buttons, whose live changes go to one target
// coordinator at a time. Owned by the application object (a child of qApp,
// created on first use); the dialog is closed and deleted when the
// application quits. UI thread only.
class SharedColorPanel : public QObject
{
    Q_OBJECT

public:
    // Creates the host on first use. Needs a QApplication.
    static SharedColorPanel &instance();
    // The host if it has been created, else null; never creates it.
    static SharedColorPanel *existing();
    // Whether the panel exists and is on screen; never creates it.
    static bool isPanelVisible();

    ~SharedColorPanel() override;

    // The dialog, created on first use.
    QColorDialog *panel();
    // Where colour changes go; null sends them nowhere.
    void setTarget(ColorPanelCoordinator *target);
    ColorPanelCoordinator *target() const;

private:
    explicit SharedColorPanel(QObject *parent);
    void forward(const QColor &color);

    std::unique_ptr<QColorDialog> m_panel;
    QPointer<ColorPanelCoordinator> m_target;
};
