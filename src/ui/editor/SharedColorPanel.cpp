#include "editor/SharedColorPanel.h"

#include "editor/ColorPanelCoordinator.h"

#include <QApplication>
#include <QColorDialog>

SharedColorPanel *SharedColorPanel::existing()
{
    if (!qApp)
        return nullptr;
    return qApp->findChild<SharedColorPanel *>(QString(), Qt::FindDirectChildrenOnly);
}

SharedColorPanel &SharedColorPanel::instance()
{
    SharedColorPanel *host = existing();
    return host ? *host : *new SharedColorPanel(qApp);
}

bool SharedColorPanel::isPanelVisible()
{
    const SharedColorPanel *host = existing();
    return host && host->m_panel && host->m_panel->isVisible();
}

SharedColorPanel::SharedColorPanel(QObject *parent)
    : QObject(parent)
{
    // Widgets must go before the application object does.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { m_panel.reset(); });
}

SharedColorPanel::~SharedColorPanel()
{
    // Destroyed with the application object without aboutToQuit (no event
    // loop ran): the widget system is gone, so the dialog cannot be deleted
    // safely any more; the process is ending anyway.
    if (!qApp)
        (void)m_panel.release();
}

QColorDialog *SharedColorPanel::panel()
{
    if (!m_panel) {
        m_panel = std::make_unique<QColorDialog>();
        m_panel->setWindowTitle(QStringLiteral("颜色"));
        m_panel->setOptions(QColorDialog::NoButtons | QColorDialog::DontUseNativeDialog);
        m_panel->setModal(false);
        connect(m_panel.get(), &QColorDialog::currentColorChanged, this,
                &SharedColorPanel::forward);
    }
    return m_panel.get();
}

void SharedColorPanel::setTarget(ColorPanelCoordinator *target)
{
    m_target = target;
}

ColorPanelCoordinator *SharedColorPanel::target() const
{
    return m_target;
}

void SharedColorPanel::forward(const QColor &color)
{
    if (m_target)
        m_target->colorDidChange(color);
}
