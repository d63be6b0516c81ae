#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>

#include "picture/source/headers.h"

namespace picture {

// WebP through libwebp: still pictures (lossy, lossless, with alpha) and animations, decoded to
// straight alpha. The format is told by content (RIFF....WEBP), never by name.

// True when head starts a WebP file.
bool isWebp(const QByteArray &head);

// The header of a WebP: its canvas, whether it is animated, and whether its RIFF container holds
// every byte it declares and the chunks libwebp expects.
Header readWebp(const QByteArray &data, Header h);

// The frames of a WebP, with their durations and how many times it plays; one for a still one.
AnimationFrames readWebpFrames(const QByteArray &data);

// A still WebP of the header's size decoded: ARGB32, straight alpha; null with *cause set when
// its data cannot be decoded or the memory cannot be had.
QImage decodeWebp(const QByteArray &data, const Header &h, QString *cause);

// An animated WebP's frames one after another on its canvas, as browsers show them (libwebp's
// animation decoder, which keeps only the canvas and the one before it).
class WebpPlayer
{
public:
    explicit WebpPlayer(const QByteArray &data);
    ~WebpPlayer();
    WebpPlayer(const WebpPlayer &) = delete;
    WebpPlayer &operator=(const WebpPlayer &) = delete;

    // The canvas once the next frame is drawn: RGB32 when every pixel is opaque, else ARGB32 with
    // straight alpha. False with *cause set when there is no next frame or it cannot be decoded.
    bool next(QImage *frame, QString *cause);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace picture
