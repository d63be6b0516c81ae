#include "picture/codecs/pngwriter.h"

#include <QCoreApplication>

#include <libdeflate.h>
#include <zlib.h>
#include <zopfli/deflate.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "picture/base/nativepath.h"
#include "picture/base/savefile.h"
#include "picture/base/threads.h"

#include <unistd.h>

namespace picture {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("picture", text); }

// The part of the uncompressed stream that deflate can refer back to.
constexpr size_t kWindow = 32768;

// Filtered bytes a chunk aims at: large enough that the flush between chunks costs nothing
// measurable, small enough that a band of a few megabytes gives every core several.
constexpr size_t kChunkBytes = 512 * 1024;

void put32(uchar *p, quint32 v)
{
    p[0] = uchar(v >> 24);
    p[1] = uchar(v >> 16);
    p[2] = uchar(v >> 8);
    p[3] = uchar(v);
}

quint32 rgbaAt(const uchar *p)
{
    quint32 v;
    std::memcpy(&v, p, 4);
    return v;
}

QRgb toQRgb(quint32 bytes)
{
    uchar p[4];
    std::memcpy(p, &bytes, 4);
    return qRgba(p[0], p[1], p[2], p[3]);
}

// Up to 256 distinct RGBA values (as the four bytes lie in memory), found and looked up in a
// small open-addressed table.
class ColourTable
{
public:
    static constexpr int kMost = 256;

    // The index of value, added when new; -1 once more than kMost would be needed.
    int indexOf(quint32 value)
    {
        for (quint32 slot = hash(value);; slot = (slot + 1) & (kSlots - 1)) {
            if (!m_used[slot]) {
                if (m_count == kMost)
                    return -1;
                m_used[slot] = true;
                m_keys[slot] = value;
                m_values[slot] = uchar(m_count);
                m_order[size_t(m_count)] = value;
                return m_count++;
            }
            if (m_keys[slot] == value)
                return m_values[slot];
        }
    }
    // The index of a value known to be there.
    int find(quint32 value) const
    {
        for (quint32 slot = hash(value);; slot = (slot + 1) & (kSlots - 1))
            if (!m_used[slot] || m_keys[slot] == value)
                return m_used[slot] ? m_values[slot] : 0;
    }
    int count() const { return m_count; }
    quint32 at(int i) const { return m_order[size_t(i)]; }

private:
    static constexpr quint32 kSlots = 1024;
    static quint32 hash(quint32 v) { return (v * 2654435761u) >> 22; }

    std::array<bool, kSlots> m_used{};
    std::array<quint32, kSlots> m_keys{};
    std::array<uchar, kSlots> m_values{};
    std::array<quint32, kMost> m_order{};
    int m_count = 0;
};

// How a chunk's rows are filtered: one filter type for all, or each row's own choice by the
// smallest sum of absolute differences.
enum class Choice { None, Sub, Up, Average, Paeth, Adaptive };

void paethTail(const uchar *row, const uchar *prev, uchar *out, size_t bpp, size_t n);

// Filters row into out (without the type byte); prev is the row above, zeros at the top.
void filterRow(int type, const uchar *row, const uchar *prev, uchar *out, size_t n, size_t bpp)
{
    switch (type) {
    case 0:
        std::memcpy(out, row, n);
        break;
    case 1:
        std::memcpy(out, row, std::min(bpp, n));
        for (size_t i = bpp; i < n; ++i)
            out[i] = uchar(row[i] - row[i - bpp]);
        break;
    case 2:
        for (size_t i = 0; i < n; ++i)
            out[i] = uchar(row[i] - prev[i]);
        break;
    case 3:
        for (size_t i = 0; i < std::min(bpp, n); ++i)
            out[i] = uchar(row[i] - (prev[i] >> 1));
        for (size_t i = bpp; i < n; ++i)
            out[i] = uchar(row[i] - ((row[i - bpp] + prev[i]) >> 1));
        break;
    default:
        for (size_t i = 0; i < std::min(bpp, n); ++i)
            out[i] = uchar(row[i] - prev[i]);
        paethTail(row, prev, out, bpp, n);
        break;
    }
}

