#pragma once

#include <QDialog>

class QCheckBox;
class XmpRatingSync;

// "设置": the application's few settings. The window has no menu bar; the
// sidebar's gear button opens it. Changes apply at once.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(XmpRatingSync &sync, QWidget *parent = nullptr);

    QCheckBox *xmpSyncCheckBox() const { return m_xmpSync; }

private:
    QCheckBox *m_xmpSync = nullptr;
};
