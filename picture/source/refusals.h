#pragma once

#include <QList>
#include <QString>

#include "picture/source/headers.h"
#include "picture/source/picture.h"

namespace picture {

// Every sentence with which the loader refuses a file, and the checks against the budget that
// decide it before anything is decoded. refusedAsDamaged() (picture.h) is the one for damage.

Loaded failure(LoadError error, const QString &message, Format format = Format::Unknown);
Loaded notAPicture(const QString &name, bool png = false);
Loaded missing(const QString &name);
Loaded unreadable(const QString &name, int error); // error: an errno value
Loaded unreadable(const QString &name, const QString &cause);

// What load() refuses a picture for before decoding it: its header, its size against the
// budget, or data that ends before the picture does; ok() when none of these.
Loaded refusalFor(const Header &h, const QString &name, const Budget &budget);

// The frame count of an animation (GIF, APNG, WebP) whose header passed the checks, every frame
// checked to be whole and held to the budget, with their delays and how many times it plays; 0
// with *refusal set when it is refused.
int countFrames(const QByteArray &data, const Header &first, const QString &name, const Budget &budget,
                   Loaded *refusal, QList<int> *delays, int *plays);

} // namespace picture
