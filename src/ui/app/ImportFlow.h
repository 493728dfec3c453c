#pragma once

#include "app/ImportDialogs.h"

#include <QObject>
#include <QUrl>
#include <memory>
#include <optional>

class AppState;

// Importing a folder: choose it, ask about sub-folders when it has a visible
// one, then open it. The open runs off the UI thread; this returns as soon as
// it has started.
class ImportFlow : public QObject
{
    Q_OBJECT

public:
    ImportFlow(AppState &state, std::unique_ptr<ImportDialogs> dialogs, QObject *parent = nullptr);
    ~ImportFlow() override;

    void importFolder();
    // Opens `folder` as if it had been chosen in the dialog: the sub-folder
    // question first when it has a visible sub-folder.
    void openFolder(const QUrl &folder);

    // The folder whose sub-folder question is or was last asked; cleared by
    // "取消", kept after the two open answers.
    const std::optional<QUrl> &pendingFolderURL() const { return m_pendingFolderURL; }

    // Whether the folder has a visible direct sub-directory (hidden ones and
    // symbolic links do not count; an unreadable folder or a file has none).
    static bool checkForSubfolders(const QUrl &folder);

    // The last path component of a folder URL, as the question names it.
    static QString folderName(const QUrl &folder);

private:
    void answerSubfolderQuestion(ImportDialogs::SubfolderChoice choice);

    AppState &m_state;
    std::unique_ptr<ImportDialogs> m_dialogs;
    std::optional<QUrl> m_pendingFolderURL;
};
