#pragma once

#include "common/Symbols.h"

#include <QWidget>

class AppState;
class QFont;
class QHBoxLayout;
class QLabel;
class QPushButton;

// The bar shown while images are selected: the count, "全选", "清除", and the
// batch actions; "留用", "排除" and "清除旗标" flag the selected images in one
// batch; "对比" opens compare on 2 to 4 selected images of the list.
// It shows and hides itself with the selection.
class SelectionActionBar : public QWidget
{
    Q_OBJECT

public:
    explicit SelectionActionBar(AppState &state, QWidget *parent = nullptr);

    QString countText() const;
    QPushButton *selectAllButton() const { return m_selectAll; }
    QPushButton *clearButton() const { return m_clear; }
    QPushButton *archiveButton() const { return m_archive; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *compareButton() const { return m_compare; }
    QPushButton *pickButton() const { return m_pick; }
    QPushButton *rejectButton() const { return m_reject; }
    QPushButton *clearFlagButton() const { return m_clearFlag; }

Q_SIGNALS:
    void batchArchiveRequested();
    void batchExportRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateFromSelection();
    void addFlagButtons(QHBoxLayout *layout, const QFont &font);
    // A bordered button with a symbol, added to `layout`.
    QPushButton *addCommandButton(QHBoxLayout *layout, const QString &text, Symbols::Symbol symbol,
                                  const QFont &font);

    AppState &m_state;
    QLabel *m_count;
    QPushButton *m_selectAll;
    QPushButton *m_clear;
    QPushButton *m_trash = nullptr;
    QPushButton *m_archive;
    QPushButton *m_export;
    QPushButton *m_compare;
    QPushButton *m_pick = nullptr;
    QPushButton *m_reject = nullptr;
    QPushButton *m_clearFlag = nullptr;
};
