#pragma once

#include <QImage>
#include <QVariantAnimation>
#include <QWidget>

class QLabel;

// The editor's preview: the latest preview image fitted with 16 of padding on
// a light gray ground, cross-faded over 0.15 s whenever a new one arrives, and
// the "正在生成预览..." overlay while the first preview is being made.
class PreviewPane : public QWidget
{
    Q_OBJECT

public:
    explicit PreviewPane(QWidget *parent = nullptr);

    void setPreviewImage(const QImage &image);
    const QImage &previewImage() const { return m_current; }
    void setLoading(bool loading);
    bool isLoading() const;

    // The largest image worth rendering for this pane, in device pixels.
    QSize imageBound() const;

    QSize sizeHint() const override { return {500, 640}; }

Q_SIGNALS:
    void imageBoundChanged(const QSize &bound);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static constexpr int padding = 16;
    QRectF fittedRect(const QImage &image) const;

    QImage m_current;
    QImage m_previous; // faded out while m_current fades in
    qreal m_fade = 1.0;
    QVariantAnimation m_fadeAnimation;
    QWidget *m_overlay;
};
