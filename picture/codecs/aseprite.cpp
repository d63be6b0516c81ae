#include "picture/codecs/aseprite.h"

#include <QCoreApplication>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <new>

#include <zlib.h>

#include "picture/base/bytes.h"

namespace picture {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("picture", text); }

constexpr qint64 kHeaderBytes = 128;
constexpr qint64 kFrameHeaderBytes = 16;
constexpr int kLastBlendMode = 18;

enum LayerFlag { Visible = 1, Background = 8, Reference = 64 };
enum LayerType { ImageLayer = 0, GroupLayer = 1, TilemapLayer = 2 };
enum CelType { RawCel = 0, LinkedCel = 1, CompressedCel = 2, TilemapCel = 3 };

// a * b, or the largest qint64 when that overflows: sizes from the file can be absurd.
qint64 product(qint64 a, qint64 b)
{
    if (a > 0 && b > std::numeric_limits<qint64>::max() / a)
        return std::numeric_limits<qint64>::max();
    return a * b;
}

// Reads the fields of one chunk, never past its end; a read past it leaves ok() false.
class ChunkReader
{
public:
    ChunkReader(const Bytes &b, const char *base, qint64 pos, qint64 end) : m_b(b), m_base(base), m_pos(pos), m_end(end) {}
    bool ok() const { return m_ok; }
    qint64 pos() const { return m_pos; }
    qint64 left() const { return m_end - m_pos; }
    bool skip(qint64 n)
    {
        if (!m_ok || n < 0 || n > left())
            return m_ok = false;
        m_pos += n;
        return true;
    }
    uint u8() { return skip(1) ? m_b.u8(m_pos - 1) : 0; }
    uint u16() { return skip(2) ? m_b.le16(m_pos - 2) : 0; }
    int s16() { return qint16(u16()); }
    quint32 u32() { return skip(4) ? m_b.le32(m_pos - 4) : 0; }
    qint32 s32() { return qint32(u32()); }
    QString string()
    {
        const qint64 length = u16();
        const qint64 at = m_pos;
        if (!skip(length))
            return {};
        return QString::fromUtf8(m_base + at, length);
    }

private:
    const Bytes &m_b;
    const char *m_base;
    qint64 m_pos;
    qint64 m_end;
    bool m_ok = true;
};

// The walk through a file's frames and chunks.
class Walker
{
public:
    Walker(const QByteArray &data, AseDocument &doc, int frames, bool layerOpacity)
        : m_b(data), m_base(data.constData()), m_doc(doc), m_frames(frames), m_layerOpacity(layerOpacity) {}

    // The frame starting at pos, of index f; false with m_damage or m_unsupported set.
    bool frame(qint64 *pos, int f, int speed);
    // What is checked once every frame is read: layers, links, tilesets, palette, tags, slices.
    bool finish();

    QString damage;
    QString unsupported;

private:
    bool chunk(int type, ChunkReader &r, int f);
    bool layer(ChunkReader &r);
    bool cel(ChunkReader &r, int f);
    bool oldPalette(ChunkReader &r, bool sixBits);
    bool palette(ChunkReader &r);
    bool tags(ChunkReader &r);
    bool slice(ChunkReader &r);
    bool tileset(ChunkReader &r);
    bool fail(const QString &cause)
    {
        damage = cause;
        return false;
    }
    QString layerName(int index) const
    {
        return index >= 0 && index < m_doc.layers.size() ? m_doc.layers[index].name : QString::number(index);
    }

    const Bytes m_b;
    const char *m_base;
    AseDocument &m_doc;
    int m_frames;                           // as the header declares them
    bool m_layerOpacity;
    std::vector<int> m_levels;              // the last layer read at each child level
    std::vector<quint32> m_layerTilesets;   // each layer's tileset index as the file gives it
    struct Link { int frame; int layer; int target; };
    std::vector<Link> m_links;
    std::vector<std::vector<bool>> m_linked; // per frame, per cel: a link resolved later
    bool m_newPalette = false;
    std::vector<QRgb> m_oldPalette;         // 0x0004, or failing that 0x0011
    int m_oldPaletteKind = 0;
    int m_paletteSize = 0;
};

} // namespace

bool isAseprite(const QByteArray &head)
{
    const Bytes b(head);
    const uint depth = b.le16(12);
    return b.has(0, 14) && b.le16(4) == 0xa5e0 && (depth == 8 || depth == 16 || depth == 32);
}

