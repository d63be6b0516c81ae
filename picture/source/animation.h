#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <memory>

#include "picture/source/picture.h"

namespace picture {

// Every frame of an animation (GIF, APNG, WebP), each as a viewer shows it at that moment: drawn
// on the canvas over what the earlier frames left, after their disposal.
struct Animation {
    QList<QImage> frames;   // the canvas's size; RGB32, or ARGB32 with straight alpha
    Loaded refusal;         // ok() when every frame was read
};

// A source's frames one after another, in order: each frame of an animation is drawn on one
// canvas carried from frame to frame, so only that canvas (and what its disposal keeps) and the
// frame handed out are held, however many frames there are. Any other picture gives one frame. A frame that cannot be read, or that
// comes out at another size than the header's, refuses the whole file.
class FrameStream
{
public:
    explicit FrameStream(const Source &source);
    ~FrameStream();
    FrameStream(const FrameStream &) = delete;
    FrameStream &operator=(const FrameStream &) = delete;

    // The index of the frame next() hands out.
    int position() const { return m_next; }
    // The next frame; false with *refusal set when it cannot be read or there is none.
    bool next(QImage *frame, Loaded *refusal);

private:
    struct Player;
    Source m_source;
    int m_next = 0;
    std::unique_ptr<Player> m_player;
};

} // namespace picture
