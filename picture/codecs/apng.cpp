#include "picture/codecs/apng.h"

#include <QCoreApplication>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include <zlib.h>

#include "picture/base/bytes.h"
#include "picture/codecs/pngchunks.h"
#include "picture/pixels/rgbaband.h"
#include "picture/source/qtglue.h"

namespace picture {

namespace {

QString cause(const char *text) { return QCoreApplication::translate("picture", text); }

// One frame as its fcTL declares it, and where its compressed data lies.
struct ApngFrame {
    qint64 x = 0, y = 0, width = 0, height = 0;
    int delay = 0;      // milliseconds
    int dispose = 0;    // 0: kept, 1: cleared to transparent, 2: back to what was there before
    int blend = 0;      // 0: replaces its rectangle, 1: drawn over it
    bool fromDefault = false;   // the default image (IDAT) is this frame's data
    qint64 dataBytes = 0;
    QList<std::pair<qint64, qint64>> data; // pieces of its zlib stream: position, length
};

struct ApngWalk {
    bool animated = false;
    bool defaultIsFrame = false;
    qint64 width = 0, height = 0;
    qint64 declared = 0;
    int plays = 1;
    QList<std::pair<qint64, qint64>> colours; // whole PLTE and tRNS chunks: position, bytes
    std::vector<ApngFrame> frames;
    QString damage;
};

// Walks a PNG's chunks from its signature to IEND and reads its animation from them. Every
// reader of APNG structure goes through here. keepData: note where each frame's data lies.
ApngWalk walkApng(const QByteArray &data, bool keepData)
{
    const Bytes b(data);
    ApngWalk w;
    if (!b.has(8, 25) || !b.startsWith(12, "IHDR", 4)) {
        w.damage = cause("its header chunk is missing");
        return w;
    }
    w.width = b.be32(16);
    w.height = b.be32(20);
    bool seenData = false; // the default image's IDAT
    quint32 sequence = 0;
    auto wrong = [&](const QString &why) {
        if (w.damage.isEmpty())
            w.damage = why;
    };
    // The first damage found is the one told: nothing after it changes the verdict.
    PngChunks chunks(b, 0, b.size());
    for (PngChunk c; w.damage.isEmpty();) {
        if (!chunks.next(&c)) {
            if (chunks.stop() == PngChunks::Stop::NoHeader)
                wrong(cause("it ends before its end chunk"));
            else
                wrong(cause("its %1 chunk ends early").arg(c.name()));
            break;
        }
        const qint64 at = c.data();
        const qint64 length = c.length;
        if (c.is("IEND"))
            break;
        const bool animation = c.is("acTL") || c.is("fcTL") || c.is("fdAT");
        // What decides the animation must be what the file wrote: libpng checks the checksums
        // of the chunks it reads, and reads none of these.
        if (animation && (w.animated || !seenData)
            && crc32(0, reinterpret_cast<const Bytef *>(data.constData() + c.pos + 4), uInt(length + 4)) != b.be32(c.crc())) {
            wrong(cause("its %1 chunk fails its checksum").arg(c.name()));
            continue;
        }
        if (c.is("IDAT")) {
            seenData = true;
            if (w.animated && w.frames.size() == 1 && w.frames.back().fromDefault) {
                if (keepData)
                    w.frames.back().data.append({at, length});
                w.frames.back().dataBytes += length;
            }
        } else if (c.is("PLTE") || c.is("tRNS")) {
            if (!seenData)
                w.colours.append({c.pos, length + 12});
        } else if (c.is("acTL")) {
            if (seenData || w.animated)
                continue; // only control before the default image counts
            w.animated = true;
            if (length != 8) {
                wrong(cause("its animation control chunk holds %1 bytes instead of 8").arg(length));
                continue;
            }
            w.declared = b.be32(at);
            w.plays = int(std::min<quint32>(b.be32(at + 4), 0xffff));
        } else if (w.animated && (c.is("fcTL") || c.is("fdAT"))) {
            const bool control = c.is("fcTL");
            // Frame control before the default image makes it the first frame, whatever the
            // later chunks hold: a reader of its first frame alone shows it.
            if (control && !seenData)
                w.defaultIsFrame = true;
            if (length < 4 || (control && length != 26)) {
                wrong(cause("its %1 chunk holds %2 bytes").arg(c.name()).arg(length));
                continue;
            }
            if (b.be32(at) != sequence) {
                wrong(cause("its sequence numbers are out of order (%1 where %2 belongs)").arg(b.be32(at)).arg(sequence));
                continue;
            }
            ++sequence;
            if (!control) {
                if (w.frames.empty() || w.frames.back().fromDefault) {
                    wrong(cause("it holds frame data before its frame control"));
                    continue;
                }
                if (keepData)
                    w.frames.back().data.append({at + 4, length - 4});
                w.frames.back().dataBytes += length - 4;
                continue;
            }
            const int number = int(w.frames.size()) + 1;
            if (!w.frames.empty() && w.frames.back().dataBytes == 0 && !w.frames.back().fromDefault) {
                wrong(cause("its frame %1 holds no picture data").arg(number - 1));
                continue;
            }
            if (qint64(w.frames.size()) >= w.declared) {
                wrong(cause("it holds more frames than the %1 it declares").arg(w.declared));
                continue;
            }
            ApngFrame f;
            f.width = b.be32(at + 4);
            f.height = b.be32(at + 8);
            f.x = b.be32(at + 12);
            f.y = b.be32(at + 16);
            const qint64 num = b.be16(at + 20);
            const qint64 den = b.be16(at + 22) ? b.be16(at + 22) : 100; // 0 stands for hundredths
            f.delay = int((num * 1000 * 2 + den) / (2 * den));
            f.dispose = b.u8(at + 24);
            f.blend = b.u8(at + 25);
            if (f.dispose > 2 || f.blend > 1) {
                wrong(cause("its frame %1 asks for an unknown disposal or blending").arg(number));
                continue;
            }
            if (f.width == 0 || f.height == 0 || f.x + f.width > w.width || f.y + f.height > w.height) {
                wrong(cause("its frame %1 (%2 x %3 at %4, %5) lies outside its %6 x %7 canvas")
                          .arg(number).arg(f.width).arg(f.height).arg(f.x).arg(f.y).arg(w.width).arg(w.height));
                continue;
            }
            if (!seenData) { // the default image is the first frame, and fills the canvas
                if (f.x != 0 || f.y != 0 || f.width != w.width || f.height != w.height) {
                    wrong(cause("its first frame (%1 x %2 at %3, %4) is not its %5 x %6 picture")
                              .arg(f.width).arg(f.height).arg(f.x).arg(f.y).arg(w.width).arg(w.height));
                    continue;
                }
                f.fromDefault = true;
            }
            w.frames.push_back(std::move(f));
        }
    }
    if (w.animated && w.damage.isEmpty()) {
        if (!w.frames.empty() && w.frames.back().dataBytes == 0)
            wrong(cause("its frame %1 holds no picture data").arg(w.frames.size()));
        else if (qint64(w.frames.size()) != w.declared)
            wrong(cause("it declares %1 frames but holds %2").arg(w.declared).arg(w.frames.size()));
    }
    return w;
}

} // namespace

void readApngControl(const QByteArray &data, Header &h)
{
    const ApngWalk walk = walkApng(data, false);
    h.animated = walk.animated;
    h.defaultImageIsFrame = !walk.animated || walk.defaultIsFrame;
}

AnimationFrames readApngFrames(const QByteArray &data)
{
    const ApngWalk walk = walkApng(data, false);
    AnimationFrames frames;
    if (!walk.animated)
        return frames;
    frames.damage = walk.damage;
    frames.plays = walk.plays;
    for (const ApngFrame &f : walk.frames) {
        ++frames.count;
        frames.largestWidth = std::max(frames.largestWidth, f.width);
        frames.largestHeight = std::max(frames.largestHeight, f.height);
        frames.delays.append(f.delay);
    }
    return frames;
}

namespace {

void appendChunk(QByteArray &png, const char *type, const QByteArray &body)
{
    uchar length[4];
    qToBigEndian<quint32>(quint32(body.size()), length);
    png.append(reinterpret_cast<const char *>(length), 4);
    const qsizetype start = png.size();
    png.append(type, 4);
    png.append(body);
    uchar crc[4];
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef *>(png.constData() + start), uInt(4 + body.size()))), crc);
    png.append(reinterpret_cast<const char *>(crc), 4);
}

} // namespace

