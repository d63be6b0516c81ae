#include "picture/source/refusals.h"

#include <QCoreApplication>

#include <cstring>

#include "picture/codecs/apng.h"
#include "picture/codecs/aseprite.h"
#include "picture/base/regularfile.h"
#include "picture/codecs/gif.h"
#include "picture/codecs/webp.h"

namespace picture {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("picture", text); }

} // namespace

Loaded refusedAsDamaged(const QString &name, const QString &cause, Format format)
{
    // A sound file that cannot be decoded, or enlarged, for want of memory is not damaged.
    if (cause == outOfMemory())
        return failure(LoadError::TooLarge, tr("Cannot load %1: %2.").arg(name, cause), format);
    return failure(LoadError::Damaged, tr("Cannot load %1: the file is damaged or incomplete (%2).").arg(name, cause), format);
}

QString outOfMemory() { return tr("there is not enough memory to decode it"); }

QString otherSizeThanDeclared(QSize declared, QSize held)
{
    return tr("it declares %1 x %2 pixels but holds %3 x %4")
        .arg(declared.width()).arg(declared.height()).arg(held.width()).arg(held.height());
}

QString fewerFramesThanDeclared() { return tr("it holds fewer frames than it declared"); }

QString endsEarly() { return tr("its picture data ends early"); }

QString frameEndsEarly(int frame) { return tr("its frame %1 ends early").arg(frame); }


Loaded failure(LoadError error, const QString &message, Format format)
{
    Loaded result;
    result.error = error;
    result.message = message;
    result.format = format;
    return result;
}

Loaded notAPicture(const QString &name, bool png)
{
    if (png)
        return failure(LoadError::NotAPicture, tr("Cannot load %1: the file is not a BMP, GIF, ICO, JPEG, PNG, WebP or Aseprite picture.").arg(name));
    return failure(LoadError::NotAPicture, tr("Cannot load %1: the file is not a BMP, GIF, ICO or JPEG picture.").arg(name));
}

Loaded fromHeaderError(const QString &name, const Header &h)
{
    if (h.error == LoadError::NotAPicture)
        return failure(LoadError::NotAPicture, tr("Cannot load %1: the file is %2.").arg(name, h.cause), h.format);
    return refusedAsDamaged(name, h.cause, h.format);
}

namespace {

// The largest area the decoder will size from the file, held against the budget.
Loaded checkBudget(const QString &name, const Header &h, const Budget &budget)
{
    for (const auto &[w, hgt] : {std::pair{h.width, h.height}, std::pair{h.otherWidth, h.otherHeight}}) {
        if (w > budget.maxSide || hgt > budget.maxSide || w * hgt > budget.maxPixels) {
            return failure(LoadError::TooLarge,
                           tr("Cannot load %1: the picture is too large: %2 x %3 pixels; the most is %4 pixels "
                              "a side and %5 pixels in all.")
                               .arg(name).arg(w).arg(hgt).arg(budget.maxSide).arg(budget.maxPixels),
                           h.format);
        }
    }
    return {};
}

// An Aseprite file's largest cel and tileset, held to the budget as a picture is: each is
// inflated whole when it is drawn.
Loaded checkAsepriteBudget(const QString &name, const AseDocument &doc, const Budget &budget)
{
    const auto over = [&](qint64 w, qint64 h) { return w > budget.maxSide || h > budget.maxSide || w * h > budget.maxPixels; };
    const auto refuse = [&](const QString &what, qint64 w, qint64 h) {
        return failure(LoadError::TooLarge,
                       tr("Cannot load %1: %2 is too large: %3 x %4; the most is %5 pixels a side and %6 pixels in all.")
                           .arg(name, what).arg(w).arg(h).arg(budget.maxSide).arg(budget.maxPixels),
                       Format::Aseprite);
    };
    if (over(doc.largestCelWidth, doc.largestCelHeight))
        return refuse(tr("a cel"), doc.largestCelWidth, doc.largestCelHeight);
    if (over(doc.largestTilesetWidth, doc.largestTilesetHeight))
        return refuse(tr("a tileset"), doc.largestTilesetWidth, doc.largestTilesetHeight);
    // All tilesets are held while a frame is composed.
    if (doc.tilesetBytes > decodedBytes(1, 1) * budget.maxPixels)
        return failure(LoadError::TooLarge, tr("Cannot load %1: its tilesets are too large together.").arg(name),
                       Format::Aseprite);
    return {};
}

} // namespace

// What load() refuses a picture for before decoding it: its header, its size against the
// budget, or data that ends before the picture does; ok() when none of these.
Loaded refusalFor(const Header &h, const QString &name, const Budget &budget)
{
    if (h.error != LoadError::None)
        return fromHeaderError(name, h);
    if (Loaded tooLarge = checkBudget(name, h, budget); !tooLarge.ok())
        return tooLarge;
    if (h.aseprite)
        if (Loaded tooLarge = checkAsepriteBudget(name, *h.aseprite, budget); !tooLarge.ok())
            return tooLarge;
    if (!h.incomplete.isEmpty())
        return refusedAsDamaged(name, h.incomplete, h.format);
    return {};
}

Loaded missing(const QString &name)
{
    return failure(LoadError::Missing,
                   tr("Cannot load %1: %2.").arg(name, RegularFile::causeOf(RegularFile::Refused::Missing)));
}

Loaded unreadable(const QString &name, int error)
{
    return unreadable(name, QString::fromLocal8Bit(std::strerror(error)));
}

Loaded unreadable(const QString &name, const QString &cause)
{
    return failure(LoadError::Unreadable, tr("Cannot load %1: the file cannot be read (%2).").arg(name, cause));
}

int countFrames(const QByteArray &data, const Header &first, const QString &name, const Budget &budget,
                Loaded *refusal, QList<int> *delays, int *plays)
{
    const AnimationFrames frames = first.format == Format::Gif ? readGifFrames(data)
                                 : first.format == Format::Png ? readApngFrames(data)
                                 : first.aseprite              ? asepriteFrames(*first.aseprite)
                                                               : readWebpFrames(data);
    *delays = frames.delays;
    *plays = frames.plays;
    if (!frames.damage.isEmpty()) {
        *refusal = refusedAsDamaged(name, frames.damage, first.format);
        return 0;
    }
    // Each frame is held to the budget as the first one is: a frame declared far larger than
    // the screen is a decompression bomb, whatever the decoder would clip it to.
    if (frames.largestWidth > budget.maxSide || frames.largestHeight > budget.maxSide
        || frames.largestWidth * frames.largestHeight > budget.maxPixels) {
        *refusal = failure(LoadError::TooLarge, tr("Cannot load %1: a frame is too large: %2 x %3 pixels.")
                                                    .arg(name).arg(frames.largestWidth).arg(frames.largestHeight),
                           first.format);
        return 0;
    }
    // All frames may be held at once: together they get one picture's budget.
    if (first.width * first.height * frames.count > budget.maxPixels) {
        *refusal = failure(LoadError::TooLarge, tr("Cannot load %1: its %2 frames of %3 x %4 pixels are too large "
                                                   "together; the most is %5 pixels in all.")
                                                    .arg(name).arg(frames.count).arg(first.width).arg(first.height)
                                                    .arg(budget.maxPixels),
                           first.format);
        return 0;
    }
    return frames.count;
}

} // namespace picture