namespace {

bool Walker::frame(qint64 *pos, int f, int speed)
{
    const qint64 start = *pos;
    if (!m_b.has(start, 1))
        return fail(fewerFramesThanDeclared());
    if (!m_b.has(start, kFrameHeaderBytes))
        return fail(frameEndsEarly(f + 1));
    const qint64 bytes = m_b.le32(start);
    if (m_b.le16(start + 4) != 0xf1fa)
        return fail(tr("its frame %1 has no frame marker").arg(f + 1));
    if (bytes < kFrameHeaderBytes)
        return fail(tr("its frame %1 declares an impossible size of %2 bytes").arg(f + 1).arg(bytes));
    if (!m_b.has(start, bytes))
        return fail(frameEndsEarly(f + 1));
    const quint32 oldCount = m_b.le16(start + 6);
    const quint32 newCount = m_b.le32(start + 12);
    const quint32 count = newCount ? newCount : oldCount;
    const int duration = m_b.le16(start + 8);
    m_doc.delays.append(duration ? duration : speed);
    m_doc.frames.emplace_back();
    m_linked.emplace_back();
    const qint64 end = start + bytes;
    qint64 at = start + kFrameHeaderBytes;
    for (quint32 k = 0; k < count; ++k) {
        if (end - at < 6)
            return fail(frameEndsEarly(f + 1));
        const qint64 size = m_b.le32(at);
        if (size < 6)
            return fail(tr("a chunk of its frame %1 has an impossible size of %2 bytes").arg(f + 1).arg(size));
        if (size > end - at)
            return fail(frameEndsEarly(f + 1));
        ChunkReader r(m_b, m_base, at + 6, at + size);
        if (!chunk(m_b.le16(at + 4), r, f))
            return false;
        at += size;
    }
    *pos = end;
    return true;
}

bool Walker::chunk(int type, ChunkReader &r, int f)
{
    bool read = true;
    switch (type) {
    case 0x0004:
    case 0x0011:
        read = oldPalette(r, type == 0x0011);
        break;
    case 0x2004:
        read = layer(r);
        break;
    case 0x2005:
        read = cel(r, f);
        break;
    case 0x2018:
        read = tags(r);
        break;
    case 0x2019:
        read = palette(r);
        break;
    case 0x2022:
        read = slice(r);
        break;
    case 0x2023:
        read = tileset(r);
        break;
    default:
        // Cel extra, colour profile, external files, mask, path, user data and chunks of later
        // versions change no pixel.
        return true;
    }
    if (!damage.isEmpty() || !unsupported.isEmpty())
        return false;
    if (!read || !r.ok())
        return fail(tr("a chunk of type 0x%1 in its frame %2 is cut short").arg(type, 4, 16, QLatin1Char('0')).arg(f + 1));
    return true;
}

bool Walker::layer(ChunkReader &r)
{
    AseLayer l;
    l.flags = int(r.u16());
    l.type = int(r.u16());
    const uint level = r.u16();
    r.skip(4);
    l.blend = int(r.u16());
    const int opacity = int(r.u8());
    l.opacity = m_layerOpacity ? opacity : 255;
    r.skip(3);
    l.name = r.string();
    quint32 tileset = 0;
    if (l.type == TilemapLayer)
        tileset = r.u32();
    if (!r.ok())
        return false;
    const int index = int(m_doc.layers.size());
    if (l.type > TilemapLayer)
        return fail(tr("its layer \"%1\" has an unknown type (%2)").arg(l.name).arg(l.type));
    if (l.blend > kLastBlendMode)
        return fail(tr("its layer \"%1\" has blend mode %2, which this program does not know").arg(l.name).arg(l.blend));
    if (level > m_levels.size() || (level > 0 && m_doc.layers[m_levels[level - 1]].type != GroupLayer))
        return fail(tr("its layer \"%1\" is a child of no group").arg(l.name));
    l.parent = level > 0 ? m_levels[level - 1] : -1;
    m_levels.resize(level);
    m_levels.push_back(index);
    m_doc.layers.append(l);
    m_layerTilesets.push_back(tileset);
    return true;
}

bool Walker::cel(ChunkReader &r, int f)
{
    AseCel c;
    c.layer = int(r.u16());
    c.x = r.s16();
    c.y = r.s16();
    c.opacity = int(r.u8());
    c.type = int(r.u16());
    r.skip(7); // z-index (layers are drawn in index order) and reserved bytes
    int target = -1;
    switch (c.type) {
    case RawCel:
    case CompressedCel:
        c.width = int(r.u16());
        c.height = int(r.u16());
        c.data = r.pos();
        c.dataBytes = r.left();
        if (c.type == RawCel) {
            c.dataBytes = qint64(c.width) * c.height * m_doc.bytesPerPixel();
            if (r.ok() && c.dataBytes > r.left())
                return fail(tr("the cel of layer \"%1\" in frame %2 holds fewer pixels than its %3 x %4")
                                .arg(layerName(c.layer)).arg(f + 1).arg(c.width).arg(c.height));
        }
        break;
    case LinkedCel:
        target = int(r.u16());
        break;
    case TilemapCel:
        c.width = int(r.u16());
        c.height = int(r.u16());
        c.tileBits = int(r.u16());
        c.idMask = r.u32();
        c.xFlipMask = r.u32();
        c.yFlipMask = r.u32();
        c.diagonalMask = r.u32();
        r.skip(10);
        c.data = r.pos();
        c.dataBytes = r.left();
        if (r.ok() && c.tileBits != 8 && c.tileBits != 16 && c.tileBits != 32)
            return fail(tr("the tilemap cel of layer \"%1\" in frame %2 has %3 bits a tile")
                            .arg(layerName(c.layer)).arg(f + 1).arg(c.tileBits));
        break;
    default:
        return fail(tr("the cel of layer \"%1\" in frame %2 has an unknown type (%3)")
                        .arg(layerName(c.layer)).arg(f + 1).arg(c.type));
    }
    if (!r.ok())
        return false;
    if (target >= 0)
        m_links.push_back({f, c.layer, target});
    m_doc.frames[size_t(f)].push_back(c);
    m_linked[size_t(f)].push_back(target >= 0);
    return true;
}

bool Walker::oldPalette(ChunkReader &r, bool sixBits)
{
    // The newer chunk wins; of the old ones, 0x0004 wins over 0x0011.
    const int kind = sixBits ? 1 : 2;
    if (m_oldPaletteKind > kind)
        return true;
    if (m_oldPaletteKind < kind)
        m_oldPalette.clear();
    m_oldPaletteKind = kind;
    const uint packets = r.u16();
    uint index = 0;
    for (uint p = 0; p < packets && r.ok(); ++p) {
        index += r.u8();
        uint count = r.u8();
        if (count == 0)
            count = 256;
        if (index + count > 256)
            return fail(tr("its old palette runs past 256 colours"));
        if (m_oldPalette.size() < index + count)
            m_oldPalette.resize(index + count, qRgba(0, 0, 0, 255));
        for (uint k = 0; k < count && r.ok(); ++k, ++index) {
            int rgb[3];
            for (int &v : rgb) {
                v = int(r.u8());
                if (sixBits) // 0..63, rounded to the nearest of 0..255
                    v = std::min(255, (v * 255 * 2 + 63) / 126);
            }
            m_oldPalette[index] = qRgba(rgb[0], rgb[1], rgb[2], 255);
        }
    }
    return r.ok();
}

bool Walker::palette(ChunkReader &r)
{
    const quint32 size = r.u32();
    const quint32 first = r.u32();
    const quint32 last = r.u32();
    r.skip(8);
    if (!r.ok())
        return false;
    if (first > last || last >= size || size > (1u << 24))
        return fail(tr("its palette sets colours %1 to %2 of %3").arg(first).arg(last).arg(size));
    m_newPalette = true;
    m_paletteSize = int(size);
    // Only the first 256 entries can be told by an index.
    m_doc.palette.resize(std::min<quint32>(size, 256), qRgba(0, 0, 0, 255));
    for (quint32 i = first; i <= last && r.ok(); ++i) {
        const uint flags = r.u16();
        const uint red = r.u8(), green = r.u8(), blue = r.u8(), alpha = r.u8();
        if (flags & 1)
            r.string();
        if (i < m_doc.palette.size())
            m_doc.palette[i] = qRgba(int(red), int(green), int(blue), int(alpha));
    }
    return r.ok();
}

bool Walker::tags(ChunkReader &r)
{
    const uint count = r.u16();
    r.skip(8);
    for (uint k = 0; k < count && r.ok(); ++k) {
        SpriteTag tag;
        tag.from = int(r.u16());
        tag.to = int(r.u16());
        const uint direction = r.u8();
        tag.repeat = int(r.u16());
        r.skip(6 + 3 + 1);
        tag.name = r.string();
        if (!r.ok())
            return false;
        if (direction > 3)
            return fail(tr("its tag \"%1\" has an unknown direction (%2)").arg(tag.name).arg(direction));
        tag.direction = SpriteTag::Direction(direction);
        if (tag.from > tag.to || tag.to >= m_frames)
            return fail(tr("its tag \"%1\" runs from frame %2 to frame %3").arg(tag.name).arg(tag.from).arg(tag.to));
        m_doc.facts.tags.append(tag);
    }
    return r.ok();
}

bool Walker::slice(ChunkReader &r)
{
    const quint32 keys = r.u32();
    const quint32 flags = r.u32();
    r.skip(4);
    SpriteSlice slice;
    slice.name = r.string();
    // Coordinates far beyond any canvas would overflow a rectangle's edges.
    constexpr qint64 far = qint64(1) << 30;
    const auto rect = [&](qint64 x, qint64 y, qint64 w, qint64 h, std::optional<QRect> *out) {
        if (std::abs(x) > far || std::abs(y) > far || w > far || h > far)
            return false;
        *out = QRect(int(x), int(y), int(w), int(h));
        return true;
    };
    for (quint32 k = 0; k < keys && r.ok(); ++k) {
        SpriteSliceKey key;
        const quint32 frame = r.u32();
        const qint64 x = r.s32(), y = r.s32(), w = r.u32(), h = r.u32();
        std::optional<QRect> bounds;
        bool sane = rect(x, y, w, h, &bounds);
        if (flags & 1) {
            const qint64 cx = r.s32(), cy = r.s32(), cw = r.u32(), ch = r.u32();
            sane = sane && rect(cx, cy, cw, ch, &key.center);
        }
        if (flags & 2) {
            const qint64 px = r.s32(), py = r.s32();
            sane = sane && std::abs(px) <= far && std::abs(py) <= far;
            key.pivot = QPoint(int(px), int(py));
        }
        if (!r.ok())
            return false;
        const bool inOrder = frame < quint32(m_frames) && (slice.keys.isEmpty() || int(frame) > slice.keys.last().frame);
        if (!sane || !inOrder)
            return fail(tr("its slice \"%1\" has a key it cannot hold").arg(slice.name));
        key.frame = int(frame);
        key.bounds = *bounds;
        slice.keys.append(key);
    }
    if (r.ok())
        m_doc.facts.slices.append(slice);
    return r.ok();
}

bool Walker::tileset(ChunkReader &r)
{
    AseTileset t;
    t.id = r.u32();
    const quint32 flags = r.u32();
    const quint32 count = r.u32();
    t.tileWidth = int(r.u16());
    t.tileHeight = int(r.u16());
    r.skip(2 + 14);
    r.string();
    if (flags & 1)
        r.skip(8);
    if (!r.ok())
        return false;
    if (!(flags & 2)) {
        unsupported = flags & 1 ? tr("an Aseprite file whose tileset %1 is kept in another file, which this program "
                                     "cannot read").arg(t.id)
                                : tr("an Aseprite file whose tileset %1 holds no tiles").arg(t.id);
        return false;
    }
    const qint64 compressed = r.u32();
    t.data = r.pos();
    t.dataBytes = compressed;
    if (!r.skip(compressed))
        return false;
    if (count > quint32(std::numeric_limits<int>::max()))
        return fail(tr("its tileset %1 declares %2 tiles").arg(t.id).arg(count));
    t.count = int(count);
    for (const AseTileset &other : m_doc.tilesets)
        if (other.id == t.id)
            return fail(tr("it has two tilesets of number %1").arg(t.id));
    const qint64 height = qint64(t.tileHeight) * t.count;
    m_doc.largestTilesetWidth = std::max<qint64>(m_doc.largestTilesetWidth, t.tileWidth);
    m_doc.largestTilesetHeight = std::max(m_doc.largestTilesetHeight, height);
    m_doc.tilesetBytes = std::min(product(product(t.tileWidth, height), m_doc.bytesPerPixel()) + m_doc.tilesetBytes,
                                  std::numeric_limits<qint64>::max() / 4);
    m_doc.tilesets.push_back(t);
    return true;
}

bool Walker::finish()
{
    const int layers = int(m_doc.layers.size());
    for (int i = 0; i < layers; ++i) {
        AseLayer &l = m_doc.layers[i];
        bool shown = (l.type == ImageLayer || l.type == TilemapLayer) && (l.flags & Visible) && !(l.flags & Reference);
        for (int p = l.parent; p >= 0 && shown; p = m_doc.layers[p].parent)
            shown = m_doc.layers[p].flags & Visible;
        l.shown = shown;
        if (l.type == TilemapLayer) {
            const auto found = std::find_if(m_doc.tilesets.begin(), m_doc.tilesets.end(),
                                            [&](const AseTileset &t) { return t.id == m_layerTilesets[size_t(i)]; });
            if (found == m_doc.tilesets.end())
                return fail(tr("its layer \"%1\" uses tileset %2, which it does not hold").arg(l.name).arg(m_layerTilesets[size_t(i)]));
            l.tileset = int(found - m_doc.tilesets.begin());
        }
        if (l.type != GroupLayer)
            m_doc.facts.layers.append({l.name, i, l.shown});
    }
    for (size_t f = 0; f < m_doc.frames.size(); ++f) {
        std::vector<AseCel> &cels = m_doc.frames[f];
        std::vector<bool> seen(size_t(layers), false);
        for (size_t k = 0; k < cels.size(); ++k) {
            const AseCel &c = cels[k];
            if (c.layer >= layers)
                return fail(tr("a cel of its frame %1 is on layer %2, which it does not have").arg(f + 1).arg(c.layer));
            const AseLayer &l = m_doc.layers[c.layer];
            if (seen[size_t(c.layer)])
                return fail(tr("its frame %1 has two cels on layer \"%2\"").arg(f + 1).arg(l.name));
            seen[size_t(c.layer)] = true;
            const bool linked = m_linked[f][k];
            if (l.type == GroupLayer || (!linked && (l.type == TilemapLayer) != (c.type == TilemapCel)))
                return fail(tr("the cel of layer \"%1\" in frame %2 is of a kind the layer cannot hold").arg(l.name).arg(f + 1));
        }
    }
    // Links, in frame order: each must name an earlier frame's own cel on its layer.
    for (const Link &link : m_links) {
        std::vector<AseCel> &cels = m_doc.frames[size_t(link.frame)];
        const auto at = [&](int frame) {
            const std::vector<AseCel> &in = m_doc.frames[size_t(frame)];
            return std::find_if(in.begin(), in.end(), [&](const AseCel &c) { return c.layer == link.layer; }) - in.begin();
        };
        const qint64 self = at(link.frame);
        const QString cause = tr("the cel of layer \"%1\" in frame %2 links to frame %3, ")
                                  .arg(layerName(link.layer)).arg(link.frame + 1).arg(link.target + 1);
        if (link.target >= link.frame)
            return fail(cause + tr("which does not come before it"));
        const qint64 target = at(link.target);
        const std::vector<AseCel> &from = m_doc.frames[size_t(link.target)];
        if (target >= qint64(from.size()))
            return fail(cause + tr("which has no cel on that layer"));
        if (m_linked[size_t(link.target)][size_t(target)])
            return fail(cause + tr("which is a link itself"));
        cels[size_t(self)] = from[size_t(target)];
    }
    for (std::vector<AseCel> &cels : m_doc.frames) {
        std::stable_sort(cels.begin(), cels.end(), [](const AseCel &a, const AseCel &b) { return a.layer < b.layer; });
        for (const AseCel &c : cels) {
            const int unit = c.type == TilemapCel ? c.tileBits / 8 : m_doc.bytesPerPixel();
            m_doc.largestCelWidth = std::max<qint64>(m_doc.largestCelWidth, c.width);
            m_doc.largestCelHeight = std::max<qint64>(m_doc.largestCelHeight, c.height);
            m_doc.largestCelBytes = std::max(m_doc.largestCelBytes, qint64(c.width) * c.height * unit);
        }
    }
    if (!m_newPalette) {
        m_doc.palette = m_oldPalette;
        m_paletteSize = int(m_oldPalette.size());
    }
    m_doc.palette.resize(std::min(m_paletteSize, 256), qRgba(0, 0, 0, 255));
    m_doc.paletteSize = m_paletteSize;
    return true;
}

} // namespace

