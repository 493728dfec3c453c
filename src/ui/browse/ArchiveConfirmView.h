#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

// The "归档确认" sheet: says how many images go where, lets the user pick
// another destination folder ("更改"), and confirms ("确认归档", Return) or
// cancels ("取消", Escape). It moves nothing itself: `confirmed` carries the
// chosen folder to the grid.
class ArchiveConfirmView : public QDialog
{
    Q_OBJECT

public:
    static constexpr int sheetWidth = 420;

    // Asks for a folder, starting in `startFolder`; empty when cancelled.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &startFolder)>;

    ArchiveConfirmView(const QString &targetPath, const QString &description, qsizetype imageCount,
                       QWidget *parent = nullptr);

    QString targetPath() const { return m_targetPath; }
    QString sentence() const;
    QString shownPath() const;

    // Replaces the folder dialog behind "更改" (tests use a stand-in).
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }
    // The standard folder dialog: folders only, new folders allowed,
    // accept button "选择文件夹".
    static QString chooseFolderWithDialog(QWidget *parent, const QString &startFolder);

    QPushButton *changeButton() const { return m_change; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *confirmButton() const { return m_confirm; }

Q_SIGNALS:
    void confirmed(const QString &folder);

private:
    void changeFolder();
    void setTargetPath(const QString &path);

    QString m_targetPath;
    FolderChooser m_chooseFolder = &ArchiveConfirmView::chooseFolderWithDialog;
    QLabel *m_sentence;
    QLabel *m_path;
    QPushButton *m_change;
    QPushButton *m_cancel;
    QPushButton *m_confirm;
};