struct ApngPlayer::State {
    QByteArray data;
    ApngWalk walk;
    size_t next = 0;
    QImage canvas;      // ARGB32, straight alpha
    // What the frame drawn last asked to be done with its rectangle before the next one.
    QRect dispose;
    int disposal = 0;
    QImage before;      // that rectangle as it was before the frame, for disposal 2

    explicit State(const QByteArray &d) : data(d), walk(walkApng(data, true)) {}

    // The frame's data as a PNG of its own: the header with the frame's size, the colours, its
    // data as one IDAT.
    QByteArray framePng(const ApngFrame &f) const
    {
        QByteArray png = data.left(8);
        QByteArray header = data.mid(16, 13);
        qToBigEndian<quint32>(quint32(f.width), header.data());
        qToBigEndian<quint32>(quint32(f.height), header.data() + 4);
        appendChunk(png, "IHDR", header);
        for (const auto &[pos, bytes] : std::as_const(walk.colours))
            png.append(data.constData() + pos, bytes);
        QByteArray stream;
        stream.reserve(f.dataBytes);
        for (const auto &[pos, bytes] : f.data)
            stream.append(data.constData() + pos, bytes);
        appendChunk(png, "IDAT", stream);
        appendChunk(png, "IEND", {});
        return png;
    }
};

