#include "picture/webp.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cstring>

#include <webp/decode.h>
#include <webp/demux.h>

#include "picture/bytes.h"

namespace picture {

namespace {

QString cause(const char *text) { return QCoreApplication::translate("picture", text); }

// QImage's ARGB32 is one 32-bit word a pixel: B, G, R, A in memory on little-endian machines.
constexpr WEBP_CSP_MODE kArgb32 = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;

WebPData webpData(const QByteArray &data)
{
    return {reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size())};
}

struct DemuxDelete {
    void operator()(WebPDemuxer *demux) const { WebPDemuxDelete(demux); }
};
using Demux = std::unique_ptr<WebPDemuxer, DemuxDelete>;

// The file's chunks as libwebp reads them: null when they are not whole or not where WebP puts them.
Demux demuxOf(const QByteArray &data)
{
    const WebPData bytes = webpData(data);
    return Demux(WebPDemux(&bytes));
}

// The RIFF container must hold the bytes it declares; what follows it is not read.
bool riffWhole(const Bytes &b) { return b.has(0, 12) && qint64(b.le32(4)) + 8 <= b.size(); }

bool opaque(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return false;
    }
    return true;
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
    const Demux demux = demuxOf(data);
    if (!demux)
        return damaged(std::move(h), cause("its WebP chunks are damaged or out of place"));
    h.width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    h.height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    h.animated = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG;
    if (h.width == 0 || h.height == 0)
        return damaged(std::move(h), cause("its header declares %1 x %2 pixels").arg(h.width).arg(h.height));
    if (WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT) == 0)
        return damaged(std::move(h), cause("it holds no picture"));
    return h;
}

AnimationFrames readWebpFrames(const QByteArray &data)
{
    AnimationFrames frames;
    const Demux demux = riffWhole(Bytes(data)) ? demuxOf(data) : Demux();
    if (!demux) {
        frames.damage = cause("its WebP chunks are damaged or out of place");
        return frames;
    }
    const bool animated = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG;
    // A loop count of n plays the animation n times; 0 for ever.
    frames.plays = animated ? int(std::min<quint32>(WebPDemuxGetI(demux.get(), WEBP_FF_LOOP_COUNT), 0xffff)) : 1;
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux.get(), 1, &frame))
        return frames;
    do {
        ++frames.count;
        frames.largestWidth = std::max<qint64>(frames.largestWidth, frame.width);
        frames.largestHeight = std::max<qint64>(frames.largestHeight, frame.height);
        // Each frame shows until the next one's timestamp: its own duration.
        frames.delays.append(animated ? frame.duration : 0);
    } while (WebPDemuxNextFrame(&frame));
    WebPDemuxReleaseIterator(&frame);
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
    WebPAnimDecoder *decoder = nullptr;
    int next = 0;

    explicit State(const QByteArray &d) : data(d) {}
    ~State() { WebPAnimDecoderDelete(decoder); }
};

WebpPlayer::WebpPlayer(const QByteArray &data) : m_state(std::make_unique<State>(data)) {}

WebpPlayer::~WebpPlayer() = default;

bool WebpPlayer::next(QImage *frame, QString *why)
{
    State &s = *m_state;
    if (!s.decoder && s.next == 0) {
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options)) {
            *why = outOfMemory();
            return false;
        }
        options.color_mode = kArgb32; // straight alpha; frames blend as browsers blend them
        options.use_threads = 0;      // the same bytes whatever the machine
        const WebPData bytes = webpData(s.data);
        s.decoder = WebPAnimDecoderNew(&bytes, &options);
        if (!s.decoder) {
            *why = cause("its WebP chunks are damaged or out of place");
            return false;
        }
    }
    if (!s.decoder || !WebPAnimDecoderHasMoreFrames(s.decoder)) {
        *why = fewerFramesThanDeclared();
        return false;
    }
    ++s.next;
    WebPAnimInfo info;
    uint8_t *canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetInfo(s.decoder, &info) || !WebPAnimDecoderGetNext(s.decoder, &canvas, &timestamp)) {
        *why = cause("its frame %1 cannot be decoded").arg(s.next);
        return false;
    }
    QImage image(int(info.canvas_width), int(info.canvas_height), QImage::Format_ARGB32);
    if (image.isNull()) {
        *why = outOfMemory();
        return false;
    }
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(image.scanLine(y), canvas + size_t(y) * info.canvas_width * 4, size_t(info.canvas_width) * 4);
    *frame = opaque(image) ? image.convertToFormat(QImage::Format_RGB32) : std::move(image);
    if (frame->isNull()) {
        *why = outOfMemory();
        return false;
    }
    return true;
}

} // namespace picture