// Paeth from byte bpp on, eight bytes at a time where the processor allows: the scalar loop
// took a third of a photograph's encoding time.
void paethTail(const uchar *row, const uchar *prev, uchar *out, size_t bpp, size_t n)
{
    size_t i = bpp;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    auto load = [&](const uchar *p) { return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero); };
    auto magnitude = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
    for (; i + 8 <= n; i += 8) {
        const __m128i a = load(row + i - bpp), b = load(prev + i), c = load(prev + i - bpp);
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        const __m128i pa = magnitude(bc), pb = magnitude(ac), pc = magnitude(_mm_add_epi16(bc, ac));
        // a where pa <= pb and pa <= pc, else b where pb <= pc, else c.
        const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
        const __m128i notB = _mm_cmpgt_epi16(pb, pc);
        const __m128i bOrC = _mm_or_si128(_mm_andnot_si128(notB, b), _mm_and_si128(notB, c));
        const __m128i p = _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
        const __m128i x = load(row + i);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(_mm_and_si128(_mm_sub_epi16(x, p), _mm_set1_epi16(0xff)), zero));
    }
#endif
    for (; i < n; ++i) {
        const int a = row[i - bpp], b = prev[i], c = prev[i - bpp];
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int p = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        out[i] = uchar(row[i] - p);
    }
}

size_t absoluteSum(const uchar *p, size_t n)
{
    size_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += size_t(std::abs(int(qint8(p[i]))));
    return sum;
}

// How a chunk is deflated: zlib's level and strategy.
struct Deflation {
    int level = 6;
    int strategy = Z_DEFAULT_STRATEGY;
};

// Deflates size bytes from in, appended to out, as raw deflate primed with dictionary, ended by
// a sync flush (a chunk that others follow) or as the stream's end. Z_OK, or zlib's error.
int deflateChunk(const uchar *in, size_t size, const uchar *dictionary, size_t dictionaryBytes, Deflation how,
                 bool last, std::vector<uchar> &out)
{
    z_stream z{};
    int status = deflateInit2(&z, how.level, Z_DEFLATED, -15, 9, how.strategy);
    if (status != Z_OK)
        return status;
    if (dictionaryBytes)
        status = deflateSetDictionary(&z, dictionary, uInt(dictionaryBytes));
    const size_t start = out.size();
    try {
        out.resize(start + deflateBound(&z, uLong(size)) + 64);
    } catch (const std::bad_alloc &) {
        deflateEnd(&z);
        return Z_MEM_ERROR;
    }
    z.next_in = const_cast<uchar *>(in);
    z.avail_in = uInt(size);
    z.next_out = out.data() + start;
    z.avail_out = uInt(out.size() - start);
    if (status == Z_OK) {
        status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        if (last)
            status = status == Z_STREAM_END ? Z_OK : Z_BUF_ERROR;
        else if (status == Z_OK && (z.avail_in || !z.avail_out))
            status = Z_BUF_ERROR;
    }
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return status;
}

// The libdeflate levels the best compression tries filters at and deflates every chunk at: on
// sprite sheets the level of the trials hardly changes which filter wins (w6: 0.06 %), and the
// strongest level costs several times the time.
constexpr int kTrialLevel = 6;
constexpr int kStrongLevel = 12;

