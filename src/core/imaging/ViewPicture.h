#pragma once

#include <QImage>
#include <QSize>

// A picture for the screen: the full picture, or a stand-in decoded at reduced
// size that is shown, fitted by the full picture's size, until the full one
// arrives.
struct ViewPicture
{
    QImage image;
    QSize fullSize;

    bool isStandIn() const { return !image.isNull() && image.size() != fullSize; }
};
