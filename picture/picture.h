#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace picture {

// Limits every decoded picture keeps. A header that declares more is refused as "too large"
// before anything of that size is allocated. Qt's own reader limit (128 MB) is lifted to these.
struct Budget {
    int maxSide = 32767;                        // pixels, either side
    qint64 maxPixels = qint64(256) * 1024 * 1024; // one picture (a 48-megapixel photo fits)
    bool acceptPng = false;                     // the window reads no PNG; the command line does
};

enum class Format { Unknown, Bmp, Gif, Ico, Jpeg, Png };

enum class LoadError { None, Missing, Unreadable, NotAPicture, Damaged, TooLarge };

// How long a decoded picture is kept: for a moment (a preview), or with a strip's worth of
// others until they are composed. Those are decoded into memory the system backs with large
// pages, shared with the pictures decoded before them, which costs far fewer page faults.
enum class Holding { Alone, WithOthers };

struct Loaded {
    QImage image;                   // natural size; BGR888/RGB32 when opaque, ARGB32_Premultiplied otherwise
    Format format = Format::Unknown;
    LoadError error = LoadError::None;
    QString message;                // for failures: names the file and the cause
    bool ok() const { return error == LoadError::None; }
};

// The format that a file's first bytes announce; Unknown for anything but BMP, GIF, ICO and JPEG.
Format sniffFormat(const QByteArray &head);
// The same, and Png for a PNG when the budget accepts PNG.
Format sniffFormat(const QByteArray &head, const Budget &budget);

// Loads the picture at path: a BMP, the first frame of a GIF, the first image of an icon, a JPEG.
// The decoder follows the content, never the file name. path may keep name bytes that are not
// UTF-8 (see nativepath.h); messages show them as U+FFFD.
Loaded load(const QString &path, const Budget &budget = {}, Holding holding = Holding::Alone);

// The same from bytes already in memory; name only appears in messages.
Loaded loadFromData(const QByteArray &data, const QString &name, const Budget &budget = {},
                    Holding holding = Holding::Alone);

// The picture at path for showing at view's size: a JPEG is decoded at the smallest of 1/2,
// 1/4 and 1/8 of its size that still covers view on both sides, in a fraction of the time;
// other pictures come at their natural size. Refuses what load() refuses.
Loaded loadForView(const QString &path, QSize view);

// The size that the header of the picture at path declares, read from its first bytes without
// decoding anything; empty when they do not tell. Lets a command charge its memory budget
// before it decodes.
QSize declaredSize(const QString &path);

// What load() would find out before decoding anything: the size the picture will have, or the
// refusal it would give for the header, the budget or a cut file. The image stays null.
struct Inspected {
    Loaded refusal;   // ok() when the header passed
    int width = 0;
    int height = 0;
};
Inspected inspect(const QByteArray &data, const QString &name, const Budget &budget = {});

// Bytes one decoded picture of this size occupies at most; used to budget a whole command.
qint64 decodedBytes(int width, int height);

} // namespace picture
