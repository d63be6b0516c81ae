#include "picture/animation.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>


namespace picture {


Animation decodeGifFrames(const QByteArray &data, const QString &name, QSize screen, int count)
{
    Animation result;
    QByteArray bytes = data;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // Qt's reader keeps the logical screen between frames and applies each frame's disposal,
    // so what it hands out is the frame as shown, not the frame's own rectangle.
    QImageReader reader(&buffer, "gif");
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(int(decodedBytes(screen.width(), screen.height()) / (1024 * 1024) + 16));
    for (int i = 0; i < count; ++i) {
        QImage frame;
        if (!reader.read(&frame)) {
            result.frames.clear();
            result.refusal = refusedAsDamaged(name, QCoreApplication::translate("picture", "frame %1: %2")
                                                        .arg(i + 1).arg(reader.errorString()), Format::Gif);
            return result;
        }
        if (frame.size() != screen) {
            result.frames.clear();
            result.refusal = refusedAsDamaged(name, QCoreApplication::translate("picture", "frame %1 is %2 x %3 pixels")
                                                        .arg(i + 1).arg(frame.width()).arg(frame.height()), Format::Gif);
            return result;
        }
        result.frames.append(frame.convertToFormat(frame.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                           : QImage::Format_RGB32));
    }
    return result;
}

} // namespace picture