// Deflates size bytes from in as one whole raw deflate stream (libdeflate cannot be primed with
// the data before it), replacing out. False when the memory cannot be had.
bool deflateStrong(const uchar *in, size_t size, std::vector<uchar> &out, int level = kStrongLevel)
{
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(level);
    if (!compressor)
        return false;
    bool ok = true;
    try {
        out.resize(libdeflate_deflate_compress_bound(compressor, size));
        out.resize(libdeflate_deflate_compress(compressor, in, size, out.data(), out.size()));
        ok = !out.empty();
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    libdeflate_free_compressor(compressor);
    return ok;
}

// Ends a raw deflate stream whose last block ends at bit endBit with an empty stored block, as a
// sync flush does: the stream then ends on a byte's boundary and the next chunk's blocks follow.
void appendEmptyStoredBlock(std::vector<uchar> &deflated, size_t endBit)
{
    deflated.resize((endBit + 7) / 8);
    const int used = int(endBit % 8);
    if (used)
        deflated.back() &= uchar((1 << used) - 1);
    // The block's three header bits (not final, stored) are zeros: they fit in the last byte's
    // unused bits or need a byte of their own; then the length 0 and its complement.
    if (used == 0 || used > 5)
        deflated.push_back(0);
    deflated.insert(deflated.end(), {0x00, 0x00, 0xff, 0xff});
}

// Makes a whole raw deflate stream (as libdeflate ends every stream) one that others may follow:
// its last block loses the final-block bit and an empty stored block ends it. zlib's inflate,
// stopping at every block's end, tells where the last block starts and where the stream ends.
// False when the stream does not inflate.
bool openFinalBlock(std::vector<uchar> &deflated)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    std::vector<uchar> scratch(64 * 1024);
    z.next_in = deflated.data();
    z.avail_in = uInt(deflated.size());
    size_t lastHeader = 0, endBit = 0; // bit offsets; the first block's header is at bit 0
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = scratch.data();
        z.avail_out = uInt(scratch.size());
        status = inflate(&z, Z_BLOCK);
        // At a block's end data_type holds 128, plus 64 after the last one, plus the bits of
        // the last byte taken that are still unread.
        if (status == Z_OK && (z.data_type & 128)) {
            const size_t at = size_t(z.next_in - deflated.data()) * 8 - size_t(z.data_type & 7);
            if (z.data_type & 64)
                endBit = at;
            else
                lastHeader = at;
        }
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END || endBit == 0)
        return false;
    deflated[lastHeader / 8] &= uchar(~(1u << (lastHeader % 8)));
    appendEmptyStoredBlock(deflated, endBit);
    return true;
}

// Deflates size bytes from in with Zopfli, the window before them from dictionary, appended to
// out: ended by an empty stored block (a chunk that others follow) or as the stream's end.
// The most Zopfli takes for an input of size bytes (see pngWriterBytes()).
size_t zopfliBytes(size_t size)
{
    return size * 200 + (size_t(4) << 20);
}

// Zopfli ends the process with exit() when an allocation fails, and writes through a pointer
// that realloc() did not give. So its memory is asked for first, and given back, where a failure
// still means a message; and an exit while it runs is taken for that failure: the run's message,
// its staged files taken away, status 1, as any other run that memory stops.
std::atomic<int> zopfliRunning{0};

void zopfliOutOfMemory()
{
    if (zopfliRunning.load() == 0)
        return;
    const QString file = stagingNow();
    const QByteArray message = (QCoreApplication::applicationName() + QStringLiteral(": ")
                                + QCoreApplication::translate("picture", "Cannot write %1: %2")
                                      .arg(file.isEmpty() ? QStringLiteral("the sheet") : displayPath(file),
                                           QCoreApplication::translate("picture", "there is not enough memory to encode it"))
                                + u'\n').toUtf8();
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message.constData(), size_t(message.size()));
    discardStagedForExit();
    ::_exit(1);
}

class ZopfliRun
{
public:
    explicit ZopfliRun(size_t size)
    {
        static const bool watched = std::atexit(zopfliOutOfMemory) == 0;
        Q_UNUSED(watched)
        void *room = std::malloc(zopfliBytes(size));
        if (!room)
            throw std::bad_alloc();
        std::free(room);
        ++zopfliRunning;
    }
    ~ZopfliRun() { --zopfliRunning; }
    ZopfliRun(const ZopfliRun &) = delete;
    ZopfliRun &operator=(const ZopfliRun &) = delete;
};

