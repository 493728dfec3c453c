#pragma once

#include <QWidget>

// The toast bubble: the message in the body font on a nearly opaque rounded
// panel (radius 10, padding 20/12) with a soft shadow. The widget is larger
// than the bubble by the shadow's margins. Its opacity is a property so the
// controller can fade it.
class ToastView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)

public:
    explicit ToastView(QWidget *parent);

    QString message() const { return m_message; }
    void setMessage(const QString &message);

    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

    // Where the bubble sits inside the widget.
    QRect bubbleRect() const;
    // Distance from the widget's top edge to the bubble's.
    static int topShadowMargin();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_message;
    qreal m_opacity = 1.0;
};
