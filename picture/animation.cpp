#include "picture/animation.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>

namespace picture {

// Qt's reader keeps the logical screen between frames and applies each frame's disposal, so
// what it hands out is the frame as shown, not the frame's own rectangle.
struct FrameStream::Gif {
    QByteArray bytes;
    QBuffer buffer;
    QImageReader reader;

    Gif(const QByteArray &data, QSize screen) : bytes(data), buffer(&bytes)
    {
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat("gif");
        reader.setAutoDetectImageFormat(false);
        reader.setDecideFormatFromContent(false);
        reader.setAllocationLimit(int(decodedBytes(screen.width(), screen.height()) / (1024 * 1024) + 16));
    }
};

FrameStream::FrameStream(const Source &source) : m_source(source) {}

FrameStream::~FrameStream() = default;

void FrameStream::restart()
{
    m_gif.reset();
    m_next = 0;
}

bool FrameStream::next(QImage *frame, Loaded *refusal)
{
    auto refuse = [&](const QString &cause) {
        *refusal = refusedAsDamaged(m_source.name(), cause, m_source.format());
        return false;
    };
    if (m_next >= m_source.frames())
        return refuse(QCoreApplication::translate("picture", "it holds fewer frames than it declared"));
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
        m_gif = std::make_unique<Gif>(m_source.bytes(), m_source.size());
    QImage read;
    const int number = m_next + 1;
    if (!m_gif->reader.read(&read))
        return refuse(QCoreApplication::translate("picture", "frame %1: %2").arg(number).arg(m_gif->reader.errorString()));
    if (read.size() != m_source.size())
        return refuse(QCoreApplication::translate("picture", "frame %1 is %2 x %3 pixels")
                          .arg(number).arg(read.width()).arg(read.height()));
    *frame = read.convertToFormat(read.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    ++m_next;
    return true;
}

} // namespace picture
