#include "picture/codecs/webp.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <new>

#include <webp/decode.h>

#include "picture/base/bytes.h"
#include "picture/pixels/rgbaband.h"

namespace picture {

namespace {

QString cause(const char *text) { return QCoreApplication::translate("picture", text); }

// QImage's ARGB32 is one 32-bit word a pixel: B, G, R, A in memory on little-endian machines.
constexpr WEBP_CSP_MODE kArgb32 = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;

// The extended header's flags: animation, XMP, EXIF, alpha, ICC profile. Any other bit set is a
// file no WebP writer made, which libwebp refuses too.
constexpr quint32 kAnimationFlag = 0x02, kKnownFlags = 0x3e;

// The RIFF container must hold the bytes it declares; what follows it is not read.
bool riffWhole(const Bytes &b) { return b.has(0, 12) && qint64(b.le32(4)) + 8 <= b.size(); }

quint32 le24(const Bytes &b, qint64 pos) { return b.le16(pos) | quint32(b.u8(pos + 2)) << 16; }

// One frame as its chunks declare it, and where its picture lies.
struct WebpFrame {
    int x = 0, y = 0, width = 0, height = 0;
    int duration = 0;       // milliseconds
    bool dispose = false;   // its rectangle is cleared to transparent once it has shown
    bool blend = false;     // drawn over what is there; else it replaces its rectangle
    bool alpha = false;     // an alpha chunk, or a lossless picture that uses alpha
    qint64 at = 0, bytes = 0; // its ALPH and VP8, or VP8L, chunks, as the still decoder reads them
};

// Walks a WebP's chunks once, in order, from its RIFF header to the container's end, handing out
// one frame at a time: a still picture's only one, or each ANMF chunk's. Every reader of WebP
// structure goes through here. The first damage found stops the walk and is the one told.
class WebpWalk
{
public:
    explicit WebpWalk(const QByteArray &data);

    // The next frame; false at the end or at damage (damage() then says what).
    bool next(WebpFrame *frame);
    const QString &damage() const { return m_damage; }

    qint64 width = 0, height = 0; // the canvas
    bool animated = false;
    int plays = 1;                // 0 for ever
    int count = 0;                // frames handed out

private:
    bool wrong(const QString &why);
    bool readStill(WebpFrame *frame);
    bool readFrame(qint64 at, qint64 end, WebpFrame *frame);
    // The picture chunks from at to end: an optional ALPH, then VP8 or VP8L. Sets *after.
    bool readPicture(qint64 at, qint64 end, WebpFrame *frame, qint64 *after, const QString &what);

