#pragma once

#include "model/MovedPhoto.h"

#include <QList>

// Takes moves back: each photo of an archive or a trashing returns to where
// it lived, with the sidecars that went along, under its own name. A photo
// returns only when it and its sidecars are unchanged since (size and
// modification time) and every name it came from is free again; otherwise
// it stays where it is, whole. Nothing is ever replaced or deleted, apart
// from an unchanged copy of a shared sidecar whose original never left.
// Blocking file work on the caller's thread; any thread.
class PhotoMoveBack
{
public:
    struct Outcome
    {
        QList<MovedPhoto> returned; // the records of the photos that went back
        QList<MovedPhoto> stayed;
    };

    PhotoMoveBack() = delete;

    static Outcome moveBack(const QList<MovedPhoto> &moved);
};
