#pragma once

#include <QWidget>

// A row of stars showing a rating; optionally clickable. A click on star i
// asks for rating i, or for 0 when i is the current rating (clicking the lit
// top star clears it). The control never changes its own rating: the owner
// stores the new value and sets it back.
class StarRatingView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int starSpacing = 2;

    // `maxRating` is at least 1; `size` is the side of one star in pixels.
    explicit StarRatingView(int rating = 0, int maxRating = 5, qreal size = 12,
                            QWidget *parent = nullptr);

    int rating() const { return m_rating; }
    void setRating(int rating);
    int maxRating() const { return m_maxRating; }
    qreal starSize() const { return m_size; }

    // Without it the stars are display-only and clicks do nothing.
    bool isInteractive() const { return m_interactive; }
    void setInteractive(bool interactive);

    // The star under a point, 1..maxRating, or 0 when none.
    int starAt(const QPointF &position) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The rating the user chose; only in interactive mode.
    void rateRequested(int rating);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QRectF starRect(int star) const;

    int m_rating;
    int m_maxRating;
    qreal m_size;
    bool m_interactive = false;
};
