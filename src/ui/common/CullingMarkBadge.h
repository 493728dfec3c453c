#pragma once

#include "model/CullingMark.h"

#include <QPixmap>

// The small picture of a photo's flag and colour label on a dark bar: the
// flag's symbol (a pennant for a pick, a cross for a reject) followed by the
// label's dot. Null for an empty mark.
class CullingMarkBadge
{
public:
    // `height` logical pixels tall, for a screen of `ratio` device pixels per
    // logical one.
    static QPixmap pixmap(const CullingMark &mark, int height, qreal ratio);
};
