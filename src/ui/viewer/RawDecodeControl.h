#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class BusyIndicator;

// The viewer's RAW control in its three forms: the "解码 RAW" button, the
// "正在解码 RAW..." capsule with a spinner while decoding, and the green
// "RAW 已解码" capsule once the full decode is on screen.
class RawDecodeControl : public QWidget
{
    Q_OBJECT

public:
    enum class Form { decodeButton, decoding, decoded };

    explicit RawDecodeControl(QWidget *parent = nullptr);

    void setForm(Form form);
    Form form() const { return m_form; }

Q_SIGNALS:
    void decodeRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Form m_form = Form::decodeButton;
    QPushButton *m_button;
    QWidget *m_capsule;
    BusyIndicator *m_spinner;
    QLabel *m_checkmark;
    QLabel *m_capsuleText;
};