void deflateZopfli(const uchar *in, size_t size, const std::vector<uchar> &dictionary, bool last, std::vector<uchar> &out)
{
    const ZopfliRun run(dictionary.size() + size);
    std::vector<uchar> joined(dictionary);
    joined.insert(joined.end(), in, in + size);
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    // As zopflipng does for large pictures: more rounds gain a few hundredths of a percent.
    options.numiterations = 5;
    uchar bit = 0;
    uchar *bytes = nullptr;
    size_t count = 0;
    ZopfliDeflatePart(&options, 2, last, joined.data(), dictionary.size(), joined.size(), &bit, &bytes, &count);
    std::vector<uchar> deflated(bytes, bytes + count);
    std::free(bytes);
    // bit is where the next bit would go in the last byte, 0 when that byte is full.
    if (!last)
        appendEmptyStoredBlock(deflated, bit ? (count - 1) * 8 + bit : count * 8);
    out.insert(out.end(), deflated.begin(), deflated.end());
}

} // namespace

PngLayout smallestLayout(const QImage &rgba, int rows)
{
    ColourTable colours;
    bool many = false, opaque = true, grey = true;
    for (int y = 0; y < rows; ++y) {
        const uchar *p = rgba.constScanLine(y);
        quint32 last = ~rgbaAt(p);
        for (int x = 0; x < rgba.width(); ++x, p += 4) {
            const quint32 v = rgbaAt(p);
            if (v == last)
                continue;
            last = v;
            opaque = opaque && p[3] == 255;
            grey = grey && p[0] == p[1] && p[1] == p[2];
            many = many || colours.indexOf(v) < 0;
        }
    }
    PngLayout layout;
    if (!many && !(grey && opaque && colours.count() > 16)) {
        layout.type = PngLayout::Palette;
        const int n = colours.count();
        layout.depth = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
        for (int i = 0; i < n; ++i)
            layout.palette.append(toQRgb(colours.at(i)));
        // Translucent entries first, so that tRNS lists only those.
        std::sort(layout.palette.begin(), layout.palette.end(), [](QRgb a, QRgb b) {
            const bool ta = qAlpha(a) != 255, tb = qAlpha(b) != 255;
            return ta != tb ? ta : a < b;
        });
        return layout;
    }
    layout.type = grey ? (opaque ? PngLayout::Grey : PngLayout::GreyAlpha) : (opaque ? PngLayout::Rgb : PngLayout::Rgba);
    return layout;
}

class PngEncoder
{
public:
    PngEncoder(SaveSink &sink, int width, int height, const PngLayout &layout, Compression compression);
    bool writeRows(const QImage &band, int first, int end);
    bool finish();
    QString error;       // empty when the sink failed: it knows why
    bool failed = false;

private:
    struct Job {
        const uchar *raw = nullptr;    // RGBA rows
        const uchar *above = nullptr;  // the RGBA row above them, or null at the top
        int rows = 0;
        bool first = false, last = false;
        std::vector<uchar> filtered;
        std::vector<uchar> dictionary;
        std::vector<uchar> out;        // the IDAT chunk's data
        std::vector<uchar> deflated;   // the best compression's chunk, deflated whole
        Deflation how;
        uLong adler = 1;
        int status = Z_OK;
    };

    bool fail(const QString &why);
    bool put(const char *type, const uchar *data, size_t size);
    bool putChunk(const char *type, const std::vector<uchar> &data) { return put(type, data.data(), data.size()); }
    void pack(const uchar *rgba, uchar *out) const;
    void filter(Job &job) const;
    void filterWith(Choice choice, const Job &job, int rows, std::vector<uchar> &out) const;
    bool encodePending(bool end);

