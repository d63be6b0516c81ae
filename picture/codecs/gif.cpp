#include "picture/codecs/gif.h"

#include <QCoreApplication>

#include <array>
#include <new>
#include <utility>
#include <vector>

#include "picture/base/bytes.h"
#include "picture/pixels/rgbaband.h"

namespace picture {

namespace {

// Skips GIF data sub-blocks from pos; returns the position after the terminator, or -1 when the
// data ends first.
qint64 skipSubBlocks(const Bytes &b, qint64 pos)
{
    while (b.has(pos, 1)) {
        const uchar n = b.u8(pos);
        if (n == 0)
            return pos + 1;
        pos += 1 + n;
    }
    return -1;
}

// Counts the pixels that the LZW data of a GIF image, in sub-blocks from pos, decodes to, without
// decoding them; stops counting at enough. Data that yields fewer pixels than its frame holds
// ends before the picture does, however well its blocks are closed; decoders would leave the
// rest empty, and a few bytes could claim a frame of millions of pixels.
qint64 lzwPixels(const Bytes &b, qint64 pos, qint64 enough)
{
    const int minCodeSize = b.u8(pos++);
    if (minCodeSize < 1 || minCodeSize > 11)
        return -1; // not LZW as GIF writes it; the decoder decides
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    std::array<quint16, 4096> lengths;
    for (int i = 0; i < clear; ++i)
        lengths[size_t(i)] = 1;

    int next = clear + 2;
    int codeBits = minCodeSize + 1;
    int previous = -1;
    quint32 bits = 0;
    int bitCount = 0;
    qint64 pixels = 0;
    qint64 blockLeft = 0;
    for (;;) {
        while (bitCount < codeBits) {
            if (blockLeft == 0) {
                if (!b.has(pos, 1))
                    return pixels;
                blockLeft = b.u8(pos++);
                if (blockLeft == 0)
                    return pixels;
            }
            if (!b.has(pos, 1))
                return pixels;
            bits |= quint32(b.u8(pos++)) << bitCount;
            bitCount += 8;
            --blockLeft;
        }
        const int code = int(bits & ((1u << codeBits) - 1));
        bits >>= codeBits;
        bitCount -= codeBits;

        if (code == clear) {
            next = clear + 2;
            codeBits = minCodeSize + 1;
            previous = -1;
            continue;
        }
        if (code == end)
            return pixels;
        if (previous < 0) {
            if (code >= clear)
                return pixels; // a code the table does not hold yet: the decoder stops here
            pixels += 1;
        } else {
            if (code > next || (code == next && next >= 4096))
                return pixels;
            const int length = lengths[size_t(previous)] + 1;
            pixels += code == next ? length : lengths[size_t(code)];
            if (next < 4096) {
                lengths[size_t(next++)] = quint16(std::min(length, 0xffff));
                if (next == (1 << codeBits) && codeBits < 12)
                    ++codeBits;
            }
        }
        previous = code;
        if (pixels >= enough)
            return pixels;
    }
}

// One GIF frame as its image descriptor and the blocks before it declare it.
struct GifFrame {
    qint64 left = 0;
    qint64 top = 0;
    qint64 width = 0;
    qint64 height = 0;
    // From the graphic control extension just before it, if any: none is carried over.
    int delay = 0;          // milliseconds
    int disposal = 0;       // 2: to the background, 3: to what was there before; else kept
    int transparent = -1;   // the palette index not drawn
    bool interlaced = false;
    qint64 palette = -1;    // where its own colour table starts, or -1 for the global one
    int paletteColours = 0;
    qint64 dataStart = 0;   // the LZW code size, then the data sub-blocks
};

// How a walk over a GIF's blocks ended.
// EndsAtBlock: the data ends where a block would start, as it does when only the trailer is missing.
enum class GifEnd { Trailer, Stopped, EndsAtBlock, CutInHeader, CutInExtension, CutInDescriptor, CutInFrame, UnknownBlock };

struct GifWalk {
    GifEnd end = GifEnd::Trailer;
    int frames = 0;         // frames whose data was whole
    uchar unknown = 0;      // the block that stopped the walk (UnknownBlock)
    int plays = 1;          // from the looping extension browsers read: 0 for ever
};

// Walks the blocks of the GIF in b, calling frame() for each image in order; frame() returns
// false to stop there. Every reader of GIF structure goes through here.
template<typename Visit>
GifWalk walkGif(const Bytes &b, Visit frame)
{
    GifWalk walk;
    if (!b.has(0, 13)) {
        walk.end = GifEnd::CutInHeader;
        return walk;
    }
    const uchar flags = b.u8(10);
    qint64 pos = 13 + ((flags & 0x80) ? 3 * (qint64(2) << (flags & 7)) : 0);
    GifFrame control; // what the last graphic control extension said for the next frame
    for (;;) {
        if (!b.has(pos, 1)) {
            walk.end = GifEnd::EndsAtBlock;
            return walk;
        }
        const uchar block = b.u8(pos++);
        if (block == 0x3b) {
            walk.end = GifEnd::Trailer;
            return walk;
        }
        if (block == 0x21) { // extension: a label, then sub-blocks
            if (b.u8(pos) == 0xf9 && b.u8(pos + 1) >= 4) { // graphic control: for the next frame only
                const uchar flags = b.u8(pos + 2);
                control.delay = b.le16(pos + 3) * 10;
                control.disposal = (flags >> 2) & 7;
                control.transparent = (flags & 1) ? b.u8(pos + 5) : -1;
            } else if (b.u8(pos) == 0xff && b.u8(pos + 1) == 11 && b.has(pos + 2, 15)
                       && (b.startsWith(pos + 2, "NETSCAPE2.0", 11) || b.startsWith(pos + 2, "ANIMEXTS1.0", 11))
                       && b.u8(pos + 13) >= 3 && b.u8(pos + 14) == 1) {
                // A loop count of n plays the animation n + 1 times, as browsers do; 0 for ever.
                const int loops = b.le16(pos + 15);
                walk.plays = loops == 0 ? 0 : loops + 1;
            }
            pos = b.has(pos, 1) ? skipSubBlocks(b, pos + 1) : -1;
            if (pos < 0) {
                walk.end = GifEnd::CutInExtension;
                return walk;
            }
        } else if (block == 0x2c) { // image descriptor
            if (!b.has(pos, 9)) {
                walk.end = GifEnd::CutInDescriptor;
                return walk;
            }
            GifFrame f = std::exchange(control, GifFrame());
            f.left = b.le16(pos);
            f.top = b.le16(pos + 2);
            f.width = b.le16(pos + 4);
            f.height = b.le16(pos + 6);
            const uchar imageFlags = b.u8(pos + 8);
            f.interlaced = imageFlags & 0x40;
            if (imageFlags & 0x80) {
                f.palette = pos + 9;
                f.paletteColours = 2 << (imageFlags & 7);
            }
            f.dataStart = pos + 9 + 3 * qint64(f.paletteColours);
            const bool go = frame(f);
            pos = b.has(f.dataStart, 1) ? skipSubBlocks(b, f.dataStart + 1) : -1;
            if (!go) {
                walk.end = GifEnd::Stopped;
                return walk;
            }
            if (pos < 0) {
                walk.end = GifEnd::CutInFrame;
                return walk;
            }
            ++walk.frames;
        } else {
            walk.end = GifEnd::UnknownBlock;
            walk.unknown = block;
            return walk;
        }
    }
}

// The pixels the frame's data decodes to when fewer than its rectangle holds; -1 when whole
// or when the data is not LZW as GIF writes it (the decoder decides then).
qint64 shortOfPixels(const Bytes &b, const GifFrame &f)
{
    const qint64 area = f.width * f.height;
    const qint64 pixels = b.has(f.dataStart, 1) ? lzwPixels(b, f.dataStart, area) : -1;
    return pixels >= 0 && pixels < area ? pixels : -1;
}

} // namespace

Header readGif(const QByteArray &data, Header h)
{
    const Bytes b(data);
    h.width = b.le16(6);
    h.height = b.le16(8);
    bool seen = false;
    const GifWalk walk = walkGif(b, [&](const GifFrame &f) {
        seen = true;
        h.otherWidth = f.width;
        h.otherHeight = f.height;
        if (h.width == 0 || h.height == 0)
            return false;
        if (!b.has(f.dataStart, 1) || skipSubBlocks(b, f.dataStart + 1) < 0)
            h.incomplete = endsEarly();
        else if (const qint64 pixels = shortOfPixels(b, f); pixels >= 0)
            h.incomplete = QStringLiteral("its picture data holds %1 of its %2 pixels").arg(pixels).arg(f.width * f.height);
        return false;
    });
    if (walk.end == GifEnd::CutInHeader)
        return damaged(std::move(h), QStringLiteral("it ends inside its header"));
    if (seen && (h.width == 0 || h.height == 0))
        return damaged(std::move(h), QStringLiteral("its header declares %1 x %2 pixels").arg(h.width).arg(h.height));
    if (seen)
        return h;
    switch (walk.end) {
    case GifEnd::Trailer:
        return damaged(std::move(h), QStringLiteral("it holds no picture"));
    case GifEnd::UnknownBlock:
        return damaged(std::move(h), QStringLiteral("it holds an unknown block (0x%1) before its first picture")
                              .arg(walk.unknown, 2, 16, QLatin1Char('0')));
    default:
        return damaged(std::move(h), QStringLiteral("it ends before its first picture"));
    }
}

GifFrames readGifFrames(const QByteArray &data, bool checkData)
{
    const Bytes b(data);
    GifFrames result;
    const GifWalk walk = walkGif(b, [&](const GifFrame &f) {
        result.largestWidth = std::max(result.largestWidth, f.width);
        result.largestHeight = std::max(result.largestHeight, f.height);
        if (checkData && shortOfPixels(b, f) >= 0)
            return false;
        result.delays.append(f.delay);
        return true;
    });
    result.count = walk.frames;
    result.plays = walk.plays;
    switch (walk.end) {
    case GifEnd::Trailer:
    case GifEnd::EndsAtBlock: // only the trailer is missing: every frame is whole
        break;
    case GifEnd::CutInHeader:
        result.damage = QStringLiteral("it ends inside its header");
        break;
    case GifEnd::CutInExtension:
        result.damage = QStringLiteral("it ends after frame %1, before its trailer").arg(result.count);
        break;
    case GifEnd::CutInDescriptor:
        result.damage = QStringLiteral("it holds an unknown block (0x2c) after frame %1").arg(result.count);
        break;
    case GifEnd::Stopped:
    case GifEnd::CutInFrame:
        result.damage = frameEndsEarly(result.count + 1);
        break;
    case GifEnd::UnknownBlock:
        result.damage = QStringLiteral("it holds an unknown block (0x%1) after frame %2")
                            .arg(walk.unknown, 2, 16, QLatin1Char('0')).arg(result.count);
        break;
    }
    return result;
}

namespace {

// A frame's LZW data, code by code, handed out as palette indices; stops at its end code, at the
// end of its blocks, or at a code the table cannot hold yet (damage the header checks refuse).
class LzwReader
{
public:
    LzwReader(const Bytes &b, qint64 pos) : m_b(b), m_pos(pos + 1), m_minSize(b.u8(pos))
    {
        m_valid = m_minSize >= 1 && m_minSize <= 11;
        if (m_valid) // a larger minimum code size would shift past the codes' width
            reset();
    }

