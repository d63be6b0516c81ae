#include "picture/source/headers.h"

#include "picture/codecs/apng.h"
#include "picture/codecs/aseprite.h"
#include "picture/base/bytes.h"
#include "picture/codecs/pngchunks.h"
#include "picture/codecs/gif.h"
#include "picture/codecs/webp.h"

#include <QtAlgorithms>
#include <QtEndian>

#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace picture {

Header damaged(Header h, const QString &cause)
{
    h.error = LoadError::Damaged;
    h.cause = cause;
    return h;
}

namespace {

Header unsupported(Header h, const QString &cause)
{
    h.error = LoadError::NotAPicture;
    h.cause = cause;
    return h;
}

// Bytes of one stored row of a bitmap: rows are padded to four bytes.
qint64 bmpRowBytes(qint64 width, int bitCount) { return (width * bitCount + 31) / 32 * 4; }

// An RLE stream is complete when it reaches its end-of-bitmap code or has covered every row.
bool rleComplete(const Bytes &b, qint64 pos, qint64 height, bool rle4)
{
    qint64 y = 0;
    while (b.has(pos, 2)) {
        const uchar count = b.u8(pos);
        const uchar code = b.u8(pos + 1);
        pos += 2;
        if (count > 0)
            continue;
        switch (code) {
        case 0: // end of line
            if (++y >= height)
                return true;
            break;
        case 1: // end of bitmap
            return true;
        case 2: // move by (dx, dy)
            if (!b.has(pos, 2))
                return false;
            y += b.u8(pos + 1);
            pos += 2;
            if (y >= height)
                return true;
            break;
        default: { // a literal run, padded to a 16-bit boundary
            qint64 bytes = rle4 ? (code + 1) / 2 : code;
            bytes = (bytes + 1) & ~qint64(1);
            if (!b.has(pos, bytes))
                return false;
            pos += bytes;
        }
        }
    }
    return false;
}

Header readBmp(const Bytes &b, Header h, qint64 fileSize)
{
    if (!b.has(0, 18))
        return damaged(h, QStringLiteral("it ends inside its header"));
    const quint32 pixelOffset = b.le32(10);
    const quint32 infoSize = b.le32(14);
    if (infoSize != 12 && infoSize < 16)
        return damaged(h, QStringLiteral("its header has an impossible size of %1 bytes").arg(infoSize));
    if (!b.has(14, infoSize))
        return damaged(h, QStringLiteral("it ends inside its header"));

    qint64 width = 0;
    qint64 height = 0;
    int planes = 0;
    int bitCount = 0;
    quint32 compression = 0;
    quint32 colorsUsed = 0;
    if (infoSize == 12) { // OS/2 core header: 16-bit sizes, always bottom-up
        width = b.le16(18);
        height = b.le16(20);
        planes = b.le16(22);
        bitCount = b.le16(24);
    } else {
        width = b.les32(18);
        height = b.les32(22);
        planes = b.le16(26);
        bitCount = b.le16(28);
        if (infoSize >= 20)
            compression = b.le32(30);
        if (infoSize >= 36)
            colorsUsed = b.le32(46);
    }
    h.width = width;
    h.height = std::abs(height);

    switch (infoSize) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124:
        break;
    case 16:
        return unsupported(h, QStringLiteral("a BMP with a %1-byte header, which this program cannot read").arg(infoSize));
    default:
        return damaged(h, QStringLiteral("its header has an unknown size of %1 bytes").arg(infoSize));
    }
    enum { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3, Jpeg = 4, Png = 5, AlphaBitFields = 6 };
    // These hold another format inside and carry no meaningful bit count: say what they are.
    if (compression == Jpeg || compression == Png)
        return unsupported(h, QStringLiteral("a BMP holding a %1 picture, which this program cannot read")
                                  .arg(compression == Jpeg ? QStringLiteral("JPEG") : QStringLiteral("PNG")));
    if (planes != 1)
        return damaged(h, QStringLiteral("its header gives %1 colour planes instead of 1").arg(planes));
    if (width <= 0 || height == 0)
        return damaged(h, QStringLiteral("its header declares %1 x %2 pixels").arg(width).arg(height));
    switch (bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32:
        break;
    case 2:
        return unsupported(h, QStringLiteral("a BMP with 2 bits a pixel, which this program cannot read"));
    default:
        return damaged(h, QStringLiteral("its header gives %1 bits a pixel").arg(bitCount));
    }
    switch (compression) {
    case Rgb:
        break;
    case Rle8:
    case Rle4:
        if (bitCount != (compression == Rle8 ? 8 : 4))
            return damaged(h, QStringLiteral("its compression does not match its %1 bits a pixel").arg(bitCount));
        break;
    case BitFields:
        if (bitCount != 16 && bitCount != 32)
            return damaged(h, QStringLiteral("its bit fields do not match its %1 bits a pixel").arg(bitCount));
        break;
    case AlphaBitFields:
        return unsupported(h, QStringLiteral("a BMP with alpha bit fields, which this program cannot read"));
    default:
        return damaged(h, QStringLiteral("its header gives an unknown compression (%1)").arg(compression));
    }
    const qint64 paletteMax = bitCount <= 8 ? qint64(1) << bitCount : 256;
    if (colorsUsed > paletteMax && bitCount <= 8)
        return damaged(h, QStringLiteral("its palette of %1 colours is larger than %2 bits a pixel allow")
                              .arg(colorsUsed).arg(bitCount));

