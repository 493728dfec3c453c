#pragma once

#include <QWidget>

class QLabel;
class StarRatingView;

// The viewer's bottom bar: file name, the star control (8 px after the name),
// then on the right the position "第 i / n 张" and, for RAW files, a "RAW"
// badge. White caption text on translucent black.
class ViewerStatusBar : public QWidget
{
    Q_OBJECT

public:
    explicit ViewerStatusBar(QWidget *parent = nullptr);

    void setFile(const QString &filename, bool isRAW);
    void setRating(int rating);
    // `index` is zero-based; shown one-based.
    void setPosition(int index, qsizetype count);

    QString filenameText() const;
    QString positionText() const;
    bool isRawBadgeShown() const;
    int shownRating() const;

Q_SIGNALS:
    // The user picked a rating in the star control (0 clears).
    void ratingChosen(int rating);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_filename;
    StarRatingView *m_stars;
    QLabel *m_position;
    QLabel *m_rawBadge;
};