    QByteArray m_data;
    Bytes b;
    qint64 m_pos = 0, m_end = 0;
    bool m_extended = false, m_seenAnim = false, m_done = false;
    QString m_damage;
};

WebpWalk::WebpWalk(const QByteArray &data) : m_data(data), b(m_data)
{
    if (!riffWhole(b) || !b.startsWith(0, "RIFF", 4) || !b.startsWith(8, "WEBP", 4)) {
        wrong(cause("its RIFF container ends early"));
        return;
    }
    m_end = qint64(b.le32(4)) + 8;
    if (m_end < 20) {
        wrong(cause("its RIFF container holds no chunk"));
        return;
    }
    m_pos = 12;
    if (b.startsWith(12, "VP8X", 4)) {
        const qint64 size = b.le32(16);
        if (size < 10 || 20 + size + (size & 1) > m_end) {
            wrong(cause("its VP8X chunk holds %1 bytes").arg(size));
            return;
        }
        const quint32 flags = b.u8(20);
        if (flags & ~kKnownFlags) {
            wrong(cause("its VP8X chunk sets flags no WebP knows (%1)").arg(flags, 2, 16, QLatin1Char('0')));
            return;
        }
        m_extended = true;
        animated = flags & kAnimationFlag;
        width = 1 + qint64(le24(b, 24));
        height = 1 + qint64(le24(b, 27));
        if (width * height >= qint64(1) << 32) {
            wrong(cause("its canvas of %1 x %2 pixels is larger than a WebP may be").arg(width).arg(height));
            return;
        }
        m_pos = 20 + size + (size & 1);
    } else if (!b.startsWith(12, "VP8 ", 4) && !b.startsWith(12, "VP8L", 4)) {
        wrong(cause("its first chunk is neither a picture nor a VP8X header"));
    }
}

bool WebpWalk::wrong(const QString &why)
{
    if (m_damage.isEmpty())
        m_damage = cause("its WebP chunks are damaged or out of place: %1").arg(why);
    m_done = true;
    return false;
}

bool WebpWalk::readPicture(qint64 at, qint64 end, WebpFrame *frame, qint64 *after, const QString &what)
{
    auto chunkEnd = [&](qint64 pos, qint64 *size) {
        if (end - pos < 8)
            return qint64(-1);
        *size = b.le32(pos + 4);
        const qint64 stop = pos + 8 + *size + (*size & 1);
        return stop > end ? qint64(-1) : stop;
    };
    qint64 size = 0;
    qint64 pos = at;
    qint64 stop = chunkEnd(pos, &size);
    if (stop < 0)
        return wrong(cause("%1 is cut short").arg(what));
    frame->at = pos;
    frame->alpha = false;
    if (b.startsWith(pos, "ALPH", 4)) {
        frame->alpha = true;
        pos = stop;
        stop = chunkEnd(pos, &size);
        if (stop < 0 || !b.startsWith(pos, "VP8 ", 4))
            return wrong(cause("%1 holds an alpha chunk without a lossy picture after it").arg(what));
    } else if (!b.startsWith(pos, "VP8 ", 4) && !b.startsWith(pos, "VP8L", 4)) {
        return wrong(cause("%1 holds no picture").arg(what));
    }
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(reinterpret_cast<const uint8_t *>(m_data.constData()) + pos, size_t(stop - pos), &features) != VP8_STATUS_OK)
        return wrong(cause("%1 has a damaged picture header").arg(what));
    frame->alpha = frame->alpha || features.has_alpha;
    frame->width = features.width;
    frame->height = features.height;
    frame->bytes = stop - frame->at;
    *after = stop;
    return true;
}

bool WebpWalk::readStill(WebpFrame *frame)
{
    qint64 after = 0;
    if (!readPicture(m_pos, m_end, frame, &after, cause("its picture")))
        return false;
    if (!m_extended) {
        width = frame->width;
        height = frame->height;
        m_done = true; // a simple WebP is its picture chunk; nothing after it is read
    } else if (frame->width != width || frame->height != height) {
        return wrong(cause("its picture of %1 x %2 pixels is not its %3 x %4 canvas")
                         .arg(frame->width).arg(frame->height).arg(width).arg(height));
    }
    m_pos = after;
    return true;
}

bool WebpWalk::readFrame(qint64 at, qint64 end, WebpFrame *frame)
{
    const int number = count + 1;
    if (end - at < 16)
        return wrong(cause("its frame %1 has a header of %2 bytes").arg(number).arg(end - at));
    const int x = 2 * int(le24(b, at)), y = 2 * int(le24(b, at + 3));
    const int w = 1 + int(le24(b, at + 6)), h = 1 + int(le24(b, at + 9));
    const uchar bits = b.u8(at + 15);
    qint64 after = 0;
    if (!readPicture(at + 16, end, frame, &after, cause("its frame %1").arg(number)))
        return false;
    if (frame->width != w || frame->height != h)
        return wrong(cause("its frame %1 holds a picture of %2 x %3 pixels where it declares %4 x %5")
                         .arg(number).arg(frame->width).arg(frame->height).arg(w).arg(h));
    if (qint64(x) + w > width || qint64(y) + h > height)
        return wrong(cause("its frame %1 (%2 x %3 at %4, %5) lies outside its %6 x %7 canvas")
                         .arg(number).arg(w).arg(h).arg(x).arg(y).arg(width).arg(height));
    frame->x = x;
    frame->y = y;
    frame->duration = int(le24(b, at + 12));
    frame->dispose = bits & 1;
    frame->blend = !(bits & 2);
    return true;
}

bool WebpWalk::next(WebpFrame *frame)
{
    if (m_done)
        return false;
    if (!m_extended) {
        if (!readStill(frame))
            return false;
        ++count;
        return true;
    }
    while (m_pos < m_end) {
        if (m_end - m_pos < 8)
            return wrong(cause("it ends inside a chunk's header"));
        const qint64 at = m_pos;
        const qint64 size = b.le32(at + 4);
        const qint64 body = at + 8, stop = body + size + (size & 1);
        QString name;
        for (int i = 0; i < 4; ++i) {
            const uchar c = b.u8(at + i);
            name += c >= 0x20 && c < 0x7f ? QLatin1Char(char(c)) : QLatin1Char('?');
        }
        if (stop > m_end)
            return wrong(cause("its %1 chunk runs past the end of its container").arg(name));
        if (b.startsWith(at, "VP8X", 4))
            return wrong(cause("it holds a second VP8X chunk"));
        if (b.startsWith(at, "ALPH", 4) || b.startsWith(at, "VP8 ", 4) || b.startsWith(at, "VP8L", 4)) {
            if (animated || m_seenAnim)
                return wrong(cause("its animation holds a picture outside its frames"));
            if (count > 0)
                return wrong(cause("it holds a second picture"));
            if (!readStill(frame))
                return false;
            ++count;
            return true;
        }
        m_pos = stop;
        if (b.startsWith(at, "ANIM", 4)) {
            if (m_seenAnim)
                continue; // only the first counts
            if (size < 6)
                return wrong(cause("its ANIM chunk holds %1 bytes instead of 6").arg(size));
            m_seenAnim = true;
            plays = b.le16(body + 4);
        } else if (b.startsWith(at, "ANMF", 4)) {
            if (!m_seenAnim)
                return wrong(cause("its frame %1 comes before its ANIM chunk").arg(count + 1));
            if (!animated)
                continue; // a still picture's frames are not shown
            if (!readFrame(body, body + size, frame))
                return false;
            ++count;
            return true;
        }
    }
    m_done = true;
    if (count == 0)
        return wrong(cause("it holds no picture"));
    return false;
}

// A frame's pixel s drawn over d as libwebp's animation decoder draws it, which browsers and
// other readers of WebP use, so that a WebP shows here as there: with a and b the alphas,
// d weighs b·(256 − a)/256 and each channel is (s·a + d·weight) · ⌊2²⁴ / (a + weight)⌋ / 2²⁴,
// every step rounded down.
QRgb overAsWebp(QRgb s, QRgb d)
{
    const quint32 a = qAlpha(s);
    if (a == 255)
        return s;
    if (a == 0)
        return d;
    const quint32 weight = qAlpha(d) * (256 - a) >> 8;
    const quint32 total = a + weight, scale = (quint32(1) << 24) / total;
    auto mix = [&](quint32 cs, quint32 cd) { return int((cs * a + cd * weight) * scale >> 24); };
    return qRgba(mix(qRed(s), qRed(d)), mix(qGreen(s), qGreen(d)), mix(qBlue(s), qBlue(d)), int(total));
}

} // namespace