    SaveSink &m_sink;
    int m_width;
    int m_height;
    PngLayout m_layout;
    Compression m_compression;
    ColourTable m_index;
    size_t m_rowBytes = 0; // packed, without the filter type byte
    size_t m_bpp = 1;      // bytes a filter looks back
    int m_chunkRows = 1;
    int m_threads = 1;
    Deflation m_matching; // what data with repeats gets

    std::vector<uchar> m_pending; // RGBA rows not yet encoded
    int m_pendingRows = 0;
    std::vector<uchar> m_above;   // the RGBA row above them
    std::vector<uchar> m_dictionary;
    int m_rowsDone = 0;
    uLong m_adler = 1;
};

PngEncoder::PngEncoder(SaveSink &sink, int width, int height, const PngLayout &layout, Compression compression)
    : m_sink(sink), m_width(width), m_height(height), m_layout(layout), m_compression(compression)
{
    static const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    const int bits = channels[layout.type] * layout.depth;
    m_rowBytes = (size_t(width) * size_t(bits) + 7) / 8;
    m_bpp = std::max<size_t>(1, size_t(bits) / 8);
    m_chunkRows = int(std::clamp<size_t>(kChunkBytes / (m_rowBytes + 1), 1, size_t(std::max(1, height))));
    m_threads = coreCount();
    for (QRgb c : layout.palette) {
        const uchar bytes[4] = {uchar(qRed(c)), uchar(qGreen(c)), uchar(qBlue(c)), uchar(qAlpha(c))};
        m_index.indexOf(rgbaAt(bytes));
    }
    static const Deflation matching[] = {{2, Z_DEFAULT_STRATEGY}, {8, Z_DEFAULT_STRATEGY}, {9, Z_DEFAULT_STRATEGY},
                                         {9, Z_DEFAULT_STRATEGY}};
    m_matching = matching[int(compression)];
    const bool indexed = layout.type == PngLayout::Palette;

    if (width <= 0 || height <= 0) {
        fail(tr("a PNG cannot be %1 x %2 pixels").arg(width).arg(height));
        return;
    }
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (!m_sink.write(reinterpret_cast<const char *>(signature), 8)) {
        fail({});
        return;
    }
    uchar ihdr[13] = {};
    put32(ihdr, quint32(width));
    put32(ihdr + 4, quint32(height));
    ihdr[8] = uchar(layout.depth);
    ihdr[9] = uchar(layout.type);
    if (!put("IHDR", ihdr, sizeof ihdr))
        return;
    if (indexed) {
        std::vector<uchar> plte, trns;
        for (QRgb c : layout.palette) {
            plte.insert(plte.end(), {uchar(qRed(c)), uchar(qGreen(c)), uchar(qBlue(c))});
            if (qAlpha(c) != 255)
                trns.push_back(uchar(qAlpha(c)));
        }
        if (!putChunk("PLTE", plte) || (!trns.empty() && !putChunk("tRNS", trns)))
            return;
    }
}

bool PngEncoder::fail(const QString &why)
{
    if (!failed)
        error = why;
    failed = true;
    return false;
}

bool PngEncoder::put(const char *type, const uchar *data, size_t size)
{
    uchar head[8];
    put32(head, quint32(size));
    std::memcpy(head + 4, type, 4);
    uchar tail[4];
    // zlib takes a null buffer as a request for the initial value.
    put32(tail, quint32(size ? crc32(crc32(0, head + 4, 4), data, uInt(size)) : crc32(0, head + 4, 4)));
    const SaveSink::Part parts[] = {{reinterpret_cast<const char *>(head), 8},
                                    {reinterpret_cast<const char *>(data), qint64(size)},
                                    {reinterpret_cast<const char *>(tail), 4}};
    return m_sink.write(parts) || fail({});
}

