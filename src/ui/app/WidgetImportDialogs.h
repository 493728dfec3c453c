#pragma once

#include "app/ImportDialogs.h"

#include <QPointer>
#include <memory>

class QFileDialog;
class QWidget;

// The import questions as modal dialogs over `parent`: a directories-only
// QFileDialog and the SubfolderPromptDialog.
class WidgetImportDialogs : public ImportDialogs
{
public:
    explicit WidgetImportDialogs(QWidget *parent);

    // The directories-only dialog chooseFolder() runs, not yet shown.
    static std::unique_ptr<QFileDialog> makeFolderDialog(QWidget *parent);

    std::optional<QUrl> chooseFolder() override;
    SubfolderChoice askIncludeSubfolders(const QString &folderName) override;

private:
    QPointer<QWidget> m_parent;
};
