#pragma once

#include <QWidget>

class BusyIndicator;
class QLabel;

// Lies over the grid while files move (an archive, a move to the Trash, an
// undo of one): the tiles show through dimmed, a spinner and a text
// ("正在归档...") say why, and clicks, drags and the wheel stop here, so no
// file being moved can be opened or chosen again.
class ArchiveBusyVeil : public QWidget
{
    Q_OBJECT

public:
    QString message() const;
    void setMessage(const QString &message);

    // Covers `covered` (a sibling: same parent) and follows its geometry.
    explicit ArchiveBusyVeil(QWidget *covered, QWidget *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    QWidget *m_covered;
    QLabel *m_message;
};