void PngEncoder::pack(const uchar *rgba, uchar *out) const
{
    const int w = m_width;
    switch (m_layout.type) {
    case PngLayout::Rgba:
        std::memcpy(out, rgba, size_t(w) * 4);
        break;
    case PngLayout::Rgb:
        for (int x = 0; x < w; ++x, rgba += 4, out += 3) {
            out[0] = rgba[0];
            out[1] = rgba[1];
            out[2] = rgba[2];
        }
        break;
    case PngLayout::GreyAlpha:
        for (int x = 0; x < w; ++x, rgba += 4, out += 2) {
            out[0] = rgba[0];
            out[1] = rgba[3];
        }
        break;
    case PngLayout::Grey:
        for (int x = 0; x < w; ++x, rgba += 4)
            *out++ = rgba[0];
        break;
    case PngLayout::Palette: {
        const int depth = m_layout.depth;
        const int perByte = 8 / depth;
        std::memset(out, 0, m_rowBytes);
        quint32 last = ~rgbaAt(rgba);
        int index = 0;
        for (int x = 0; x < w; ++x, rgba += 4) {
            const quint32 v = rgbaAt(rgba);
            if (v != last) {
                last = v;
                index = m_index.find(v);
            }
            out[x / perByte] |= uchar(index << (8 - depth - (x % perByte) * depth));
        }
        break;
    }
    }
}

void PngEncoder::filterWith(Choice choice, const Job &job, int rows, std::vector<uchar> &out) const
{
    const size_t n = m_rowBytes;
    out.resize(size_t(rows) * (n + 1));
    std::vector<uchar> prev(n, 0), row(n), trial(choice == Choice::Adaptive ? n : 0);
    if (job.above)
        pack(job.above, prev.data());
    const size_t stride = size_t(m_width) * 4;
    for (int y = 0; y < rows; ++y) {
        pack(job.raw + size_t(y) * stride, row.data());
        uchar *dst = out.data() + size_t(y) * (n + 1);
        int type = int(choice);
        if (choice == Choice::Adaptive) {
            size_t best = SIZE_MAX;
            for (int t = 0; t < 5; ++t) {
                filterRow(t, row.data(), prev.data(), trial.data(), n, m_bpp);
                const size_t sum = absoluteSum(trial.data(), n);
                if (sum < best) {
                    best = sum;
                    type = t;
                    std::memcpy(dst + 1, trial.data(), n);
                }
            }
        } else {
            filterRow(type, row.data(), prev.data(), dst + 1, n, m_bpp);
        }
        dst[0] = uchar(type);
        std::swap(prev, row);
    }
}

// Filters the chunk's rows and chooses how to deflate them, from trials on its first rows.
// Sprite art deflates best unfiltered: long repeats of the same pixels, which any filter breaks
// up (trials at the fast level favour Paeth by a little on some parts, which the final level
// undoes, so Paeth must win by a fifth). Where Huffman coding alone after Paeth does as well as
// the fastest search for repeats, a photograph's noise, it is taken: the search finds next to
// nothing there and costs several times the time. The best compression and the maximum try
// every filter and the per-row choice on the whole chunk with libdeflate and keep the smallest,
// which the best deflates at libdeflate's strongest level and the maximum with Zopfli.
void PngEncoder::filter(Job &job) const
{
    std::vector<uchar> candidate, scratch;
    if (m_compression == Compression::Best || m_compression == Compression::Max) {
        size_t best = SIZE_MAX;
        for (Choice c : {Choice::None, Choice::Sub, Choice::Up, Choice::Average, Choice::Paeth, Choice::Adaptive}) {
            filterWith(c, job, job.rows, candidate);
            if (!deflateStrong(candidate.data(), candidate.size(), scratch, kTrialLevel))
                throw std::bad_alloc();
            if (scratch.size() < best) {
                best = scratch.size();
                std::swap(job.filtered, candidate);
                std::swap(job.deflated, scratch);
            }
        }
        if (m_compression == Compression::Max)
            job.deflated = {};
        else if (!deflateStrong(job.filtered.data(), job.filtered.size(), job.deflated))
            throw std::bad_alloc();
        return;
    }
    constexpr size_t sampleBytes = 16 * 1024;
    const int sampleRows = int(std::clamp<size_t>(sampleBytes / (m_rowBytes + 1), 1, size_t(job.rows)));
    auto trialSize = [&](Deflation how) {
        scratch.clear();
        return deflateChunk(candidate.data(), candidate.size(), nullptr, 0, how, true, scratch) == Z_OK ? scratch.size() : SIZE_MAX;
    };
    filterWith(Choice::None, job, sampleRows, candidate);
    const size_t plain = trialSize({1, Z_DEFAULT_STRATEGY});
    filterWith(Choice::Paeth, job, sampleRows, candidate);
    const size_t huffman = trialSize({1, Z_HUFFMAN_ONLY});
    const size_t paeth = trialSize({1, Z_DEFAULT_STRATEGY});
    const bool noisy = huffman <= plain && huffman <= paeth;
    job.how = noisy ? Deflation{1, Z_HUFFMAN_ONLY} : m_matching;
    filterWith(noisy || paeth * 5 < plain * 4 ? Choice::Paeth : Choice::None, job, job.rows, job.filtered);
}