Header readAseprite(const QByteArray &data, Header h)
{
    const Bytes b(data);
    if (!b.has(0, kHeaderBytes))
        return damaged(h, tr("it ends inside its header"));
    const qint64 fileSize = b.le32(0);
    const int frames = b.le16(6);
    h.width = b.le16(8);
    h.height = b.le16(10);
    if (h.width == 0 || h.height == 0)
        return damaged(h, tr("its header declares %1 x %2 pixels").arg(h.width).arg(h.height));
    if (frames == 0)
        return damaged(h, tr("it declares no frames"));
    auto doc = std::make_shared<AseDocument>();
    doc->width = int(h.width);
    doc->height = int(h.height);
    doc->depth = b.le16(12);
    doc->transparentIndex = b.u8(28);
    const int speed = b.le16(18);
    Walker walker(data, *doc, frames, b.le32(14) & 1);
    doc->delays.reserve(frames);
    qint64 pos = kHeaderBytes;
    for (int f = 0; f < frames; ++f) {
        if (!walker.frame(&pos, f, speed))
            break;
    }
    if (walker.damage.isEmpty() && walker.unsupported.isEmpty())
        walker.finish();
    if (!walker.unsupported.isEmpty()) {
        h.error = LoadError::NotAPicture;
        h.cause = walker.unsupported;
        return h;
    }
    if (walker.damage.isEmpty() && fileSize > b.size())
        walker.damage = endsEarly();
    h.incomplete = walker.damage;
    if (walker.damage.isEmpty())
        h.aseprite = std::move(doc);
    return h;
}

