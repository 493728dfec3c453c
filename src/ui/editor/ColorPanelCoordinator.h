#pragma once

#include <QColor>
#include <QObject>
#include <functional>

// The link between one editor's colour swatches and the shared colour panel:
// the panel reports to the coordinator, the coordinator to the swatch that
// opened the panel last. One per editor, living as long as the editor;
// detach() cuts the link so a panel left open changes nothing. UI thread only.
class ColorPanelCoordinator : public QObject
{
    Q_OBJECT

public:
    using ChangeHandler = std::function<void(const QColor &)>;

    explicit ColorPanelCoordinator(QObject *parent = nullptr);
    ~ColorPanelCoordinator() override;

    // A swatch was clicked: shows the shared panel (opaque colours only) set to
    // `current`, and sends its later changes to `onChange` alone.
    void openPanel(const QColor &current, ChangeHandler onChange);
    // The panel's colour changed: forwarded to the current handler, if any.
    void colorDidChange(const QColor &color);
    // Drops the handler and stops the panel reporting here.
    void detach();

    bool hasHandler() const { return bool(m_onChange); }

private:
    ChangeHandler m_onChange;
};
