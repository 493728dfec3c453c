#include "app/WidgetImportDialogs.h"

#include "app/SubfolderPromptDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QTreeView>

WidgetImportDialogs::WidgetImportDialogs(QWidget *parent)
    : m_parent(parent)
{}

std::unique_ptr<QFileDialog> WidgetImportDialogs::makeFolderDialog(QWidget *parent)
{
    auto dialog = std::make_unique<QFileDialog>(parent, QStringLiteral("选择要导入的图片文件夹"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    // Qt's own dialog: the accept label and message are honoured on every desktop.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("导入"));
    dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("选择要导入的图片文件夹"));
    dialog->setLabelText(QFileDialog::FileName, QStringLiteral("文件夹："));
    dialog->setLabelText(QFileDialog::FileType, QStringLiteral("类型："));
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
    dialog->setDirectory(QDir::homePath());
    dialog->resize(760, 480);
    // Only folders are listed, so the type column would say "Folder" (which
    // Qt's catalogue leaves English) on every row.
    if (auto *details = dialog->findChild<QTreeView *>(QStringLiteral("treeView")))
        details->setColumnHidden(2, true);
    return dialog;
}

std::optional<QUrl> WidgetImportDialogs::chooseFolder()
{
    const std::unique_ptr<QFileDialog> dialog = makeFolderDialog(m_parent);
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    const QList<QUrl> urls = dialog->selectedUrls();
    if (urls.isEmpty())
        return std::nullopt;
    return urls.first();
}

ImportDialogs::SubfolderChoice WidgetImportDialogs::askIncludeSubfolders(const QString &folderName)
{
    SubfolderPromptDialog dialog(folderName, m_parent);
    dialog.exec();
    return dialog.choice();
}
