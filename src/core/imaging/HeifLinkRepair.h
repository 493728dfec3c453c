#pragma once

#include <QByteArray>

// Since iOS 18 an iPhone HEIC links some items to several others at once: the
// HDR gain map is an auxiliary image ('auxl') of both the primary picture and
// the tone-mapped 'tmap' item that pairs the two. libheif before 1.18 accepts
// only one target per 'thmb', 'auxl' and 'cdsc' link, and knows no 'tmap'
// item, so it refuses the whole file, thumbnail and primary picture included.
//
// repaired() gives a copy of such a file in which each of those links names
// only its first target that is a picture libheif reads (a link to nothing
// readable is left out). The new item directory is appended after the last
// box and the old one becomes a 'free' box, so every byte of picture data
// stays at the offset the file gives for it. Pure and thread-safe.
class HeifLinkRepair
{
public:
    // The repaired file; empty when `file` needs no repair or is not an ISO
    // base media file laid out as expected.
    static QByteArray repaired(const QByteArray &file);
};
