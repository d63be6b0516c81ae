#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <memory>

#include "picture/source/sprite.h"

namespace picture {

// Limits every decoded picture keeps. A header that declares more is refused as "too large"
// before anything of that size is allocated. Qt's own reader limit (128 MB) is lifted to these.
struct Budget {
    int maxSide = 32767;                        // pixels, either side
    qint64 maxPixels = qint64(256) * 1024 * 1024; // one picture (a 48-megapixel photo fits)
    bool acceptPng = false;                     // the window reads no PNG nor WebP; the command line does
    // What one command may hold in memory at once: its decoded pictures and what it composes.
    qint64 maxTotalBytes = defaultCommandMemory();

    // Half the machine's memory and at most 6 GiB, so that a machine without room for more
    // hears why rather than having the system end the program.
    static qint64 defaultCommandMemory();
};

// A memory figure as both programs' messages give it: mebibytes, rounded up.
QString mebibytes(qint64 bytes);

enum class Format { Unknown, Bmp, Gif, Ico, Jpeg, Png, Webp, Aseprite };

enum class LoadError { None, Missing, Unreadable, NotAPicture, Damaged, TooLarge };

// How long a decoded picture is kept: for a moment (a preview), or with a strip's worth of
// others until they are composed. Those are decoded into memory the system backs with large
// pages, shared with the pictures decoded before them, which costs far fewer page faults.
enum class Holding { Alone, WithOthers };

struct Loaded {
    // Natural size; RGB32 (BGR888 for a JPEG) when opaque, else ARGB32 with straight alpha:
    // every pixel's colour as the file gives it, also where it is wholly transparent.
    QImage image;
    Format format = Format::Unknown;
    LoadError error = LoadError::None;
    QString message;                // for failures: names the file and the cause
    bool ok() const { return error == LoadError::None; }
};

// The format that a file's first bytes announce; Unknown for anything but BMP, GIF, ICO and JPEG.
Format sniffFormat(const QByteArray &head);
// The same, and Png for a PNG and Webp for a WebP when the budget accepts PNG (the command
// line's formats).
Format sniffFormat(const QByteArray &head, const Budget &budget);

struct Animation;
struct Header;

// The refusal of a file whose data is not what it claims to be, naming it and the cause: the
// one wording every reader of pictures uses for damage. A cause of outOfMemory() is told as
// what it is, the memory, and not as damage.
Loaded refusedAsDamaged(const QString &name, const QString &cause, Format format);
// The causes of damage that more than one reader finds, each worded once.
QString outOfMemory();                               // a decoded picture cannot be had
QString otherSizeThanDeclared(QSize declared, QSize held);
QString fewerFramesThanDeclared();
QString endsEarly();                                // its data stops before its pixels do
QString frameEndsEarly(int frame);                  // counted from 1

// A picture file, opened once by the exact bytes of its name (see base/nativepath.h) and read once:
// what its header declares and what is decoded come from the same bytes, and a decoded picture
// whose size differs from the declared one is refused as damaged. Copies share the bytes.
class Source
{
public:
    Source() = default;
    // The file at path; name is how messages show it. With allFrames, an animated GIF, PNG or
    // WebP gives every frame.
    static Source open(const QString &path, const QString &name, const Budget &budget, bool allFrames = false);
    // The same from bytes already in memory.
    static Source fromData(const QByteArray &data, const QString &name, const Budget &budget, bool allFrames = false);

    // ok() when the header passed every check made before decoding.
    const Loaded &refusal() const { return m_refusal; }
    bool ok() const { return m_refusal.ok(); }
    Format format() const { return m_refusal.format; }
    const QString &name() const { return m_name; }
    // Every frame's size: the picture's, or for all frames of an animation its canvas's.
    QSize size() const { return m_size; }
    int frames() const { return m_frames; }
    // The frames the file holds, also when only its first is taken.
    int framesInFile() const { return m_framesInFile; }
    bool allFrames() const { return m_allFrames; }
    // Each frame's delay in milliseconds as the file gives it (0 when it gives none).
    QList<int> delays() const { return m_delays; }
    // How many times an animation taken whole plays, as browsers play it; 0 for ever.
    int plays() const { return m_plays; }
    // The most memory its decoded frames hold at once, from what the header declares.
    qint64 chargedBytes() const;
    // The memory its file's bytes hold until it is released.
    qint64 heldBytes() const;

    // The first picture, or for a JPEG the smallest of 1/2, 1/4 and 1/8 of it that still
    // covers view on both sides.
    Loaded decode(Holding holding = Holding::Alone, QSize view = QSize()) const;
    // Every frame, each as a viewer shows it; refused as a whole when one cannot be read.
    Animation decodeFrames() const;
    // Lets go of the file and its bytes, for this copy and every other one: after their last
    // use. The header's facts stay; decoding is then refused.
    void release() const;
    // An Aseprite file's layers, tags and slices; null for any other picture.
    std::shared_ptr<const SpriteFacts> sprite() const;
    // A copy whose frames show the layer of that index alone, composed as the file composes it
    // (its opacity and blend mode over a transparent canvas); for an Aseprite file's shown
    // layers only.
    Source onlyLayer(int layerIndex) const;
    // The bytes the header was read from: the whole file, or only its head for a bitmap that is
    // read from its file.
    QByteArray bytes() const;

private:
    friend class FrameStream;
    // A source of that name with that refusal (ok() for one still to be filled in).
    static Source refused(const QString &name, const Budget &budget, Loaded refusal);
    // What the header declared; null for a source refused before it was read.
    const Header *header() const;

    struct Data;
    std::shared_ptr<const Data> m_data;
    Loaded m_refusal;
    QString m_name;
    Budget m_budget;
    QSize m_size;
    int m_frames = 1;
    int m_framesInFile = 1;
    bool m_allFrames = false;
    QList<int> m_delays;
    int m_plays = 1;
    int m_layer = -1; // the one layer an Aseprite file's frames show; -1 for all
};

// Loads the picture at path: a BMP, the first frame of a GIF, the first image of an icon, a JPEG;
// when the budget accepts PNG, a PNG or WebP too (an animation's first frame).
// The decoder follows the content, never the file name. path may keep name bytes that are not
// UTF-8 (see base/nativepath.h); messages show them as U+FFFD.
Loaded load(const QString &path, const Budget &budget = {}, Holding holding = Holding::Alone);

// The same from bytes already in memory; name only appears in messages.
Loaded loadFromData(const QByteArray &data, const QString &name, const Budget &budget = {},
                    Holding holding = Holding::Alone);

// The picture at path for showing at view's size: a JPEG is decoded at the smallest of 1/2,
// 1/4 and 1/8 of its size that still covers view on both sides, in a fraction of the time;
// other pictures come at their natural size. Refuses what load() refuses.
Loaded loadForView(const QString &path, QSize view);

// Bytes one decoded picture of this size occupies at most; used to budget a whole command.
qint64 decodedBytes(int width, int height);

} // namespace picture
