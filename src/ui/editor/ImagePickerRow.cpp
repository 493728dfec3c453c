#include "editor/ImagePickerRow.h"

#include "editor/EditorStyle.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

ImagePickerRow::ImagePickerRow(QWidget *parent)
    : QWidget(parent)
    , m_name(new QLabel(this))
    , m_clear(new QPushButton(QStringLiteral("清除"), this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(8);
    m_name->setFont(EditorStyle::callout());
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_name, 1);
    auto *choose = new QPushButton(QStringLiteral("选择..."), this);
    layout->addWidget(choose);
    m_clear->setFlat(true);
    m_clear->setCursor(Qt::PointingHandCursor);
    layout->addWidget(m_clear);

    connect(choose, &QPushButton::clicked, this, &ImagePickerRow::chooseFile);
    connect(m_clear, &QPushButton::clicked, this, [this] {
        setImagePath(QString());
        Q_EMIT imagePathChosen(QString());
    });
    showName();
}

void ImagePickerRow::setImagePath(const QString &path)
{
    m_path = path;
    showName();
}

QString ImagePickerRow::shownName() const
{
    return m_path.isEmpty() ? QStringLiteral("未选择") : QFileInfo(m_path).fileName();
}

void ImagePickerRow::chooseFile()
{
    auto *dialog = new QFileDialog(window(), QStringLiteral("选择水印图片"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilter(QStringLiteral("图片 (*.png *.jpg *.jpeg *.tif *.tiff *.bmp)"));
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("选择"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &file) {
        if (file.isEmpty())
            return;
        setImagePath(file);
        Q_EMIT imagePathChosen(file);
    });
    dialog->open();
}

void ImagePickerRow::showName()
{
    const QString name = shownName();
    const int width = std::max(0, m_name->width());
    m_name->setText(m_name->fontMetrics().elidedText(name, Qt::ElideMiddle, width));
    m_name->setToolTip(m_path);
    m_clear->setVisible(!m_path.isEmpty());
}

void ImagePickerRow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    showName();
}

void ImagePickerRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill(128, 128, 128);
    fill.setAlphaF(0.08);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), 6, 6);
}
