#pragma once

#include "app/ImportDialogs.h"

#include <QDialog>

class QPushButton;

// The alert "导入子文件夹": the question for one folder and the buttons
// "包含子文件夹", "仅当前文件夹" and "取消", in that order. Escape and closing the
// window answer "取消".
class SubfolderPromptDialog : public QDialog
{
    Q_OBJECT

public:
    SubfolderPromptDialog(const QString &folderName, QWidget *parent = nullptr);

    ImportDialogs::SubfolderChoice choice() const { return m_choice; }

    static QString message(const QString &folderName);

private:
    QPushButton *addChoiceButton(const QString &text, ImportDialogs::SubfolderChoice choice);

    ImportDialogs::SubfolderChoice m_choice = ImportDialogs::SubfolderChoice::cancel;
};
