#pragma once

#include "model/CullingMark.h"

#include <QIcon>
#include <QList>

class AppState;
class ImageItem;
class QMenu;

// The flag and colour label entries of a photo's context menu: "留用",
// "排除", "清除旗标", then one entry per colour ("紫色" has no key), the
// photo's own flag and label checked. Choosing its own label again takes it
// off, as its key does.
class CullingMarkMenu
{
public:
    static void addEntries(QMenu &menu, AppState &state, const ImageItem &item);
    // "移到废纸篓" for `items` (AppState::moveToTrash), after a separator.
    static void addTrashEntry(QMenu &menu, AppState &state, const QList<ImageItem> &items);
    // The label's coloured dot, for menu entries.
    static QIcon labelIcon(ColourLabel label);
};