    // OS/2 bitmaps have no colour count: a pixel offset short of a full palette means a short
    // palette, which Qt misreads as a full one.
    if (infoSize == 12 && bitCount <= 8 && pixelOffset > 0 && pixelOffset < 14 + 12 + 3 * paletteMax)
        return unsupported(h, QStringLiteral("an OS/2 BMP with a short palette, which this program cannot read"));

    if (bitCount == 16 || compression == BitFields) {
        quint32 masks[3] = {0x7c00, 0x03e0, 0x001f};
        if (compression == BitFields) {
            if (!b.has(54, 12))
                return damaged(h, QStringLiteral("it ends inside its header"));
            for (int i = 0; i < 3; ++i)
                masks[i] = b.le32(54 + 4 * i);
        }
        for (int i = 0; i < 3; ++i) {
            const int bits = qPopulationCount(masks[i]);
            h.bmpChannelBits[i] = bits > 0 && bits < 8 ? bits : 0;
        }
    }

    // Where the pixels start: the header's offset, unless it points back into the header.
    qint64 start = pixelOffset;
    if (start < 14 + qint64(infoSize)) {
        const qint64 entry = infoSize == 12 ? 3 : 4;
        const qint64 colours = bitCount <= 8 ? (colorsUsed ? colorsUsed : paletteMax) : 0;
        const qint64 masks = infoSize == 40 && compression == BitFields ? 12 : 0;
        start = 14 + qint64(infoSize) + masks + colours * entry;
    }

    // Far-fetched sizes are refused by the budget before this matters; stay clear of overflow anyway.
    if (h.width > (qint64(1) << 31) || h.height > (qint64(1) << 31))
        return h;
    if (compression == Rle8 || compression == Rle4) {
        h.rle.bits = bitCount;
        h.rle.paletteStart = 14 + qint64(infoSize);
        h.rle.paletteEntry = infoSize == 12 ? 3 : 4;
        h.rle.paletteColours = int(colorsUsed ? colorsUsed : paletteMax);
        h.rle.pixelStart = start;
        h.rle.topDown = height < 0;
        if (!rleComplete(b, start, h.height, compression == Rle4))
            h.incomplete = endsEarly();
    } else {
        const qint64 row = bmpRowBytes(h.width, bitCount);
        const qint64 size = fileSize >= 0 ? fileSize : b.size();
        if (start > size || (size - start) / row < h.height)
            h.incomplete = endsEarly();
    }
    return h;
}

// Walks the chunks of a PNG embedded at [pos, end): complete when it reaches IEND, every chunk
// up to it (IEND too) whole. Adds up the compressed picture data (IDAT) on the way.
bool pngComplete(const Bytes &b, qint64 pos, qint64 end, qint64 *compressed)
{
    *compressed = 0;
    PngChunks chunks(b, pos, end);
    for (PngChunk c; chunks.next(&c);) {
        if (c.is("IEND"))
            return true;
        if (c.is("IDAT"))
            *compressed += c.length;
    }
    return false;
}

// Bytes of filtered pixel data a PNG of this size needs at the least, at most the largest
// qint64; 0 for an unknown kind. Sides up to 2^31 pixels.
qint64 pngRawBytes(qint64 width, qint64 height, int bitDepth, int colourType)
{
    if (bitDepth != 1 && bitDepth != 2 && bitDepth != 4 && bitDepth != 8 && bitDepth != 16)
        return 0;
    int channels = 0;
    switch (colourType) {
    case 0: case 3: channels = 1; break;
    case 4: channels = 2; break;
    case 2: channels = 3; break;
    case 6: channels = 4; break;
    default: return 0;
    }
    const qint64 row = (width * channels * bitDepth + 7) / 8 + 1; // at most 64 bits a pixel: no overflow
    if (height > 0 && row > std::numeric_limits<qint64>::max() / height)
        return std::numeric_limits<qint64>::max();
    return height * row;
}