bool PngEncoder::encodePending(bool end)
{
    const int count = end ? (m_pendingRows + m_chunkRows - 1) / m_chunkRows : m_pendingRows / m_chunkRows;
    if (count == 0)
        return true;
    const size_t stride = size_t(m_width) * 4;
    std::vector<Job> jobs(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Job &job = jobs[size_t(i)];
        job.raw = m_pending.data() + size_t(i) * size_t(m_chunkRows) * stride;
        job.above = i ? job.raw - stride : (m_above.empty() ? nullptr : m_above.data());
        job.rows = std::min(m_chunkRows, m_pendingRows - i * m_chunkRows);
        job.first = m_rowsDone == 0 && i == 0;
        job.last = end && i == count - 1;
    }
    const int threads = std::min(m_threads, count);
    std::atomic<int> next{0};
    std::atomic<bool> outOfMemory{false};
    picture::runOnThreads(threads, [&] {
        for (int i; (i = next.fetch_add(1)) < count;) {
            try {
                filter(jobs[size_t(i)]);
            } catch (const std::bad_alloc &) {
                outOfMemory = true;
            }
        }
    });
    if (outOfMemory)
        return fail(tr("there is not enough memory to encode it"));
    // Each chunk is primed with the last 32 KB of the filtered bytes before it.
    std::vector<uchar> window = m_dictionary;
    for (Job &job : jobs) {
        job.dictionary = window;
        window.insert(window.end(), job.filtered.begin(), job.filtered.end());
        if (window.size() > kWindow)
            window.erase(window.begin(), window.end() - kWindow);
    }
    next = 0;
    picture::runOnThreads(threads, [&] {
        for (int i; (i = next.fetch_add(1)) < count;) {
            Job &job = jobs[size_t(i)];
            if (job.first) {
                // The zlib header: deflate, a 32 KB window, the level class, no dictionary.
                const int level = m_matching.level;
                const int flevel = level == 1 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
                const int cmf = 0x78, flg = flevel << 6;
                job.out = {uchar(cmf), uchar(flg + 31 - (cmf * 256 + flg) % 31)};
            }
            try {
                if (m_compression == Compression::Best) {
                    job.status = job.last || openFinalBlock(job.deflated) ? Z_OK : Z_STREAM_ERROR;
                    job.out.insert(job.out.end(), job.deflated.begin(), job.deflated.end());
                } else if (m_compression == Compression::Max) {
                    deflateZopfli(job.filtered.data(), job.filtered.size(), job.dictionary, job.last, job.out);
                } else {
                    job.status = deflateChunk(job.filtered.data(), job.filtered.size(), job.dictionary.data(),
                                              job.dictionary.size(), job.how, job.last, job.out);
                }
            } catch (const std::bad_alloc &) {
                job.status = Z_MEM_ERROR;
            }
            job.adler = adler32(1, job.filtered.data(), uInt(job.filtered.size()));
        }
    });
    for (Job &job : jobs) {
        if (job.status == Z_MEM_ERROR)
            return fail(tr("there is not enough memory to encode it"));
        if (job.status != Z_OK)
            return fail(tr("the compressor failed (%1)").arg(job.status));
        m_adler = adler32_combine(m_adler, job.adler, z_off_t(job.filtered.size()));
        if (job.last) {
            uchar trailer[4];
            put32(trailer, quint32(m_adler));
            job.out.insert(job.out.end(), trailer, trailer + 4);
        }
        if (!putChunk("IDAT", job.out))
            return false;
    }
    m_dictionary = std::move(window);
    const int done = std::min(m_pendingRows, count * m_chunkRows);
    m_above.assign(m_pending.data() + size_t(done - 1) * stride, m_pending.data() + size_t(done) * stride);
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(size_t(done) * stride));
    m_pendingRows -= done;
    m_rowsDone += done;
    if (end && !put("IEND", nullptr, 0))
        return false;
    return true;
}