AnimationFrames asepriteFrames(const AseDocument &document)
{
    AnimationFrames frames;
    frames.count = int(document.frames.size());
    frames.largestWidth = document.width;
    frames.largestHeight = document.height;
    frames.delays = document.delays;
    frames.plays = 0;
    return frames;
}

namespace {

enum class Inflated { Exactly, More, Fewer, Damaged, NoMemory };

// The zlib stream at in inflated into exactly size bytes at out. Inflating stops one byte past
// size, so a stream that would give far more costs no more than its cel's own size.
Inflated inflateExactly(const uchar *in, qint64 inBytes, uchar *out, qint64 size)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return Inflated::NoMemory;
    constexpr qint64 piece = qint64(1) << 30; // zlib counts in 32 bits
    qint64 inLeft = inBytes, outLeft = size;
    uchar spare = 0;
    bool full = false;
    Inflated result = Inflated::Damaged;
    for (;;) {
        if (z.avail_in == 0 && inLeft > 0) {
            const qint64 n = std::min(inLeft, piece);
            z.next_in = const_cast<uchar *>(in);
            z.avail_in = uInt(n);
            in += n;
            inLeft -= n;
        }
        if (z.avail_out == 0) {
            if (outLeft > 0) {
                const qint64 n = std::min(outLeft, piece);
                z.next_out = out;
                z.avail_out = uInt(n);
                out += n;
                outLeft -= n;
            } else if (!full) {
                full = true;
                z.next_out = &spare;
                z.avail_out = 1;
            } else {
                result = Inflated::More;
                break;
            }
        }
        const int r = inflate(&z, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            if (full)
                result = z.avail_out == 1 ? Inflated::Exactly : Inflated::More;
            else
                result = outLeft == 0 && z.avail_out == 0 ? Inflated::Exactly : Inflated::Fewer;
            break;
        }
        if (r == Z_MEM_ERROR) {
            result = Inflated::NoMemory;
            break;
        }
        if (r == Z_BUF_ERROR && z.avail_in == 0 && inLeft == 0)
            break; // the stream stops before its end
        if (r != Z_OK && r != Z_BUF_ERROR)
            break;
    }
    inflateEnd(&z);
    return result;
}

