#pragma once

#include "state/ImageListPipeline.h"

#include <QWidget>

class AppState;
class FilterCapsuleButton;
class QMenu;

// The row under the filter bar: the flag, colour label, camera and lens
// filters and the sort order, each a capsule that opens a menu of choices.
// The camera and lens menus list what the folder's photos hold, with counts;
// they and the time orders wait until the shooting data is read.
//
// An entry's action is never deleted while it is being triggered: the flag,
// label and sort menus are built once and only their check marks follow the
// state; the camera and lens entries are rebuilt only when the images or
// their data change, never by a choice.
class FilterMenuBar : public QWidget
{
    Q_OBJECT

public:
    enum class Choice { flag, label, camera, lens, sort };

    explicit FilterMenuBar(AppState &state, QWidget *parent = nullptr);

    // For tests and tools: a capsule and the menu it opens.
    FilterCapsuleButton *button(Choice choice) const;
    QMenu *menu(Choice choice) const;

    // "全部" on a camera or lens capsule; the label for the photos naming none.
    static QString unknownValueText(ImageListPipeline::ShootingField field);

    // The row never widens the window: in a narrow one its right end is cut.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    FilterCapsuleButton *addCapsule(Choice choice, const QString &caption);
    void buildFlagMenu();
    void buildLabelMenu();
    void buildSortMenu();
    void rebuildShootingMenus();
    void rebuildShootingMenu(Choice choice);
    void showFlagFilter();
    void showLabelFilter();
    void showShootingFilters();
    void showSortOrder();

    AppState &m_state;
    std::array<FilterCapsuleButton *, 5> m_buttons{};
    std::array<QMenu *, 5> m_menus{};
};
