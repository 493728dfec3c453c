#pragma once

#include <QDialog>

class QCheckBox;
class ViewerSettings;
class XmpRatingSync;

// "设置": the application's few settings. The window has no menu bar; the
// sidebar's gear button opens it. Changes apply at once.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    SettingsDialog(XmpRatingSync &sync, ViewerSettings &viewer, QWidget *parent = nullptr);

    QCheckBox *xmpSyncCheckBox() const { return m_xmpSync; }
    QCheckBox *autoAdvanceCheckBox() const { return m_autoAdvance; }

private:
    QCheckBox *m_xmpSync = nullptr;
    QCheckBox *m_autoAdvance = nullptr;
};
