#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>

#include "picture/source/headers.h"

namespace picture {

// Animated PNG (APNG), read from its chunks here since Debian's libpng knows none of them:
// acTL (the frame count and plays) before the first IDAT, then per frame an fcTL (its place,
// delay, disposal and blending) and its data, the default image's IDAT for the first frame when
// an fcTL comes before it, fdAT chunks otherwise. Each frame's data is decoded by the same PNG
// decoder as any PNG, as a small PNG of its own.

// Whether a PNG is animated, and whether its default image is its first frame.
void readApngControl(const QByteArray &data, Header &h);

// The frames of an APNG, each checked: its sequence number, its place on the canvas, its data
// present and whole, the count the animation control declares. Count 0 for a PNG without it.
AnimationFrames readApngFrames(const QByteArray &data);

// An APNG's frames drawn one after another on its canvas, as browsers show them: each frame's
// rectangle replaced (blend "source") or drawn over (blend "over") what the frames before it left
// after their disposal (none, clear to transparent, or back to what was there before). The
// file's frames have passed readApngFrames().
class ApngPlayer
{
public:
    explicit ApngPlayer(const QByteArray &data);
    ~ApngPlayer();
    ApngPlayer(const ApngPlayer &) = delete;
    ApngPlayer &operator=(const ApngPlayer &) = delete;

    // The canvas once the next frame is drawn: RGB32 when every pixel is opaque, else ARGB32
    // with straight alpha. False with *cause set when there is no next frame, its data is
    // damaged, or the memory cannot be had.
    bool next(QImage *frame, QString *cause);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace picture
