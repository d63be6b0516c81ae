#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include "picture/picture.h"

namespace picture {

// Every frame of an animated GIF, each as a viewer shows it at that moment: drawn on the
// logical screen over what the earlier frames left, after their disposal.
struct Animation {
    QList<QImage> frames;   // the logical screen's size; RGB32 or ARGB32_Premultiplied
    Loaded refusal;         // ok() when every frame was read
};

// The number of frames of the GIF in data after the checks load() makes on its first frame,
// each later frame checked to be whole; 0 with refusal set when it is refused.
int countFrames(const QByteArray &data, const QString &name, const Budget &budget, Loaded *refusal);

// Decodes every frame of the GIF in data; a frame that cannot be read refuses the whole file.
Animation loadAnimation(const QByteArray &data, const QString &name, const Budget &budget);

} // namespace picture
