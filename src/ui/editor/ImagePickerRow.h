#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// The watermark image chooser: the chosen file's name (or "未选择"), a
// "选择..." button opening a file dialog for PNG, JPEG, TIFF and BMP files, and
// "清除" while a file is chosen.
class ImagePickerRow : public QWidget
{
    Q_OBJECT

public:
    explicit ImagePickerRow(QWidget *parent = nullptr);

    // Shows `path` (empty: none) without emitting.
    void setImagePath(const QString &path);
    const QString &imagePath() const { return m_path; }
    QString shownName() const;

Q_SIGNALS:
    // The user chose a file, or cleared the choice (empty path).
    void imagePathChosen(const QString &path);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void chooseFile();
    void showName();

    QString m_path;
    QLabel *m_name;
    QPushButton *m_clear;
};
