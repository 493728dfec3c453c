#pragma once

#include <QAbstractButton>
#include <QColor>

class ColorPanelCoordinator;

// A colour swatch (36 x 20, rounded, thin gray border). A click opens the
// shared colour panel at the swatch's colour through the editor's
// coordinator; colours picked there come back as colorPicked until another
// swatch is clicked.
class CustomColorButton : public QAbstractButton
{
    Q_OBJECT

public:
    CustomColorButton(ColorPanelCoordinator &coordinator, QWidget *parent = nullptr);

    const QColor &color() const { return m_color; }
    // Shows `color`; does not emit colorPicked.
    void setColor(const QColor &color);

    QSize sizeHint() const override { return {36, 20}; }

Q_SIGNALS:
    // The user picked a colour in the panel for this swatch.
    void colorPicked(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void openPanel();

    ColorPanelCoordinator &m_coordinator;
    QColor m_color = Qt::black;
};
