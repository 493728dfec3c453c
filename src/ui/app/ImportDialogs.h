#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// The two questions of a folder import, asked modally. The window uses
// WidgetImportDialogs; tests answer them without any dialog.
class ImportDialogs
{
public:
    enum class SubfolderChoice { includeSubfolders, currentFolderOnly, cancel };

    virtual ~ImportDialogs() = default;

    // A folder chosen by the user, or none when the choice was cancelled.
    virtual std::optional<QUrl> chooseFolder() = 0;
    // Whether to import the sub-folders of the folder called `folderName` too.
    virtual SubfolderChoice askIncludeSubfolders(const QString &folderName) = 0;
};