// Bytes of a picture or tilemap, in the file or inflated.
struct Pixels {
    std::unique_ptr<uchar[]> owned;
    const uchar *data = nullptr;
};

// The W3C's separable blend functions, written as the W3C writes them so that the sums are made
// in the same order as every other composer of these rules makes them.
double multiply(double cb, double cs) { return cb * cs; }
double screen(double cb, double cs) { return cb + cs - cb * cs; }
double hardLight(double cb, double cs) { return cs <= 0.5 ? multiply(cb, 2 * cs) : screen(cb, 2 * cs - 1); }

double separable(int mode, double cb, double cs)
{
    switch (mode) {
    case 1: return multiply(cb, cs);
    case 2: return screen(cb, cs);
    case 3: return hardLight(cs, cb);
    case 4: return std::min(cb, cs);
    case 5: return std::max(cb, cs);
    case 6:
        if (cb == 0)
            return 0;
        if (cs == 1)
            return 1;
        return std::min(1.0, cb / (1 - cs));
    case 7:
        if (cb == 1)
            return 1;
        if (cs == 0)
            return 0;
        return 1 - std::min(1.0, (1 - cb) / cs);
    case 8: return hardLight(cb, cs);
    case 9: {
        if (cs <= 0.5)
            return cb - (1 - 2 * cs) * cb * (1 - cb);
        const double d = cb <= 0.25 ? ((16 * cb - 12) * cb + 4) * cb : std::sqrt(cb);
        return cb + (2 * cs - 1) * (d - cb);
    }
    case 10: return std::abs(cb - cs);
    case 11: return cb + cs - 2 * cb * cs;
    case 16: return std::min(1.0, cb + cs);
    case 17: return std::max(0.0, cb - cs);
    case 18:
        if (cs == 0)
            return cb == 0 ? 0 : 1;
        return std::min(1.0, cb / cs);
    default: return cs;
    }
}

