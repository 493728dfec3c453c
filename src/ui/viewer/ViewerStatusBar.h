#pragma once

#include "model/CullingMark.h"

#include <QWidget>

class ElidedLabel;
class QLabel;
class QToolButton;
class StarRatingView;

// The viewer's bottom bar: file name, the star control (8 px after the name)
// followed by the flag (a pennant or a cross) and the colour label's dot,
// then on the right the buttons for the focus areas and full screen, the
// position "第 i / n 张" and, for RAW files, a "RAW" badge. White caption text on translucent
// black. A long name is elided in the middle rather than pushing the position and the badge out.
class ViewerStatusBar : public QWidget
{
    Q_OBJECT

public:
    explicit ViewerStatusBar(QWidget *parent = nullptr);

    void setFile(const QString &filename, bool isRAW);
    void setRating(int rating);
    void setMark(const CullingMark &mark);
    // `index` is zero-based; shown one-based.
    void setPosition(int index, qsizetype count);

    QString filenameText() const;
    // The name as painted: elided in the middle when the bar is too narrow.
    QString shownFilenameText() const;
    QRect positionGeometry() const;
    QRect rawBadgeGeometry() const;
    QString positionText() const;
    bool isRawBadgeShown() const;
    int shownRating() const;
    const CullingMark &shownMark() const { return m_mark; }

    // Checked while the focus areas are drawn / the window is full screen.
    QToolButton *focusAreasButton() const { return m_focusAreasButton; }
    QToolButton *fullScreenButton() const { return m_fullScreenButton; }

Q_SIGNALS:
    // The user picked a rating in the star control (0 clears).
    void ratingChosen(int rating);
    void focusAreasToggleRequested();
    void fullScreenToggleRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ElidedLabel *m_filename;
    StarRatingView *m_stars;
    QLabel *m_markView;
    CullingMark m_mark;
    QLabel *m_position;
    QLabel *m_rawBadge;
    QToolButton *m_focusAreasButton;
    QToolButton *m_fullScreenButton;
};