    bool valid() const { return m_valid; }

    // The next index, or -1 when the data has no more.
    int next()
    {
        while (m_out == 0) {
            if (!m_valid || !decodeCode())
                return -1;
        }
        return m_stack[size_t(--m_out)];
    }

private:
    void reset()
    {
        m_codeBits = m_minSize + 1;
        m_next = (1 << m_minSize) + 2;
        m_previous = -1;
    }

    int readCode()
    {
        while (m_bitCount < m_codeBits) {
            if (m_blockLeft == 0) {
                if (!m_b.has(m_pos, 1) || (m_blockLeft = m_b.u8(m_pos++)) == 0)
                    return -1;
            }
            if (!m_b.has(m_pos, 1))
                return -1;
            m_bits |= quint32(m_b.u8(m_pos++)) << m_bitCount;
            m_bitCount += 8;
            --m_blockLeft;
        }
        const int code = int(m_bits & ((1u << m_codeBits) - 1));
        m_bits >>= m_codeBits;
        m_bitCount -= m_codeBits;
        return code;
    }

    // Puts the indices of the next code on the stack (last first); false at the end.
    bool decodeCode()
    {
        const int clear = 1 << m_minSize;
        const int code = readCode();
        if (code < 0 || code == clear + 1)
            return m_valid = false;
        if (code == clear) {
            reset();
            return true;
        }
        if (m_previous < 0) {
            if (code >= clear)
                return m_valid = false;
            m_stack[size_t(m_out++)] = uchar(code);
            m_first = uchar(code);
            m_previous = code;
            return true;
        }
        if (code > m_next || (code == m_next && m_next >= 4096))
            return m_valid = false;
        int walk = code;
        if (code == m_next) { // the code being defined: the previous string and its own first index
            m_stack[size_t(m_out++)] = m_first;
            walk = m_previous;
        }
        while (walk >= clear) {
            m_stack[size_t(m_out++)] = m_suffix[size_t(walk)];
            walk = m_prefix[size_t(walk)];
        }
        m_stack[size_t(m_out++)] = uchar(walk);
        m_first = uchar(walk);
        if (m_next < 4096) {
            m_prefix[size_t(m_next)] = quint16(m_previous);
            m_suffix[size_t(m_next)] = m_first;
            if (++m_next == (1 << m_codeBits) && m_codeBits < 12)
                ++m_codeBits;
        }
        m_previous = code;
        return true;
    }

