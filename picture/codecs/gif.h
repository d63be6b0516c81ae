#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <memory>

#include "picture/source/headers.h"

namespace picture {

// The header of a GIF: its logical screen, and its first frame checked to be whole.
Header readGif(const QByteArray &data, Header h);

// The frames of a GIF, each checked to be whole, up to its trailer.
using GifFrames = AnimationFrames;
// checkData false only counts the frames and reads their delays, without following any frame's
// compressed data: for a GIF of which only the first frame is decoded.
GifFrames readGifFrames(const QByteArray &data, bool checkData = true);


// A GIF's frames drawn one after another on its logical screen, as browsers show them: each
// frame over what the frames before it left after their disposal, its transparent colour
// showing what lies beneath. Pixels no frame has covered, and areas disposed to the background,
// are transparent. A frame takes its transparent colour, disposal and delay only from the
// control extension just before it. The file's header has passed its checks.
class GifPlayer
{
public:
    explicit GifPlayer(const QByteArray &data);
    ~GifPlayer();
    GifPlayer(const GifPlayer &) = delete;
    GifPlayer &operator=(const GifPlayer &) = delete;

    // The screen once the next frame is drawn: RGB32 when every pixel is opaque, else ARGB32
    // with straight alpha. False with *cause set when there is no next frame, its data is
    // damaged, or the memory cannot be had.
    bool next(QImage *frame, QString *cause);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace picture
