#include "app/ImportFlow.h"

#include "state/AppState.h"

#include <QDirIterator>
#include <QFileInfo>

ImportFlow::ImportFlow(AppState &state, std::unique_ptr<ImportDialogs> dialogs, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_dialogs(std::move(dialogs))
{}

ImportFlow::~ImportFlow() = default;

void ImportFlow::importFolder()
{
    const std::optional<QUrl> chosen = m_dialogs->chooseFolder();
    if (!chosen || chosen->isEmpty())
        return;
    openFolder(*chosen);
}

void ImportFlow::openFolder(const QUrl &folder)
{
    if (!checkForSubfolders(folder)) {
        m_state.openFolder(folder, false);
        return;
    }
    m_pendingFolderURL = folder;
    answerSubfolderQuestion(m_dialogs->askIncludeSubfolders(folderName(folder)));
}

void ImportFlow::answerSubfolderQuestion(ImportDialogs::SubfolderChoice choice)
{
    switch (choice) {
    case ImportDialogs::SubfolderChoice::includeSubfolders:
        if (m_pendingFolderURL)
            m_state.openFolder(*m_pendingFolderURL, true);
        break;
    case ImportDialogs::SubfolderChoice::currentFolderOnly:
        if (m_pendingFolderURL)
            m_state.openFolder(*m_pendingFolderURL, false);
        break;
    case ImportDialogs::SubfolderChoice::cancel:
        m_pendingFolderURL.reset();
        break;
    }
}

bool ImportFlow::checkForSubfolders(const QUrl &folder)
{
    // Stops at the first visible sub-directory; never lists more than needed.
    QDirIterator entries(folder.toLocalFile(),
                         QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    return entries.hasNext();
}

QString ImportFlow::folderName(const QUrl &folder)
{
    return QFileInfo(QDir::cleanPath(folder.toLocalFile())).fileName();
}
