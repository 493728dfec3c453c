#include "common/CullingMarkMenu.h"

#include "common/BrowseStyle.h"
#include "state/AppState.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>

QIcon CullingMarkMenu::labelIcon(ColourLabel label)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(BrowseStyle::labelColor(label));
    painter.drawEllipse(QRectF(1, 1, 10, 10));
    return QIcon(pixmap);
}

void CullingMarkMenu::addEntries(QMenu &menu, AppState &state, const ImageItem &item)
{
    const CullingMark mark = state.mark(item);
    const auto addFlag = [&](const QString &text, CullingFlag flag) {
        QAction *action =
            menu.addAction(text, &menu, [&state, item, flag] { state.setFlag(flag, {item}); });
        action->setCheckable(flag != CullingFlag::none);
        action->setChecked(flag != CullingFlag::none && mark.flag == flag);
    };
    addFlag(QStringLiteral("留用"), CullingFlag::pick);
    addFlag(QStringLiteral("排除"), CullingFlag::reject);
    addFlag(QStringLiteral("清除旗标"), CullingFlag::none);
    menu.addSeparator();
    for (const ColourLabel label : {ColourLabel::red, ColourLabel::yellow, ColourLabel::green,
                                    ColourLabel::blue, ColourLabel::purple}) {
        QAction *action = menu.addAction(labelIcon(label), AppState::labelText(label), &menu,
                                         [&state, item, label] { state.setLabel(label, {item}); });
        action->setCheckable(true);
        action->setChecked(mark.label == label);
    }
}

void CullingMarkMenu::addTrashEntry(QMenu &menu, AppState &state, const QList<ImageItem> &items)
{
    menu.addSeparator();
    menu.addAction(QStringLiteral("移到废纸篓"), &menu, [&state, items] {
        if (!state.isMovingFiles())
            state.moveToTrash(items);
    });
}