bool isWebp(const QByteArray &head)
{
    return head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP";
}

Header readWebp(const QByteArray &data, Header h)
{
    const Bytes b(data);
    if (!b.has(0, 16))
        return damaged(std::move(h), cause("it ends inside its header"));
    if (!riffWhole(b)) {
        h.incomplete = cause("its data ends before the %1 bytes its header declares").arg(qint64(b.le32(4)) + 8);
        return h;
    }
    WebpWalk walk(data);
    WebpFrame frame;
    while (walk.next(&frame)) {
    }
    if (!walk.damage().isEmpty())
        return damaged(std::move(h), walk.damage());
    h.width = walk.width;
    h.height = walk.height;
    h.animated = walk.animated;
    return h;
}

AnimationFrames readWebpFrames(const QByteArray &data)
{
    AnimationFrames frames;
    WebpWalk walk(data);
    WebpFrame frame;
    while (walk.next(&frame)) {
        ++frames.count;
        frames.largestWidth = std::max<qint64>(frames.largestWidth, frame.width);
        frames.largestHeight = std::max<qint64>(frames.largestHeight, frame.height);
        // Each frame shows until the next one's timestamp: its own duration.
        frames.delays.append(walk.animated ? frame.duration : 0);
    }
    frames.damage = walk.damage();
    // A loop count of n plays the animation n times; 0 for ever.
    frames.plays = walk.animated ? walk.plays : 1;
    return frames;
}