    const Bytes &m_b;
    qint64 m_pos;
    int m_minSize;
    bool m_valid = true;
    int m_codeBits = 0;
    int m_next = 0;
    int m_previous = -1;
    uchar m_first = 0;
    quint32 m_bits = 0;
    int m_bitCount = 0;
    int m_blockLeft = 0;
    int m_out = 0;
    std::array<quint16, 4096> m_prefix{};
    std::array<uchar, 4096> m_suffix{};
    std::array<uchar, 4097> m_stack{};
};

// The row of a frame that its n-th stored row is: interlaced frames store every eighth row from
// 0, every eighth from 4, every fourth from 2, then every second from 1.
qint64 frameRow(qint64 n, qint64 height, bool interlaced)
{
    if (!interlaced)
        return n;
    for (const auto &[start, step] : {std::pair{0, 8}, std::pair{4, 8}, std::pair{2, 4}, std::pair{1, 2}}) {
        const qint64 rows = height > start ? (height - start + step - 1) / step : 0;
        if (n < rows)
            return start + n * step;
        n -= rows;
    }
    return height;
}

QString cause(const char *text) { return QCoreApplication::translate("picture", text); }

} // namespace

struct GifPlayer::State {
    QByteArray data;
    Bytes bytes{data};
    std::vector<GifFrame> frames;
    size_t next = 0;
    std::array<QRgb, 256> global{};
    QImage screen;      // ARGB32, straight alpha
    // What the frame drawn last asked to be done with its rectangle before the next one.
    QRect dispose;
    int disposal = 0;
    QImage before;      // that rectangle as it was before the frame, for disposal 3

