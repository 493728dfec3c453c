#pragma once

#include "common/Symbols.h"

#include <QAbstractButton>

// A plain circular button showing one symbol on a translucent disc: the
// viewer's back button and its previous/next arrows. Never takes keyboard
// focus, so the window's arrow, Escape and digit keys keep working.
class RoundSymbolButton : public QAbstractButton
{
    Q_OBJECT

public:
    // `symbolSize` is the glyph's size, `padding` the space around it.
    RoundSymbolButton(Symbols::Symbol symbol, int symbolSize, int padding, const QColor &disc,
                      qreal weight, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    Symbols::Symbol m_symbol;
    int m_symbolSize;
    int m_padding;
    QColor m_disc;
    qreal m_weight;
    bool m_hovered = false;
};
