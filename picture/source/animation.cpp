#include "picture/source/animation.h"

#include <type_traits>
#include <variant>

#include "picture/codecs/apng.h"
#include "picture/codecs/aseprite.h"
#include "picture/codecs/gif.h"
#include "picture/codecs/webp.h"
#include "picture/source/headers.h"

namespace picture {

// The format's player keeps the canvas between frames and applies each frame's disposal.
struct FrameStream::Player {
    QByteArray bytes;
    std::variant<std::monostate, GifPlayer, ApngPlayer, WebpPlayer, AsepritePlayer> player;

    Player(const QByteArray &data, const Header &header, int layer) : bytes(data)
    {
        const Format format = header.format;
        if (header.aseprite)
            player.emplace<AsepritePlayer>(bytes, header.aseprite, layer);
        else if (format == Format::Gif)
            player.emplace<GifPlayer>(bytes);
        else if (format == Format::Png)
            player.emplace<ApngPlayer>(bytes);
        else
            player.emplace<WebpPlayer>(bytes);
    }
    bool next(QImage *frame, QString *cause)
    {
        return std::visit([&](auto &p) {
            if constexpr (std::is_same_v<std::decay_t<decltype(p)>, std::monostate>)
                return false;
            else
                return p.next(frame, cause);
        }, player);
    }
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
    if (!m_player)
        m_player = std::make_unique<Player>(m_source.bytes(), *m_source.header(), m_source.m_layer);
    QString cause;
    if (!m_player->next(frame, &cause))
        return refuse(cause);
    ++m_next;
    return true;
}

} // namespace picture
