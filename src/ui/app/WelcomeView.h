#pragma once

#include <QWidget>

class QPushButton;

// The empty state shown while no folder is open: the logo, "Kelvane", the
// invitation and the prominent "导入文件夹" button.
class WelcomeView : public QWidget
{
    Q_OBJECT

public:
    explicit WelcomeView(QWidget *parent = nullptr);

    QPushButton *importButton() const { return m_importButton; }

Q_SIGNALS:
    void importRequested();

private:
    QPushButton *m_importButton;
};
