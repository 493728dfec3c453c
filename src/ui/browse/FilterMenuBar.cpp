#include "browse/FilterMenuBar.h"

#include "browse/FilterCapsuleButton.h"
#include "common/BrowseStyle.h"
#include "common/CullingMarkMenu.h"
#include "state/AppState.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>

namespace {

using Field = ImageListPipeline::ShootingField;
using Key = SortOrder::Key;

const QString kChevron = QStringLiteral(" ▾");
const QString kAll = QStringLiteral("全部");
const QString kWaiting = QStringLiteral("正在读取拍摄信息");

QString flagText(FlagFilter filter)
{
    switch (filter) {
    case FlagFilter::pick:
        return QStringLiteral("留用");
    case FlagFilter::unflagged:
        return QStringLiteral("未标记");
    case FlagFilter::reject:
        return QStringLiteral("排除");
    case FlagFilter::hideRejects:
        return QStringLiteral("隐藏排除");
    case FlagFilter::all:
        break;
    }
    return kAll;
}

QString labelFilterText(std::optional<ColourLabel> label)
{
    if (!label)
        return kAll;
    if (*label == ColourLabel::none)
        return QStringLiteral("无标签");
    return AppState::labelText(*label);
}

QString sortKeyText(Key key)
{
    switch (key) {
    case Key::captureTime:
        return QStringLiteral("拍摄时间");
    case Key::rating:
        return QStringLiteral("评分");
    case Key::modified:
        return QStringLiteral("修改时间");
    case Key::fileName:
        break;
    }
    return QStringLiteral("文件名");
}

Field fieldOf(FilterMenuBar::Choice choice)
{
    return choice == FilterMenuBar::Choice::camera ? Field::camera : Field::lens;
}

// Fills `menu` anew with one checkable entry per choice, the current one checked.
template <typename Value, typename Choose>
void addChoice(QMenu &menu, QActionGroup &group, const QString &text, const Value &value,
               const Value &current, Choose choose, const QIcon &icon = {})
{
    QAction *action = menu.addAction(icon, text);
    action->setCheckable(true);
    action->setChecked(value == current);
    group.addAction(action);
    QObject::connect(action, &QAction::triggered, &menu, [choose, value] { choose(value); });
}

QActionGroup *freshGroup(QMenu &menu)
{
    menu.clear();
    qDeleteAll(menu.findChildren<QActionGroup *>(Qt::FindDirectChildrenOnly));
    return new QActionGroup(&menu);
}

} // namespace

FilterMenuBar::FilterMenuBar(AppState &state, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 0, 14, 8);
    layout->setSpacing(10);
    addCapsule(Choice::flag, QStringLiteral("旗标"));
    addCapsule(Choice::label, QStringLiteral("颜色"));
    addCapsule(Choice::camera, QStringLiteral("相机"));
    addCapsule(Choice::lens, QStringLiteral("镜头"));
    layout->addStretch(1);
    addCapsule(Choice::sort, QStringLiteral("排序"));

    connect(&state, &AppState::flagFilterChanged, this, &FilterMenuBar::rebuildFlagMenu);
    connect(&state, &AppState::labelFilterChanged, this, &FilterMenuBar::rebuildLabelMenu);
    connect(&state, &AppState::sortOrderChanged, this, &FilterMenuBar::rebuildSortMenu);
    connect(&state, &AppState::shootingFilterChanged, this, &FilterMenuBar::rebuildShootingMenus);
    connect(&state, &AppState::imagesChanged, this, &FilterMenuBar::rebuildShootingMenus);
    connect(&state, &AppState::shootingDataCompleted, this, [this] {
        rebuildShootingMenus();
        rebuildSortMenu();
    });

    rebuildFlagMenu();
    rebuildLabelMenu();
    rebuildShootingMenus();
    rebuildSortMenu();
}

FilterCapsuleButton *FilterMenuBar::addCapsule(Choice choice, const QString &caption)
{
    auto *captionLabel = new QLabel(caption, this);
    captionLabel->setFont(BrowseStyle::callout(captionLabel->font()));
    QPalette palette = captionLabel->palette();
    palette.setColor(QPalette::WindowText, BrowseStyle::secondaryText(palette));
    captionLabel->setPalette(palette);
    layout()->addWidget(captionLabel);

    auto *button = new FilterCapsuleButton(QString(), false, this);
    auto *menu = new QMenu(button);
    connect(button, &QAbstractButton::clicked, menu,
            [button, menu] { menu->popup(button->mapToGlobal(QPoint(0, button->height() + 2))); });
    layout()->addWidget(button);
    m_buttons[size_t(choice)] = button;
    m_menus[size_t(choice)] = menu;
    return button;
}

FilterCapsuleButton *FilterMenuBar::button(Choice choice) const
{
    return m_buttons[size_t(choice)];
}

QMenu *FilterMenuBar::menu(Choice choice) const
{
    return m_menus[size_t(choice)];
}

QString FilterMenuBar::unknownValueText(Field field)
{
    return field == Field::camera ? QStringLiteral("未知相机") : QStringLiteral("未知镜头");
}