// A PNG at [offset, offset + bytes): its declared size, and whether its chunks reach IEND with
// enough compressed data for that size.
Header readPngAt(const Bytes &b, Header h, qint64 offset, qint64 bytes)
{
    if (!b.has(offset, 24))
        return damaged(h, QStringLiteral("it ends inside its first picture's header"));
    h.width = b.be32(offset + 16);
    h.height = b.be32(offset + 20);
    if (h.width == 0 || h.height == 0)
        return damaged(h, QStringLiteral("its first picture declares %1 x %2 pixels").arg(h.width).arg(h.height));
    qint64 compressed = 0;
    if (!b.has(offset, bytes) || !pngComplete(b, offset, offset + bytes, &compressed)) {
        h.incomplete = endsEarly();
        return h;
    }
    // Deflate shrinks data 1032 times at the very most: less than that cannot hold the
    // pixels, and would have the decoder allocate the whole picture for nothing.
    if (h.width <= (qint64(1) << 31) && h.height <= (qint64(1) << 31)
        && compressed * 1032 < pngRawBytes(h.width, h.height, b.u8(offset + 24), b.u8(offset + 25)))
        h.incomplete = QStringLiteral("its picture data is too short for %1 x %2 pixels").arg(h.width).arg(h.height);
    return h;
}

// The tRNS colour key of a 16-bit RGB PNG, or of a grey one, at [pos, end), from the chunks
// before its data.
void readPngKey(const Bytes &b, qint64 pos, qint64 end, Header &h)
{
    if (!b.has(pos, 26))
        return;
    const int depth = b.u8(pos + 24), type = b.u8(pos + 25);
    const bool rgb16 = depth == 16 && type == 2, grey = type == 0;
    if (!rgb16 && !grey)
        return;
    PngChunks chunks(b, pos, end);
    for (PngChunk c; chunks.next(&c) && !c.is("IDAT");) {
        if (c.is("tRNS") && c.length == (rgb16 ? 6 : 2)) {
            const qint64 at = c.data();
            if (grey) {
                h.pngKeyGrey = (b.u8(at) << 8 | b.u8(at + 1)) & ((1 << depth) - 1);
                h.pngKeyDepth = depth;
            } else {
                for (int i = 0; i < 3; ++i)
                    h.pngKey16[i] = b.u8(at + 2 * i) << 8 | b.u8(at + 1 + 2 * i);
            }
            h.pngKeyChunk = c.pos;
            return;
        }
    }
}

// A PNG file of its own: IHDR must come first.
Header readPng(const Bytes &b, Header h)
{
    if (!b.startsWith(12, "IHDR", 4) || b.be32(8) != 13)
        return damaged(h, QStringLiteral("its header chunk is missing"));
    h.otherWidth = b.be32(16);
    h.otherHeight = b.be32(20);
    readPngKey(b, 0, b.size(), h);
    return readPngAt(b, h, 0, b.size());
}

Header readIco(const Bytes &b, Header h)
{
    if (!b.has(0, 6 + 16))
        return damaged(h, QStringLiteral("it ends inside its directory"));
    if (b.le16(4) == 0)
        return damaged(h, QStringLiteral("it holds no picture"));
    h.otherWidth = b.u8(6) ? b.u8(6) : 256;
    h.otherHeight = b.u8(7) ? b.u8(7) : 256;
    const qint64 bytes = b.le32(6 + 8);
    const qint64 offset = b.le32(6 + 12);
    if (b.startsWith(offset, "\x89PNG\r\n\x1a\n", 8))
        return readPngAt(b, h, offset, bytes);
    if (!b.has(offset, 16))
        return damaged(h, QStringLiteral("it ends inside its first picture's header"));
    const quint32 infoSize = b.le32(offset);
    if (infoSize < 40 || !b.has(offset, infoSize))
        return damaged(h, QStringLiteral("its first picture has a damaged header"));
    // The bitmap height counts the colour rows and the transparency mask below them.
    const qint64 width = b.les32(offset + 4);
    const qint64 height = std::abs(qint64(b.les32(offset + 8))) / 2;
    const int bitCount = b.le16(offset + 14);
    const quint32 colorsUsed = b.le32(offset + 32);
    h.width = width;
    h.height = height;
    if (width <= 0 || height <= 0)
        return damaged(h, QStringLiteral("its first picture declares %1 x %2 pixels").arg(width).arg(height));
    switch (bitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32:
        break;
    default:
        return damaged(h, QStringLiteral("its first picture gives %1 bits a pixel").arg(bitCount));
    }
    if (width > 4096 || height > 4096) // the budget refuses these; keep the sums below small
        return h;
    const qint64 colours = bitCount <= 8 ? (colorsUsed ? colorsUsed : qint64(1) << bitCount) : 0;
    const qint64 need = infoSize + colours * 4 + bmpRowBytes(width, bitCount) * height + bmpRowBytes(width, 1) * height;
    if (!b.has(offset, bytes) || !b.has(offset, need)) {
        h.incomplete = endsEarly();
    } else if (bitCount == 32 && b.le32(offset + 16) == 0) {
        h.iconPixels = offset + infoSize;
        h.iconMask = h.iconPixels + bmpRowBytes(width, 32) * height;
        h.iconTopDown = b.les32(offset + 8) < 0;
    }
    return h;
}