using Colour = std::array<double, 3>;

double lum(const Colour &c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; }

Colour clipColour(Colour c)
{
    const double l = lum(c);
    const double n = std::min({c[0], c[1], c[2]});
    const double x = std::max({c[0], c[1], c[2]});
    if (n < 0)
        for (double &v : c)
            v = l + (((v - l) * l) / (l - n));
    if (x > 1)
        for (double &v : c)
            v = l + (((v - l) * (1 - l)) / (x - l));
    return c;
}

Colour setLum(Colour c, double l)
{
    const double d = l - lum(c);
    for (double &v : c)
        v = v + d;
    return clipColour(c);
}

double sat(const Colour &c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }

Colour setSat(Colour c, double s)
{
    // Smallest to largest; equal channels keep their order, red first.
    std::array<int, 3> order{0, 1, 2};
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return c[size_t(a)] < c[size_t(b)]; });
    double &cmin = c[size_t(order[0])], &cmid = c[size_t(order[1])], &cmax = c[size_t(order[2])];
    if (cmax > cmin) {
        cmid = (((cmid - cmin) * s) / (cmax - cmin));
        cmax = s;
    } else {
        cmid = cmax = 0;
    }
    cmin = 0;
    return c;
}

Colour blend(int mode, const Colour &cb, const Colour &cs)
{
    switch (mode) {
    case 12: return setLum(setSat(cs, sat(cb)), lum(cb));
    case 13: return setLum(setSat(cb, sat(cs)), lum(cb));
    case 14: return setLum(cs, lum(cb));
    case 15: return setLum(cb, lum(cs));
    default: return {separable(mode, cb[0], cs[0]), separable(mode, cb[1], cs[1]), separable(mode, cb[2], cs[2])};
    }
}

uint stored(double v) { return uint(std::clamp(std::floor(v * 255 + 0.5), 0.0, 255.0)); }

} // namespace

struct AsepritePlayer::State {
    QByteArray data;
    std::shared_ptr<const AseDocument> doc;
    int onlyLayer = -1;
    int next = 0;
    std::vector<Pixels> tilesets; // inflated on first use

    QString celName(const AseCel &c, int frame) const
    {
        return tr("the cel of layer \"%1\" in frame %2").arg(doc->layers[c.layer].name).arg(frame + 1);
    }
    bool pixelsOf(const uchar *from, qint64 fromBytes, qint64 size, Pixels *out, const QString &what, QString *cause) const;
    bool tileset(int index, QString *cause);
    bool compose(int frame, QImage *image, QString *cause);
    bool drawImage(QImage &canvas, const AseCel &c, int frame, QString *cause);
    bool drawTilemap(QImage &canvas, const AseCel &c, int frame, QString *cause);
    // A source pixel as straight RGBA by rule of the sprite's depth; transparent index honoured.
    QRgb pixel(const uchar *p, bool background) const
    {
        switch (doc->depth) {
        case 32: return qRgba(p[0], p[1], p[2], p[3]);
        case 16: return qRgba(p[0], p[0], p[0], p[1]);
        default:
            if (!background && p[0] == doc->transparentIndex)
                return 0;
            return doc->palette[p[0]];
        }
    }
    // Whether the indexed pixels [p, p + count) all lie within the palette, the transparent
    // index too.
    bool inPalette(const uchar *p, qint64 count, int *outside) const
    {
        if (doc->depth != 8)
            return true;
        for (qint64 i = 0; i < count; ++i)
            if (p[i] >= doc->paletteSize) {
                *outside = p[i];
                return false;
            }
        return true;
    }
    // What a source pixel's alpha becomes with its cel's, its layer's and its groups' opacity,
    // for every alpha: multiplied in that order, as the rules write it.
    using SourceAlphas = std::array<double, 256>;
    void put(QRgb &d, QRgb s, int mode, const SourceAlphas &alphas) const;
    SourceAlphas alphas(const AseCel &c) const;
};

