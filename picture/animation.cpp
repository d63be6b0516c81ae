#include "picture/animation.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>

#include "picture/headers.h"

namespace picture {

namespace {

Loaded damagedAnimation(const QString &name, const QString &cause)
{
    Loaded result;
    result.error = LoadError::Damaged;
    result.format = Format::Gif;
    result.message = QCoreApplication::translate("picture", "Cannot load %1: the file is damaged or incomplete (%2).")
                         .arg(name, cause);
    return result;
}

} // namespace

int countFrames(const QByteArray &data, const QString &name, const Budget &budget, Loaded *refusal)
{
    const Inspected first = inspect(data, name, budget);
    if (!first.refusal.ok()) {
        *refusal = first.refusal;
        return 0;
    }
    if (first.refusal.format != Format::Gif)
        return 1;
    const GifFrames frames = readGifFrames(data);
    if (!frames.damage.isEmpty()) {
        *refusal = damagedAnimation(name, frames.damage);
        return 0;
    }
    // Each frame is held to the budget as the first one is: a frame declared far larger than
    // the screen is a decompression bomb, whatever the decoder would clip it to.
    if (frames.largestWidth > budget.maxSide || frames.largestHeight > budget.maxSide
        || frames.largestWidth * frames.largestHeight > budget.maxPixels) {
        refusal->error = LoadError::TooLarge;
        refusal->format = Format::Gif;
        refusal->message = QCoreApplication::translate("picture", "Cannot load %1: a frame is too large: %2 x %3 pixels.")
                               .arg(name).arg(frames.largestWidth).arg(frames.largestHeight);
        return 0;
    }
    // All frames are held at once: together they get one picture's budget.
    if (qint64(first.width) * first.height * frames.count > budget.maxPixels) {
        refusal->error = LoadError::TooLarge;
        refusal->format = Format::Gif;
        refusal->message = QCoreApplication::translate("picture", "Cannot load %1: its %2 frames of %3 x %4 pixels are "
                                                                  "too large together; the most is %5 pixels in all.")
                               .arg(name).arg(frames.count).arg(first.width).arg(first.height).arg(budget.maxPixels);
        return 0;
    }
    return frames.count;
}

Animation loadAnimation(const QByteArray &data, const QString &name, const Budget &budget)
{
    Animation result;
    const int count = countFrames(data, name, budget, &result.refusal);
    if (!result.refusal.ok())
        return result;
    const Inspected screen = inspect(data, name, budget);
    QByteArray bytes = data;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // Qt's reader keeps the logical screen between frames and applies each frame's disposal,
    // so what it hands out is the frame as shown, not the frame's own rectangle.
    QImageReader reader(&buffer, "gif");
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(int(decodedBytes(screen.width, screen.height) / (1024 * 1024) + 16));
    for (int i = 0; i < count; ++i) {
        QImage frame;
        if (!reader.read(&frame)) {
            result.frames.clear();
            result.refusal = damagedAnimation(name, QCoreApplication::translate("picture", "frame %1: %2")
                                                        .arg(i + 1).arg(reader.errorString()));
            return result;
        }
        if (frame.width() != screen.width || frame.height() != screen.height) {
            result.frames.clear();
            result.refusal = damagedAnimation(name, QCoreApplication::translate("picture", "frame %1 is %2 x %3 pixels")
                                                        .arg(i + 1).arg(frame.width()).arg(frame.height()));
            return result;
        }
        result.frames.append(frame.convertToFormat(frame.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                           : QImage::Format_RGB32));
    }
    return result;
}

} // namespace picture