Header readJpeg(const Bytes &b, Header h)
{
    qint64 pos = 2;
    for (;;) {
        // Decoders skip stray bytes between segments, so the header walk does too.
        while (b.has(pos, 1) && b.u8(pos) != 0xff)
            ++pos;
        while (b.has(pos, 1) && b.u8(pos) == 0xff)
            ++pos;
        if (!b.has(pos, 1))
            return damaged(h, QStringLiteral("it ends before its frame header"));
        const uchar marker = b.u8(pos++);
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8))
            continue; // no length follows
        if (marker == 0xd9 || marker == 0xda)
            return damaged(h, QStringLiteral("it has no frame header"));
        if (!b.has(pos, 2))
            return damaged(h, QStringLiteral("it ends before its frame header"));
        const qint64 length = b.be16(pos);
        if (length < 2)
            return damaged(h, QStringLiteral("a segment of its header has an impossible length"));
        const bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (!frame) {
            pos += length;
            continue;
        }
        if (!b.has(pos, 8))
            return damaged(h, QStringLiteral("it ends inside its frame header"));
        h.jpegPrecision = b.u8(pos + 2);
        h.height = b.be16(pos + 3);
        h.width = b.be16(pos + 5);
        h.jpegProgressive = marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce;
        const bool lossless = marker == 0xc3 || marker == 0xc7 || marker == 0xcb || marker == 0xcf;
        const bool hierarchical = marker == 0xc5 || marker == 0xc6 || marker == 0xc7 || marker >= 0xcd;
        if (lossless || hierarchical)
            return unsupported(h, QStringLiteral("a %1 JPEG, which this program cannot read")
                                      .arg(lossless ? QStringLiteral("lossless") : QStringLiteral("hierarchical")));
        if (h.jpegPrecision != 8)
            return unsupported(h, QStringLiteral("a %1-bit JPEG, which this program cannot read").arg(h.jpegPrecision));
        if (h.width == 0 || h.height == 0)
            return damaged(h, QStringLiteral("its header declares %1 x %2 pixels").arg(h.width).arg(h.height));
        return h;
    }
}

} // namespace

Header readHeader(const QByteArray &data, Format format, qint64 fileSize)
{
    const Bytes bytes(data);
    Header h;
    h.format = format;
    switch (format) {
    case Format::Bmp:
        return readBmp(bytes, h, fileSize);
    case Format::Gif:
        return readGif(data, h);
    case Format::Ico:
        return readIco(bytes, h);
    case Format::Jpeg:
        return readJpeg(bytes, h);
    case Format::Png: {
        Header png = readPng(bytes, h);
        if (png.error == LoadError::None)
            readApngControl(data, png);
        return png;
    }
    case Format::Webp:
        return readWebp(data, h);
    case Format::Aseprite:
        return readAseprite(data, h);
    case Format::Unknown:
        break;
    }
    return unsupported(h, QString());
}

bool isPlainBmp(const QByteArray &data)
{
    const Bytes b(data);
    if (!b.startsWith(0, "BM", 2) || !b.has(14, 4))
        return false;
    const quint32 infoSize = b.le32(14);
    if (infoSize == 12)
        return true;
    // Qt reads the 52- and 56-byte headers only as they are rewritten in memory.
    if (infoSize < 20 || infoSize == 52 || infoSize == 56 || !b.has(30, 4))
        return false;
    const quint32 compression = b.le32(30);
    return compression == 0 || compression == 3;
}

} // namespace picture
