#include "picture/animation.h"

#include "picture/gif.h"

namespace picture {

// The player keeps the logical screen between frames and applies each frame's disposal.
struct FrameStream::Gif {
    QByteArray bytes;
    GifPlayer player;

    explicit Gif(const QByteArray &data) : bytes(data), player(bytes) {}
};

FrameStream::FrameStream(const Source &source) : m_source(source) {}

FrameStream::~FrameStream() = default;

bool FrameStream::next(QImage *frame, Loaded *refusal)
{
    auto refuse = [&](const QString &cause) {
        *refusal = refusedAsDamaged(m_source.name(), cause, m_source.format());
        return false;
    };
    if (m_next >= m_source.frames())
        return refuse(fewerFramesThanDeclared());
    if (!m_source.allFrames()) {
        Loaded loaded = m_source.decode(Holding::WithOthers);
        if (!loaded.ok()) {
            *refusal = std::move(loaded);
            return false;
        }
        *frame = std::move(loaded.image);
        ++m_next;
        return true;
    }
    if (!m_source.ok()) {
        *refusal = m_source.refusal();
        return false;
    }
    if (!m_gif)
        m_gif = std::make_unique<Gif>(m_source.bytes());
    QString cause;
    if (!m_gif->player.next(frame, &cause))
        return refuse(cause);
    ++m_next;
    return true;
}

} // namespace picture
