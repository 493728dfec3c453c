#pragma once

#include <QWidget>
#include <functional>

// Stand-in for the shared star control until it lands: the same constructor
// shape (rating, maxRating, size, onRate) and setRating(), so the status bar
// swaps it with a one-line change. Star i is lit when i <= rating; a click on
// star i reports 0 when i is the current rating, else i. It never changes its
// own rating: the owner sets it back.
class InterimStarRow : public QWidget
{
    Q_OBJECT

public:
    InterimStarRow(int rating, int maxRating, qreal size, std::function<void(int)> onRate,
                   QWidget *parent = nullptr);

    void setRating(int rating);
    int rating() const { return m_rating; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QRectF starRect(int index) const; // index 0 .. maxRating-1

    int m_rating;
    int m_maxRating;
    qreal m_size;
    std::function<void(int)> m_onRate;
};