bool PngEncoder::writeRows(const QImage &band, int first, int end)
{
    if (failed)
        return false;
    if (end - first > m_height - m_rowsDone - m_pendingRows)
        return fail(tr("more rows were given than the picture has"));
    const size_t stride = size_t(m_width) * 4;
    try {
        // A few chunks for every core at a time, so that what waits stays small.
        for (int y = first; y < end; ++y) {
            const uchar *row = band.constScanLine(y);
            m_pending.insert(m_pending.end(), row, row + stride);
            ++m_pendingRows;
            const bool complete = m_rowsDone + m_pendingRows == m_height;
            if ((complete || m_pendingRows >= 2 * m_threads * m_chunkRows) && !encodePending(complete))
                return false;
        }
    } catch (const std::bad_alloc &) {
        return fail(tr("there is not enough memory to encode it"));
    }
    return true;
}

bool PngEncoder::finish()
{
    if (!failed && m_rowsDone != m_height)
        return fail(tr("the picture ended after %1 of its %2 rows").arg(m_rowsDone + m_pendingRows).arg(m_height));
    return !failed;
}

qint64 pngWriterBytes(int width, Compression compression)
{
    const qint64 chunk = std::max<qint64>(qint64(kChunkBytes), qint64(width) * 4 + 1);
    const qint64 threads = coreCount();
    // Waiting rows: two chunks a core, twice over while their buffer grows; a core's chunks:
    // raw, filtered, a trial, its scratch and the deflated bytes.
    qint64 bytes = (4 * threads + 1) * chunk + 2 * threads * 4 * chunk;
    if (compression == Compression::Max) {
        // Zopfli holds, for each byte of its input (the chunk after its 32 KB window), its
        // longest-match cache (28 bytes) and cost arrays (10), and for each symbol found up to
        // five LZ77 stores of 32 bytes (the first pass, the best and current trials of a block,
        // the block's and the whole input's), every byte a symbol at worst; its hash tables take
        // under a megabyte. Measured: 50 to 57 MB for a 544 KB input of noise, under this bound.
        bytes += threads * qint64(zopfliBytes(size_t(chunk) + kWindow));
    }
    return bytes;
}

PngWriter::PngWriter(SaveSink &sink, int width, int height, const PngLayout &layout, Compression compression)
    : m_encoder(std::make_unique<PngEncoder>(sink, width, height, layout, compression))
{
}

PngWriter::~PngWriter() = default;

bool PngWriter::writeRows(const QImage &band, int first, int end)
{
    return m_encoder->writeRows(band, first, end);
}

bool PngWriter::finish()
{
    return m_encoder->finish();
}

QString PngWriter::error() const
{
    return m_encoder->error;
}

} // namespace picture