QImage decodeWebp(const QByteArray &data, const Header &h, QString *why)
{
    QImage image(int(h.width), int(h.height), QImage::Format_ARGB32);
    if (image.isNull()) {
        *why = outOfMemory();
        return {};
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
    const uint8_t *done = kArgb32 == MODE_BGRA
        ? WebPDecodeBGRAInto(bytes, size_t(data.size()), image.bits(), size_t(image.sizeInBytes()), image.bytesPerLine())
        : WebPDecodeARGBInto(bytes, size_t(data.size()), image.bits(), size_t(image.sizeInBytes()), image.bytesPerLine());
    if (!done) {
        *why = cause("its picture data cannot be decoded");
        return {};
    }
    return image;
}

struct WebpPlayer::State {
    QByteArray data;
    WebpWalk walk;
    QImage canvas;          // ARGB32, straight alpha: what the next frame is drawn on
    // The frame before, for the next one's blending: its rectangle, whether it was cleared, and
    // whether the canvas was empty before it was drawn.
    QRect before;
    bool beforeCleared = false;
    bool beforeOnEmpty = false;

    explicit State(const QByteArray &d) : data(d), walk(data) {}
};

WebpPlayer::WebpPlayer(const QByteArray &data) : m_state(std::make_unique<State>(data)) {}

WebpPlayer::~WebpPlayer() = default;

bool WebpPlayer::next(QImage *frame, QString *why)
{
    State &s = *m_state;
    WebpFrame f;
    if (!s.walk.next(&f)) {
        *why = s.walk.damage().isEmpty() ? fewerFramesThanDeclared() : s.walk.damage();
        return false;
    }
    const int number = s.walk.count;
    try {
        if (s.canvas.isNull()) {
            s.canvas = QImage(int(s.walk.width), int(s.walk.height), QImage::Format_ARGB32);
            if (s.canvas.isNull()) {
                *why = outOfMemory();
                return false;
            }
        }
        Header h;
        h.width = f.width;
        h.height = f.height;
        QString problem;
        const QImage image = decodeWebp(QByteArray::fromRawData(s.data.constData() + f.at, qsizetype(f.bytes)), h, &problem);
        if (image.isNull()) {
            *why = problem == outOfMemory() ? problem : cause("its frame %1 cannot be decoded").arg(number);
            return false;
        }
        const QRect area(f.x, f.y, f.width, f.height);
        const QRect full(0, 0, s.canvas.width(), s.canvas.height());
        // On an empty canvas the frame is taken as it is, transparent pixels' colours and all:
        // the first frame, one that covers the canvas without showing what lies beneath, and one
        // after a frame that was cleared away and left the canvas empty.
        const bool onEmpty = number == 1 || ((!f.alpha || !f.blend) && area == full)
                          || (s.beforeCleared && (s.before == full || s.beforeOnEmpty));
        if (onEmpty)
            s.canvas.fill(Qt::transparent);
        for (int y = 0; y < area.height(); ++y) {
            const auto *from = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            auto *to = reinterpret_cast<QRgb *>(s.canvas.scanLine(area.top() + y)) + area.left();
            if (!f.blend || onEmpty) {
                std::memcpy(to, from, size_t(area.width()) * 4);
                continue;
            }
            for (int x = 0; x < area.width(); ++x)
                // What the frame before cleared is taken as it is too.
                to[x] = s.beforeCleared && s.before.contains(area.left() + x, area.top() + y) ? from[x] : overAsWebp(from[x], to[x]);
        }
        *frame = frameOfScreen(s.canvas);
        if (frame->isNull()) {
            *why = outOfMemory();
            return false;
        }
        s.before = area;
        s.beforeCleared = f.dispose;
        s.beforeOnEmpty = onEmpty;
        if (f.dispose)
            for (int y = area.top(); y <= area.bottom(); ++y)
                std::fill_n(reinterpret_cast<QRgb *>(s.canvas.scanLine(y)) + area.left(), area.width(), QRgb(0));
        return true;
    } catch (const std::bad_alloc &) {
        *why = outOfMemory();
        return false;
    }
}

} // namespace picture
