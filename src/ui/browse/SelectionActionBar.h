#pragma once

#include <QWidget>

class AppState;
class QLabel;
class QPushButton;

// The bar shown while images are selected: the count, "全选", "清除", and the
// batch actions; "对比" opens compare on 2 to 4 selected images of the list.
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

Q_SIGNALS:
    void batchArchiveRequested();
    void batchExportRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateFromSelection();

    AppState &m_state;
    QLabel *m_count;
    QPushButton *m_selectAll;
    QPushButton *m_clear;
    QPushButton *m_archive;
    QPushButton *m_export;
    QPushButton *m_compare;
};
