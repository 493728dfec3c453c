#include "app/SubfolderPromptDialog.h"

#include "common/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSvgRenderer>
#include <QVBoxLayout>

namespace {

// The application logo as a rounded square, like the welcome view shows it.
QPixmap logoPixmap(int size, qreal devicePixelRatio)
{
    const int pixels = qRound(size * devicePixelRatio);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, pixels, pixels), pixels * 0.2, pixels * 0.2);
    painter.setClipPath(clip);
    QSvgRenderer(QStringLiteral(":/AppLogo.svg")).render(&painter, QRectF(0, 0, pixels, pixels));
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

} // namespace

SubfolderPromptDialog::SubfolderPromptDialog(const QString &folderName, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("导入子文件夹"));
    setModal(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->setSpacing(10);

    auto *body = new QHBoxLayout;
    body->setSpacing(16);
    auto *logo = new QLabel(this);
    logo->setPixmap(logoPixmap(48, devicePixelRatioF()));
    logo->setFixedSize(48, 48);
    body->addWidget(logo, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    auto *title = new QLabel(QStringLiteral("导入子文件夹"), this);
    title->setFont(Theme::font(Theme::TextStyle::headline, QFont::Bold));
    auto *text = new QLabel(message(folderName), this);
    text->setObjectName(QStringLiteral("message"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setMinimumWidth(330);
    texts->addWidget(title);
    texts->addWidget(text);
    body->addLayout(texts, 1);
    layout->addLayout(body);
    layout->addSpacing(8);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch(1);
    using Choice = ImportDialogs::SubfolderChoice;
    QPushButton *include =
        addChoiceButton(QStringLiteral("包含子文件夹"), Choice::includeSubfolders);
    buttons->addWidget(include);
    buttons->addWidget(addChoiceButton(QStringLiteral("仅当前文件夹"), Choice::currentFolderOnly));
    buttons->addWidget(addChoiceButton(QStringLiteral("取消"), Choice::cancel));
    layout->addLayout(buttons);

    include->setDefault(true);
    include->setFocus();
    setFixedSize(sizeHint());
}

QPushButton *SubfolderPromptDialog::addChoiceButton(const QString &text,
                                                    ImportDialogs::SubfolderChoice choice)
{
    auto *button = new QPushButton(text, this);
    button->setAutoDefault(false);
    button->setMinimumWidth(96);
    connect(button, &QPushButton::clicked, this, [this, choice] {
        m_choice = choice;
        if (choice == ImportDialogs::SubfolderChoice::cancel)
            reject();
        else
            accept();
    });
    return button;
}

QString SubfolderPromptDialog::message(const QString &folderName)
{
    return QStringLiteral("是否同时导入「") + folderName + QStringLiteral("」中的子文件夹？");
}
