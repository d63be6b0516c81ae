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

// Decodes count frames of the GIF in data, whose logical screen is screen (both from its
// header, checked before); a frame that cannot be read, or that comes out at another size,
// refuses the whole file. Reached through Source::decodeFrames().
Animation decodeGifFrames(const QByteArray &data, const QString &name, QSize screen, int count);

} // namespace picture