ApngPlayer::ApngPlayer(const QByteArray &data) : m_state(std::make_unique<State>(data)) {}

ApngPlayer::~ApngPlayer() = default;

bool ApngPlayer::next(QImage *frame, QString *why)
{
    State &s = *m_state;
    if (!s.walk.damage.isEmpty()) {
        *why = s.walk.damage;
        return false;
    }
    if (s.next >= s.walk.frames.size()) {
        *why = fewerFramesThanDeclared();
        return false;
    }
    const ApngFrame &f = s.walk.frames[s.next++];
    const int number = int(s.next);
    try {
        if (s.canvas.isNull()) {
            s.canvas = QImage(int(s.walk.width), int(s.walk.height), QImage::Format_ARGB32);
            if (s.canvas.isNull()) {
                *why = outOfMemory();
                return false;
            }
            s.canvas.fill(Qt::transparent);
        }
        const QByteArray png = s.framePng(f);
        const Header h = readHeader(png, Format::Png);
        QString problem = h.error != LoadError::None ? h.cause : h.incomplete;
        QImage image;
        if (problem.isEmpty())
            image = decodeWithQt(png, h, &problem);
        if (image.isNull()) {
            *why = cause("its frame %1 cannot be decoded: %2").arg(number).arg(problem);
            return false;
        }
        image.convertTo(QImage::Format_ARGB32);
        if (image.format() != QImage::Format_ARGB32) {
            *why = outOfMemory();
            return false;
        }
        if (image.size() != QSize(int(f.width), int(f.height))) {
            *why = cause("its frame %1: %2").arg(number).arg(otherSizeThanDeclared(QSize(int(f.width), int(f.height)), image.size()));
            return false;
        }
        // The frame before is disposed of now, so that it showed in its own frame.
        if (s.disposal == 1) {
            for (int y = s.dispose.top(); y <= s.dispose.bottom(); ++y)
                std::fill_n(reinterpret_cast<QRgb *>(s.canvas.scanLine(y)) + s.dispose.left(), s.dispose.width(), QRgb(0));
        } else if (s.disposal == 2) {
            for (int y = 0; y < s.before.height(); ++y)
                std::memcpy(reinterpret_cast<QRgb *>(s.canvas.scanLine(s.dispose.top() + y)) + s.dispose.left(),
                            s.before.constScanLine(y), size_t(s.before.width()) * 4);
        }
        const QRect area(int(f.x), int(f.y), int(f.width), int(f.height));
        s.dispose = area;
        // The first frame has nothing before it to go back to: it is cleared instead.
        s.disposal = f.dispose == 2 && number == 1 ? 1 : f.dispose;
        s.before = QImage();
        if (s.disposal == 2) {
            s.before = s.canvas.copy(area);
            if (s.before.isNull()) {
                *why = outOfMemory();
                return false;
            }
        }
        for (int y = 0; y < area.height(); ++y) {
            const auto *from = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            auto *to = reinterpret_cast<QRgb *>(s.canvas.scanLine(area.top() + y)) + area.left();
            if (f.blend == 0)
                std::memcpy(to, from, size_t(area.width()) * 4);
            else
                for (int x = 0; x < area.width(); ++x)
                    to[x] = over(from[x], to[x]);
        }
        *frame = frameOfScreen(s.canvas);
        if (frame->isNull()) {
            *why = outOfMemory();
            return false;
        }
        return true;
    } catch (const std::bad_alloc &) {
        *why = outOfMemory();
        return false;
    }
}

} // namespace picture