bool AsepritePlayer::State::pixelsOf(const uchar *from, qint64 fromBytes, qint64 size, Pixels *out, const QString &what,
                                     QString *cause) const
{
    out->owned.reset(new (std::nothrow) uchar[size_t(std::max<qint64>(size, 1))]);
    if (!out->owned) {
        *cause = outOfMemory();
        return false;
    }
    out->data = out->owned.get();
    switch (inflateExactly(from, fromBytes, out->owned.get(), size)) {
    case Inflated::Exactly:
        return true;
    case Inflated::More:
        *cause = tr("%1 inflates to more than its %2 bytes").arg(what).arg(size);
        return false;
    case Inflated::Fewer:
        *cause = tr("%1 inflates to fewer than its %2 bytes").arg(what).arg(size);
        return false;
    case Inflated::NoMemory:
        *cause = outOfMemory();
        return false;
    case Inflated::Damaged:
        break;
    }
    *cause = tr("%1 has damaged compressed data").arg(what);
    return false;
}

bool AsepritePlayer::State::tileset(int index, QString *cause)
{
    if (tilesets.empty())
        tilesets.resize(doc->tilesets.size());
    Pixels &p = tilesets[size_t(index)];
    if (p.data)
        return true;
    const AseTileset &t = doc->tilesets[size_t(index)];
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint64 size = qint64(t.tileWidth) * t.tileHeight * t.count * doc->bytesPerPixel();
    const QString what = tr("its tileset %1").arg(t.id);
    if (!pixelsOf(bytes + t.data, t.dataBytes, size, &p, what, cause))
        return false;
    int outside = 0;
    if (!inPalette(p.data, size, &outside)) {
        *cause = tr("%1 uses colour %2 of a palette of %3").arg(what).arg(outside).arg(doc->paletteSize);
        p = {};
        return false;
    }
    return true;
}

AsepritePlayer::State::SourceAlphas AsepritePlayer::State::alphas(const AseCel &c) const
{
    std::vector<double> factors{c.opacity / 255.0};
    for (int l = c.layer; l >= 0; l = doc->layers[l].parent)
        factors.push_back(doc->layers[l].opacity / 255.0);
    SourceAlphas table;
    for (int a = 0; a < 256; ++a) {
        double as = a / 255.0;
        for (double f : factors)
            as = as * f;
        table[size_t(a)] = as;
    }
    return table;
}

void AsepritePlayer::State::put(QRgb &d, QRgb s, int mode, const SourceAlphas &alphas) const
{
    const double as = alphas[size_t(qAlpha(s))];
    if (as == 0) // the backdrop stays as it is
        return;
    // Over a transparent backdrop, or wholly opaque in normal mode, the formula gives the source's
    // own colour to well within the rounding: taken as it is.
    if (qAlpha(d) == 0 || (as == 1 && mode == 0)) {
        const uint alpha = stored(as);
        d = alpha == 0 ? 0 : qRgba(qRed(s), qGreen(s), qBlue(s), int(alpha));
        return;
    }
    const double ab = qAlpha(d) / 255.0;
    const Colour cb{qRed(d) / 255.0, qGreen(d) / 255.0, qBlue(d) / 255.0};
    const Colour cs{qRed(s) / 255.0, qGreen(s) / 255.0, qBlue(s) / 255.0};
    const Colour b = blend(mode, cb, cs);
    const double ao = as + ab * (1 - as);
    uint out[3];
    for (size_t k = 0; k < 3; ++k) {
        const double co = as * (1 - ab) * cs[k] + as * ab * b[k] + (1 - as) * ab * cb[k];
        out[k] = stored(ao == 0 ? 0 : co / ao);
    }
    const uint alpha = stored(ao);
    d = alpha == 0 ? 0 : qRgba(int(out[0]), int(out[1]), int(out[2]), int(alpha));
}

bool AsepritePlayer::State::drawImage(QImage &canvas, const AseCel &c, int frame, QString *cause)
{
    const AseLayer &layer = doc->layers[c.layer];
    const bool background = layer.flags & Background;
    const int unit = doc->bytesPerPixel();
    const qint64 size = qint64(c.width) * c.height * unit;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    Pixels pixels;
    if (c.type == RawCel)
        pixels.data = bytes + c.data;
    else if (!pixelsOf(bytes + c.data, c.dataBytes, size, &pixels, celName(c, frame), cause))
        return false;
    int outside = 0;
    if (!inPalette(pixels.data, size, &outside)) {
        *cause = tr("%1 uses colour %2 of a palette of %3").arg(celName(c, frame)).arg(outside).arg(doc->paletteSize);
        return false;
    }
    const SourceAlphas factors = alphas(c);
    const int x0 = std::max(0, c.x), x1 = std::min(doc->width, c.x + c.width);
    const int y0 = std::max(0, c.y), y1 = std::min(doc->height, c.y + c.height);
    for (int y = y0; y < y1; ++y) {
        const uchar *row = pixels.data + (qint64(y - c.y) * c.width) * unit;
        QRgb *out = reinterpret_cast<QRgb *>(canvas.scanLine(y));
        for (int x = x0; x < x1; ++x)
            put(out[x], pixel(row + qint64(x - c.x) * unit, background), layer.blend, factors);
    }
    return true;
}

