#pragma once

#include <QImage>
#include <QSize>

// Memory for the large pictures the decoders write. A picture of a few
// megabytes or more gets pages of its own, marked for the kernel's
// transparent huge pages where the system offers them on request: a fresh
// 24-megapixel picture then costs about fifty page faults instead of some
// twenty-four thousand, which on some machines (virtual ones above all) take
// longer than decoding the JPEG. Smaller pictures, and builds checked by the
// address sanitizer, use Qt's own allocation.
class ImageBuffer
{
public:
    // An uninitialised image, freed with its last copy on any thread. Null
    // when the memory cannot be had.
    static QImage allocate(QSize size, QImage::Format format);

    // Below this many bytes an image is allocated by Qt.
    static constexpr qsizetype largeBytes = qsizetype(4) << 20;
};