void FilterMenuBar::rebuildFlagMenu()
{
    QMenu &flagMenu = *menu(Choice::flag);
    QActionGroup *group = freshGroup(flagMenu);
    const FlagFilter current = m_state.flagFilter();
    const auto choose = [this](FlagFilter filter) { m_state.setFlagFilter(filter); };
    for (const FlagFilter filter : {FlagFilter::all, FlagFilter::pick, FlagFilter::unflagged,
                                    FlagFilter::reject, FlagFilter::hideRejects}) {
        if (filter == FlagFilter::hideRejects)
            flagMenu.addSeparator();
        addChoice(flagMenu, *group, flagText(filter), filter, current, choose);
    }
    button(Choice::flag)->setText(flagText(current) + kChevron);
    button(Choice::flag)->setActive(current != FlagFilter::all);
}

void FilterMenuBar::rebuildLabelMenu()
{
    QMenu &labelMenu = *menu(Choice::label);
    QActionGroup *group = freshGroup(labelMenu);
    const std::optional<ColourLabel> current = m_state.labelFilter();
    const auto choose = [this](std::optional<ColourLabel> label) { m_state.setLabelFilter(label); };
    addChoice(labelMenu, *group, kAll, std::optional<ColourLabel>(), current, choose);
    addChoice(labelMenu, *group, labelFilterText(ColourLabel::none),
              std::optional(ColourLabel::none), current, choose);
    labelMenu.addSeparator();
    for (const ColourLabel label : {ColourLabel::red, ColourLabel::yellow, ColourLabel::green,
                                    ColourLabel::blue, ColourLabel::purple}) {
        addChoice(labelMenu, *group, AppState::labelText(label), std::optional(label), current,
                  choose, CullingMarkMenu::labelIcon(label));
    }
    button(Choice::label)->setText(labelFilterText(current) + kChevron);
    button(Choice::label)->setActive(current.has_value());
}

void FilterMenuBar::rebuildShootingMenus()
{
    rebuildShootingMenu(Choice::camera);
    rebuildShootingMenu(Choice::lens);
}

void FilterMenuBar::rebuildShootingMenu(Choice choice)
{
    const Field field = fieldOf(choice);
    QMenu &valueMenu = *menu(choice);
    QActionGroup *group = freshGroup(valueMenu);
    const std::optional<QString> &current = m_state.shootingFilter(field);
    const auto choose = [this, field](const std::optional<QString> &value) {
        m_state.setShootingFilter(field, value);
    };
    addChoice(valueMenu, *group, kAll, std::optional<QString>(), current, choose);
    const QList<ImageListPipeline::ValueCount> values = m_state.shootingValues(field);
    if (!values.isEmpty())
        valueMenu.addSeparator();
    for (const ImageListPipeline::ValueCount &entry : values) {
        const QString name = entry.value.isEmpty() ? unknownValueText(field) : entry.value;
        addChoice(valueMenu, *group, QStringLiteral("%1 (%2)").arg(name).arg(entry.count),
                  std::optional(entry.value), current, choose);
    }

    FilterCapsuleButton *capsule = button(choice);
    const bool ready = m_state.isShootingDataComplete();
    capsule->setEnabled(ready);
    capsule->setToolTip(ready ? QString() : kWaiting);
    const QString shown = !current ? kAll : current->isEmpty() ? unknownValueText(field) : *current;
    capsule->setText(shown + kChevron);
    capsule->setActive(current.has_value());
}

void FilterMenuBar::rebuildSortMenu()
{
    QMenu &sortMenu = *menu(Choice::sort);
    QActionGroup *keys = freshGroup(sortMenu);
    const SortOrder current = m_state.sortOrder();
    const bool ready = m_state.isShootingDataComplete();
    for (const Key key : {Key::fileName, Key::captureTime, Key::rating, Key::modified}) {
        addChoice(sortMenu, *keys, sortKeyText(key), key, current.key, [this](Key chosen) {
            m_state.setSortOrder({chosen, m_state.sortOrder().descending});
        });
        const bool needsShootingData = key == Key::captureTime || key == Key::modified;
        sortMenu.actions().last()->setEnabled(ready || !needsShootingData);
    }
    sortMenu.addSeparator();
    auto *directions = new QActionGroup(&sortMenu);
    const auto chooseDirection = [this](bool descending) {
        m_state.setSortOrder({m_state.sortOrder().key, descending});
    };
    addChoice(sortMenu, *directions, QStringLiteral("升序"), false, current.descending,
              chooseDirection);
    addChoice(sortMenu, *directions, QStringLiteral("降序"), true, current.descending,
              chooseDirection);
    const QString arrow = current.descending ? QStringLiteral(" ↓") : QStringLiteral(" ↑");
    button(Choice::sort)->setText(sortKeyText(current.key) + arrow + kChevron);
    button(Choice::sort)->setActive(!current.isScannerOrder());
}

QSize FilterMenuBar::minimumSizeHint() const
{
    return {0, QWidget::minimumSizeHint().height()};
}

void FilterMenuBar::paintEvent(QPaintEvent *)
{
    // The same material as the filter bar above it.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
}
