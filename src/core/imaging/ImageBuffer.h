#pragma once

#include <QImage>
#include <QSize>

// Memory for the large pictures the decoders and the export's canvas write;
// it comes uninitialised (possibly an earlier picture's), so every user
// writes every pixel or drops the image.
//
// A picture of a few megabytes or more gets pages of its own, marked for the
// kernel's transparent huge pages where the system offers them on request: a
// fresh 24-megapixel picture then costs about fifty page faults instead of
// some twenty-four thousand, which on some machines (virtual ones above all)
// take longer than decoding the JPEG. The memory of a picture that goes is
// kept for the next one of about its size (a few, within poolBytes), so that
// stepping through photos reuses resident memory instead of faulting in
// fresh pages for every one; the system may still take that memory back when
// it runs short. Smaller pictures, and builds checked by the address
// sanitizer, use Qt's own allocation.
class ImageBuffer
{
public:
    // An uninitialised image, freed with its last copy on any thread. Null
    // when the memory cannot be had.
    static QImage allocate(QSize size, QImage::Format format);

    // Below this many bytes an image is allocated by Qt.
    static constexpr qsizetype largeBytes = qsizetype(4) << 20;

    // Bounds of the memory kept from pictures that have gone: a 24-megapixel
    // picture and its stand-in twice over, or one of 45 megapixels and its
    // stand-in. A larger picture's memory goes back to the system.
    static constexpr int poolEntries = 4;
    static constexpr qsizetype poolBytes = qsizetype(256) << 20;
    // The bytes kept for reuse now. Any thread.
    static qsizetype pooledBytes();
    // False in builds checked by the address sanitizer: every picture is Qt's.
    static bool keepsMemory();
};