    explicit State(const QByteArray &d) : data(d), bytes(data) {}
};

GifPlayer::GifPlayer(const QByteArray &data) : m_state(std::make_unique<State>(data))
{
    State &s = *m_state;
    walkGif(s.bytes, [&](const GifFrame &f) {
        s.frames.push_back(f);
        return true;
    });
    const uchar flags = s.bytes.u8(10);
    // Without a table, indices are grey levels, as other readers show them.
    for (int i = 0; i < 256; ++i)
        s.global[size_t(i)] = qRgb(i, i, i);
    if (flags & 0x80) {
        const int colours = 2 << (flags & 7);
        for (int i = 0; i < 256; ++i)
            s.global[size_t(i)] = i < colours ? qRgb(s.bytes.u8(13 + 3 * i), s.bytes.u8(14 + 3 * i), s.bytes.u8(15 + 3 * i))
                                              : qRgb(0, 0, 0);
    }
}

GifPlayer::~GifPlayer() = default;

bool GifPlayer::next(QImage *frame, QString *why)
{
    State &s = *m_state;
    if (s.next >= s.frames.size()) {
        *why = fewerFramesThanDeclared();
        return false;
    }
    const GifFrame &f = s.frames[s.next++];
    const int number = int(s.next);
    const QString noMemory = outOfMemory();
    try {
        if (s.screen.isNull()) {
            s.screen = QImage(s.bytes.le16(6), s.bytes.le16(8), QImage::Format_ARGB32);
            if (s.screen.isNull()) {
                *why = noMemory;
                return false;
            }
            s.screen.fill(Qt::transparent);
        }
        // The frame before is disposed of now, so that it showed in its own frame.
        if (s.disposal == 2) {
            for (int y = s.dispose.top(); y <= s.dispose.bottom(); ++y)
                std::fill_n(reinterpret_cast<QRgb *>(s.screen.scanLine(y)) + s.dispose.left(), s.dispose.width(), QRgb(0));
        } else if (s.disposal == 3) {
            for (int y = 0; y < s.before.height(); ++y)
                std::memcpy(reinterpret_cast<QRgb *>(s.screen.scanLine(s.dispose.top() + y)) + s.dispose.left(),
                            s.before.constScanLine(y), size_t(s.before.width()) * 4);
        }
        const QRect area = QRect(int(f.left), int(f.top), int(f.width), int(f.height)) & s.screen.rect();
        s.dispose = area;
        s.disposal = area.isEmpty() ? 0 : f.disposal;
        s.before = QImage();
        if (s.disposal == 3) {
            s.before = s.screen.copy(area);
            if (s.before.isNull()) {
                *why = noMemory;
                return false;
            }
        }

        std::array<QRgb, 256> palette = s.global;
        if (f.palette >= 0)
            for (int i = 0; i < 256; ++i)
                palette[size_t(i)] = i < f.paletteColours
                    ? qRgb(s.bytes.u8(f.palette + 3 * i), s.bytes.u8(f.palette + 1 + 3 * i), s.bytes.u8(f.palette + 2 + 3 * i))
                    : qRgb(0, 0, 0);
        auto reader = std::make_unique<LzwReader>(s.bytes, f.dataStart);
        if (!reader->valid()) {
            *why = cause("frame %1 is not coded as GIF codes its pictures").arg(number);
            return false;
        }
        for (qint64 n = 0; n < f.height; ++n) {
            const qint64 y = f.top + frameRow(n, f.height, f.interlaced);
            QRgb *row = y < s.screen.height() ? reinterpret_cast<QRgb *>(s.screen.scanLine(int(y))) : nullptr;
            for (qint64 x = f.left; x < f.left + f.width; ++x) {
                const int index = reader->next();
                if (index < 0) {
                    *why = frameEndsEarly(number);
                    return false;
                }
                if (row && x < s.screen.width() && index != f.transparent)
                    row[x] = palette[size_t(index)];
            }
        }
        *frame = frameOfScreen(s.screen);
        if (frame->isNull()) {
            *why = noMemory;
            return false;
        }
        return true;
    } catch (const std::bad_alloc &) {
        *why = noMemory;
        return false;
    }
}

} // namespace picture