bool AsepritePlayer::State::drawTilemap(QImage &canvas, const AseCel &c, int frame, QString *cause)
{
    const AseLayer &layer = doc->layers[c.layer];
    const AseTileset &t = doc->tilesets[size_t(layer.tileset)];
    const bool background = layer.flags & Background;
    const int unit = c.tileBits / 8;
    const qint64 count = qint64(c.width) * c.height;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    Pixels tiles;
    if (!pixelsOf(bytes + c.data, c.dataBytes, count * unit, &tiles, celName(c, frame), cause) || !tileset(layer.tileset, cause))
        return false;
    const uchar *set = tilesets[size_t(layer.tileset)].data;
    const int tw = t.tileWidth, th = t.tileHeight, pixelUnit = doc->bytesPerPixel();
    const qint64 tileBytes = qint64(tw) * th * pixelUnit;
    const auto tileAt = [&](qint64 i) -> quint32 {
        const uchar *p = tiles.data + i * unit;
        return unit == 1 ? p[0] : unit == 2 ? quint32(p[0] | p[1] << 8) : qFromLittleEndian<quint32>(p);
    };
    // Every tile is checked, also those off the canvas: the outcome does not hang on the canvas.
    for (qint64 i = 0; i < count; ++i) {
        const quint32 v = tileAt(i);
        const quint32 id = v & c.idMask;
        if (id == 0)
            continue;
        if (id >= quint32(t.count)) {
            *cause = tr("%1 uses tile %2 of a tileset of %3").arg(celName(c, frame)).arg(id).arg(t.count);
            return false;
        }
        if ((v & c.diagonalMask) && tw != th) {
            *cause = tr("%1 turns a tile of %2 x %3 pixels on its diagonal").arg(celName(c, frame)).arg(tw).arg(th);
            return false;
        }
    }
    if (tw == 0 || th == 0)
        return true;
    const SourceAlphas factors = alphas(c);
    // Only the tiles that reach the canvas are drawn.
    const qint64 col0 = c.x < 0 ? -c.x / tw : 0;
    const qint64 row0 = c.y < 0 ? -c.y / th : 0;
    for (qint64 row = row0; row < c.height && c.y + row * th < doc->height; ++row) {
        for (qint64 col = col0; col < c.width && c.x + col * tw < doc->width; ++col) {
            const quint32 v = tileAt(row * c.width + col);
            const quint32 id = v & c.idMask;
            if (id == 0)
                continue;
            const bool diagonal = v & c.diagonalMask, xFlip = v & c.xFlipMask, yFlip = v & c.yFlipMask;
            const uchar *tile = set + id * tileBytes;
            const qint64 left = c.x + col * tw, top = c.y + row * th;
            for (int y = 0; y < th; ++y) {
                if (top + y < 0 || top + y >= doc->height)
                    continue;
                for (int x = 0; x < tw; ++x) {
                    if (left + x < 0 || left + x >= doc->width)
                        continue;
                    int sx = x, sy = y;
                    if (diagonal)
                        std::swap(sx, sy);
                    if (xFlip)
                        sx = tw - 1 - sx;
                    if (yFlip)
                        sy = th - 1 - sy;
                    put(reinterpret_cast<QRgb *>(canvas.scanLine(int(top + y)))[left + x],
                        pixel(tile + (qint64(sy) * tw + sx) * pixelUnit, background), layer.blend, factors);
                }
            }
        }
    }
    return true;
}

bool AsepritePlayer::State::compose(int frame, QImage *image, QString *cause)
{
    QImage canvas(doc->width, doc->height, QImage::Format_ARGB32);
    if (canvas.isNull()) {
        *cause = outOfMemory();
        return false;
    }
    canvas.fill(0);
    for (const AseCel &c : doc->frames[size_t(frame)]) {
        if (onlyLayer >= 0 ? c.layer != onlyLayer : !doc->layers[c.layer].shown)
            continue;
        if (c.width == 0 || c.height == 0)
            continue;
        if (!(c.type == TilemapCel ? drawTilemap(canvas, c, frame, cause) : drawImage(canvas, c, frame, cause)))
            return false;
    }
    bool opaque = true;
    for (int y = 0; y < canvas.height() && opaque; ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        for (int x = 0; x < canvas.width() && opaque; ++x)
            opaque = qAlpha(row[x]) == 255;
    }
    if (opaque) {
        canvas.reinterpretAsFormat(QImage::Format_RGB32);
    }
    *image = std::move(canvas);
    return true;
}

AsepritePlayer::AsepritePlayer(const QByteArray &data, std::shared_ptr<const AseDocument> document, int onlyLayer)
    : m_state(std::make_unique<State>())
{
    m_state->data = data;
    m_state->doc = std::move(document);
    m_state->onlyLayer = onlyLayer;
}

AsepritePlayer::~AsepritePlayer() = default;

bool AsepritePlayer::next(QImage *frame, QString *cause)
{
    if (!m_state->doc || m_state->next >= int(m_state->doc->frames.size())) {
        *cause = fewerFramesThanDeclared();
        return false;
    }
    if (!m_state->compose(m_state->next, frame, cause))
        return false;
    ++m_state->next;
    return true;
}

} // namespace picture
